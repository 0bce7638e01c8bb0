#pragma once

// While a DeferredDefaults scope is open on a thread, the defaults that
// reads of that thread would store for missing values are collected
// instead, so a whole load can read from one snapshot of the store and
// store what was missing afterwards, in one short write.

#include <optional>
#include <string>
#include <vector>

#include "kvplatform/base/Result.h"

namespace kv {

struct PendingDefault {
  std::string name;
  std::optional<std::string> seen;  // what the store held (nullopt: nothing)
  std::string data;                 // what to store, unless it changed since
};

class DeferredDefaults {
 public:
  DeferredDefaults();
  ~DeferredDefaults();
  DeferredDefaults(const DeferredDefaults&) = delete;
  DeferredDefaults& operator=(const DeferredDefaults&) = delete;

  // The open scope of this thread, or null.
  static DeferredDefaults* Current();

  // Records a default; a later record for the same name replaces its data.
  void Record(std::string_view name, const std::optional<std::string>& seen, std::string_view data);

  // Closes the scope and stores what it collected, in one transaction. A
  // value that another program has set meanwhile is left as it is.
  [[nodiscard]] Status Flush();

 private:
  std::vector<PendingDefault> pending_;
  DeferredDefaults* outer_;
  bool open_ = true;
};

}  // namespace kv
