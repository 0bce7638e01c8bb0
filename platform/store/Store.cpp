#include <sqlite3.h>
#include <sys/stat.h>

#include <string>

#include "StoreImpl.h"
#include "kvplatform/store/Store.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

// The paths below `key` are those from key + "\\" up to, not including,
// key + "]" (the character after the backslash): a range the case-blind
// index answers directly, however many keys the store holds.
std::pair<std::string, std::string> BelowRange(const std::string& key) { return {key + "\\", key + "]"}; }

}  // namespace

std::string NormalizeKeyPath(std::string_view path) {
  std::string result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      if (!result.empty()) result += '\\';
      result.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return result;
}

std::unexpected<Error> Store::Impl::Failure(int rc) {
  // A damaged file is kept exactly as it is, with a log that holds
  // anything, however the damage came to light.
  struct stat log {};
  if (StoreErrorCode(rc) == ErrorCode::Corrupt && ::stat((file.string() + "-wal").c_str(), &log) == 0 && log.st_size > 0) {
    Preserve(true);
  }
  if (fullDisk && (rc & 0xff) == SQLITE_READONLY) {
    return Fail("the settings store " + file.string() + " cannot be written: the disk is full; free some space on it");
  }
  return Fail(StoreErrorCode(rc), DescribeStoreFailure(file, rc, db.get()));
}

Result<Statement> Store::Impl::Prepare(const char* sql) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db.get(), sql, -1, &raw, nullptr);
  if (rc != SQLITE_OK) return Failure(rc);
  return Statement(raw);
}

void Store::Impl::Bind(sqlite3_stmt* statement, int index, std::string_view text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

Result<int> Store::Impl::Run(const char* sql, std::initializer_list<std::string_view> args) {
  KV_TRY_ASSIGN(Statement statement, Prepare(sql));
  int index = 1;
  for (std::string_view arg : args) Bind(statement.get(), index++, arg);
  int rc = sqlite3_step(statement.get());
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) return Failure(rc);
  return sqlite3_changes(db.get());
}

Result<std::string> Store::Impl::Text(const char* sql) {
  KV_TRY_ASSIGN(Statement statement, Prepare(sql));
  int rc = sqlite3_step(statement.get());
  if (rc != SQLITE_ROW) return Failure(rc);
  auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
  return std::string(text ? text : "");
}

Status Store::Impl::Exec(const char* sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db.get(), sql, nullptr, nullptr, &message);
  sqlite3_free(message);
  if (rc != SQLITE_OK) return Failure(rc);
  return Ok();
}

Status Store::Impl::EnsureKey(const std::string& path) {
  size_t position = 0;
  while (true) {
    position = path.find('\\', position);
    std::string prefix = path.substr(0, position);
    KV_TRY(Run("INSERT INTO keys(path) VALUES(?1) ON CONFLICT DO NOTHING", {prefix}));
    if (position == std::string::npos) break;
    ++position;
  }
  return Ok();
}

Result<bool> Store::Impl::KeyExists(const std::string& path) {
  KV_TRY_ASSIGN(Statement statement, Prepare("SELECT 1 FROM keys WHERE path = ?1"));
  Bind(statement.get(), 1, path);
  int rc = sqlite3_step(statement.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  return Failure(rc);
}

void Store::Impl::Preserve(bool on) {
  if (!db) return;
  int flag = on ? 1 : 0;
  sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, flag, nullptr);
  sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_PERSIST_WAL, &flag);
}

