#include "DeferredDefaults.h"

#include "kvplatform/store/Store.h"
#include "kvshared/CStatics.h"
#include "kvshared/Funcs.h"

namespace kv {
namespace {

DeferredDefaults*& CurrentDeferral() {
  thread_local DeferredDefaults* current = nullptr;
  return current;
}

}  // namespace

DeferredDefaults::DeferredDefaults() : outer_(CurrentDeferral()) { CurrentDeferral() = this; }

DeferredDefaults::~DeferredDefaults() {
  if (open_) CurrentDeferral() = outer_;
}

DeferredDefaults* DeferredDefaults::Current() { return CurrentDeferral(); }

void DeferredDefaults::Record(std::string_view name, const std::optional<std::string>& seen, std::string_view data) {
  for (PendingDefault& pending : pending_) {
    if (pending.name == name) {
      pending.data = std::string(data);
      return;
    }
  }
  pending_.push_back({std::string(name), seen, std::string(data)});
}

Status DeferredDefaults::Flush() {
  CurrentDeferral() = outer_;
  open_ = false;
  if (pending_.empty()) return Ok();
  KV_TRY_ASSIGN(platform::RegistryKey * key, OpenSettingsKey(CStatics::REGAPPLICATION, CStatics::REGSECTION));
  KV_TRY_ASSIGN(platform::Transaction transaction, key->BeginTransaction());
  for (const PendingDefault& pending : pending_) KV_TRY(key->CompareAndSet(pending.name, pending.seen, pending.data));
  return transaction.Commit();
}

}  // namespace kv