Store::Store(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Store::~Store() = default;

const fs::path& Store::File() const { return impl_->file; }
bool Store::IsReadOnly() const { return impl_->readOnly; }

Result<RegistryKey> Store::OpenKey(std::string_view path) {
  std::string key = NormalizeKeyPath(path);
  if (key.empty()) return Fail(ErrorCode::InvalidArgument, "an empty key path names no key");
  return impl_->Retrying([&]() -> Result<RegistryKey> {
    KV_TRY_ASSIGN(bool exists, impl_->KeyExists(key));
    if (!exists) return Fail(ErrorCode::NotFound, "the key " + key + " does not exist");
    return RegistryKey(shared_from_this(), key);
  });
}

Result<RegistryKey> Store::CreateKey(std::string_view path) {
  std::string key = NormalizeKeyPath(path);
  if (key.empty()) return Fail(ErrorCode::InvalidArgument, "an empty key path names no key");
  return impl_->Retrying([&]() -> Result<RegistryKey> {
    KV_TRY_ASSIGN(bool exists, impl_->KeyExists(key));
    if (!exists) {
      KV_TRY_ASSIGN(Transaction transaction, Begin());
      KV_TRY(impl_->EnsureKey(key));
      KV_TRY(transaction.Commit());
    }
    return RegistryKey(shared_from_this(), key);
  });
}

Result<bool> Store::KeyExists(std::string_view path) {
  std::string key = NormalizeKeyPath(path);
  if (key.empty()) return false;
  return impl_->Retrying([&] { return impl_->KeyExists(key); });
}

Result<bool> Store::DeleteKey(std::string_view path) {
  std::string key = NormalizeKeyPath(path);
  if (key.empty()) return Fail(ErrorCode::InvalidArgument, "an empty key path names no key");
  auto [first, last] = BelowRange(key);
  return impl_->Retrying([&]() -> Result<bool> {
    KV_TRY_ASSIGN(Transaction transaction, Begin());
    KV_TRY(impl_->Run("DELETE FROM vals WHERE key = ?1 OR (key >= ?2 AND key < ?3)", {key, first, last}));
    KV_TRY_ASSIGN(int keys,
                  impl_->Run("DELETE FROM keys WHERE path = ?1 OR (path >= ?2 AND path < ?3)", {key, first, last}));
    KV_TRY(transaction.Commit());
    return keys > 0;
  });
}

Result<Transaction> Store::Begin() {
  if (impl_->depth > 0 && impl_->readSnapshot) {
    return Fail(ErrorCode::InvalidArgument, "a write cannot start inside a read snapshot");
  }
  if (impl_->depth == 0) {
    KV_TRY(impl_->Retrying([&] { return impl_->Exec("BEGIN IMMEDIATE"); }));
    impl_->rollbackOnly = false;
    impl_->readSnapshot = false;
  }
  ++impl_->depth;
  return Transaction(shared_from_this());
}

Result<Transaction> Store::BeginRead() {
  if (impl_->depth > 0) return Fail(ErrorCode::InvalidArgument, "a read snapshot cannot start inside a transaction");
  // A deferred transaction reads one snapshot of the store and never waits
  // for a writer.
  KV_TRY(impl_->Exec("BEGIN DEFERRED"));  // takes no lock yet, so it cannot be busy
  impl_->rollbackOnly = false;
  impl_->readSnapshot = true;
  ++impl_->depth;
  return Transaction(shared_from_this());
}

Transaction::Transaction(Transaction&& other) noexcept : store_(std::move(other.store_)), done_(other.done_) {
  other.done_ = true;
}

Transaction::~Transaction() {
  if (done_ || !store_) return;
  auto& impl = *store_->impl_;
  if (--impl.depth == 0) {
    (void)impl.Exec("ROLLBACK");
  } else {
    impl.rollbackOnly = true;
  }
}

Status Transaction::Commit() {
  if (done_ || !store_) return Fail("the transaction has already ended");
  done_ = true;
  auto& impl = *store_->impl_;
  if (--impl.depth > 0) return Ok();
  if (impl.rollbackOnly) {
    (void)impl.Exec("ROLLBACK");
    return Fail("the settings store " + impl.file.string() + " was not changed: part of the change failed");
  }
  if (auto committed = impl.Exec("COMMIT"); !committed) {
    (void)impl.Exec("ROLLBACK");
    return committed;
  }
  return Ok();
}

const fs::path& RegistryKey::StoreFile() const { return store_->File(); }

bool RegistryKey::StoreBecameWritable() const { return store_->BecameWritable(); }

Result<Transaction> RegistryKey::BeginTransaction() const { return store_->Begin(); }

Result<Transaction> RegistryKey::BeginRead() const { return store_->BeginRead(); }

Result<std::optional<std::string>> RegistryKey::QueryValue(std::string_view name) const {
  auto& impl = *store_->impl_;
  return impl.Retrying([&]() -> Result<std::optional<std::string>> {
    KV_TRY_ASSIGN(Statement statement, impl.Prepare("SELECT data FROM vals WHERE key = ?1 AND name = ?2"));
    Store::Impl::Bind(statement.get(), 1, path_);
    Store::Impl::Bind(statement.get(), 2, name);
    int rc = sqlite3_step(statement.get());
    if (rc == SQLITE_DONE) return std::optional<std::string>();
    if (rc != SQLITE_ROW) return impl.Failure(rc);
    auto data = static_cast<const char*>(sqlite3_column_blob(statement.get(), 0));
    int size = sqlite3_column_bytes(statement.get(), 0);
    return std::optional<std::string>(std::string(data ? data : "", static_cast<size_t>(size)));
  });
}

Status RegistryKey::SetValue(std::string_view name, std::string_view data) const {
  auto& impl = *store_->impl_;
  return impl.Retrying([&]() -> Status {
    KV_TRY_ASSIGN(Transaction transaction, store_->Begin());
    // A key deleted by someone else while this handle was open comes back:
    // the store belongs to this user, and a write must not vanish.
    KV_TRY(impl.EnsureKey(path_));
    KV_TRY(impl.Run("INSERT INTO vals(key, name, data) VALUES(?1, ?2, ?3) "
                    "ON CONFLICT(key, name) DO UPDATE SET data = excluded.data",
                    {path_, name, data}));
    return transaction.Commit();
  });
}

Result<bool> RegistryKey::CompareAndSet(std::string_view name, const std::optional<std::string>& expected,
                                        std::string_view data) const {
  return store_->impl_->Retrying([&]() -> Result<bool> {
    KV_TRY_ASSIGN(Transaction transaction, store_->Begin());
    KV_TRY_ASSIGN(std::optional<std::string> current, QueryValue(name));
    bool matches = current == expected;
    if (matches) KV_TRY(SetValue(name, data));
    KV_TRY(transaction.Commit());
    return matches;
  });
}

Result<bool> RegistryKey::DeleteValue(std::string_view name) const {
  return store_->impl_->Retrying([&]() -> Result<bool> {
    KV_TRY_ASSIGN(int deleted, store_->impl_->Run("DELETE FROM vals WHERE key = ?1 AND name = ?2", {path_, name}));
    return deleted > 0;
  });
}

Result<std::vector<NamedValue>> RegistryKey::ListValues() const {
  auto& impl = *store_->impl_;
  return impl.Retrying([&]() -> Result<std::vector<NamedValue>> {
    KV_TRY_ASSIGN(Statement statement, impl.Prepare("SELECT name, data FROM vals WHERE key = ?1 ORDER BY name"));
    Store::Impl::Bind(statement.get(), 1, path_);
    std::vector<NamedValue> values;
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
      auto text = [&](int column) {
        auto bytes = static_cast<const char*>(sqlite3_column_blob(statement.get(), column));
        return std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(statement.get(), column)));
      };
      values.push_back({text(0), text(1)});
    }
    if (rc != SQLITE_DONE) return impl.Failure(rc);
    return values;
  });
}

Result<std::vector<std::string>> RegistryKey::ListSubkeys() const {
  auto& impl = *store_->impl_;
  auto [below, last] = BelowRange(path_);
  return impl.Retrying([&]() -> Result<std::vector<std::string>> {
    KV_TRY_ASSIGN(Statement statement,
                  impl.Prepare("SELECT path FROM keys WHERE path >= ?1 AND path < ?2 ORDER BY path"));
    Store::Impl::Bind(statement.get(), 1, below);
    Store::Impl::Bind(statement.get(), 2, last);
    std::vector<std::string> names;
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
      std::string path(reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0)));
      std::string rest = path.substr(below.size());
      if (rest.find('\\') == std::string::npos) names.push_back(rest);
    }
    if (rc != SQLITE_DONE) return impl.Failure(rc);
    return names;
  });
}

}  // namespace kv::platform
