#include "kvplatform/Store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <random>
#include <cstdlib>
#include <cstring>

#include "kvplatform/Paths.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

constexpr int kDefaultBusyTimeoutMs = 5000;

// Long enough for the other program to finish any write it makes; the
// variable exists so tests of a locked store need not wait as long.
int BusyTimeoutMs() {
  if (const char* text = std::getenv("KVILLO_STORE_TIMEOUT_MS")) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && value > 0 && value < 600000) return static_cast<int>(value);
  }
  return kDefaultBusyTimeoutMs;
}

// Waits for a lock held by another connection. SQLite's own handler sleeps
// longer and longer (up to 100 ms a time), so a program that writes again and
// again can keep the lock at every one of those few wake-ups and starve the
// waiter; short, slightly random sleeps find the gaps between its writes.
int WaitForLock(void* context, int attempt) {
  auto* started = static_cast<std::chrono::steady_clock::time_point*>(context);
  auto now = std::chrono::steady_clock::now();
  if (attempt == 0) *started = now;
  if (now - *started >= std::chrono::milliseconds(BusyTimeoutMs())) return 0;
  thread_local std::minstd_rand jitter(static_cast<unsigned>(now.time_since_epoch().count()));
  usleep(static_cast<useconds_t>(200 + jitter() % 800));
  return 1;
}

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

struct DatabaseDeleter {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseDeleter>;

ErrorCode CodeOf(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ErrorCode::Busy;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return ErrorCode::Corrupt;
    default:
      return ErrorCode::Failed;
  }
}

std::string WaitedText() {
  int ms = BusyTimeoutMs();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

std::string Describe(const fs::path& file, int rc, sqlite3* db) {
  std::string where = "the settings store " + file.string();
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return where + " is locked by another program (waited " + WaitedText() + "); try again when it is done";
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return where + " is damaged or is not a settings store (" + sqlite3_errstr(rc) +
             "); it was left untouched; move it away to start with fresh settings";
    case SQLITE_READONLY:
      return where + " cannot be written (read-only); check its permissions";
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return where + " cannot be opened; check its permissions";
    case SQLITE_FULL:
      return where + " cannot be written: the disk is full";
    default:
      return where + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  }
}

// Looks at the file without opening it. Only SQLite may open the store:
// closing any descriptor of a file drops every POSIX lock the process holds
// on it, those of this process's open connections included, and another
// program could then reset the journal under them and lose their writes.
Status CheckFile(const fs::path& file, bool& exists) {
  struct stat info {};
  exists = false;
  if (::stat(file.c_str(), &info) != 0) {
    if (errno == ENOENT) return Ok();
    return Fail("the settings store " + file.string() + " cannot be inspected: " + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return Fail(ErrorCode::Corrupt, "the settings store " + file.string() + " is not a regular file; it was left untouched");
  }
  exists = info.st_size > 0;  // an empty file holds nothing to lose; it becomes the store
  return Ok();
}

}  // namespace

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

struct Store::Impl {
  fs::path file;
  Database db;
  bool readOnly = false;
  std::chrono::steady_clock::time_point lockWaitStarted{};
  int depth = 0;              // nesting of open transactions
  bool rollbackOnly = false;  // an inner transaction ended without Commit
  bool readSnapshot = false;  // the open transaction is a read snapshot

  std::unexpected<Error> Failure(int rc) const { return Fail(CodeOf(rc), Describe(file, rc, db.get())); }

  Result<Statement> Prepare(const char* sql) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db.get(), sql, -1, &raw, nullptr);
    if (rc != SQLITE_OK) return Failure(rc);
    return Statement(raw);
  }

  static void Bind(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }

  // Runs a statement that returns no rows; answers the number of changed rows.
  Result<int> Run(const char* sql, std::initializer_list<std::string_view> args) {
    KV_TRY_ASSIGN(Statement statement, Prepare(sql));
    int index = 1;
    for (std::string_view arg : args) Bind(statement.get(), index++, arg);
    int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) return Failure(rc);
    return sqlite3_changes(db.get());
  }

  // The first column of the first row of a query, as text.
  Result<std::string> Text(const char* sql) {
    KV_TRY_ASSIGN(Statement statement, Prepare(sql));
    int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_ROW) return Failure(rc);
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    return std::string(text ? text : "");
  }

  Status Exec(const char* sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(db.get(), sql, nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK) return Failure(rc);
    return Ok();
  }

  // Every key on the way to `path` exists afterwards, as the registry's create does.
  Status EnsureKey(const std::string& path) {
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

  Result<bool> KeyExists(const std::string& path) {
    KV_TRY_ASSIGN(Statement statement, Prepare("SELECT 1 FROM keys WHERE path = ?1"));
    Bind(statement.get(), 1, path);
    int rc = sqlite3_step(statement.get());
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return Failure(rc);
  }
};

Store::Store(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Store::~Store() = default;

const fs::path& Store::File() const { return impl_->file; }
bool Store::IsReadOnly() const { return impl_->readOnly; }

Result<std::shared_ptr<Store>> Store::Open(const fs::path& file) {
  auto impl = std::make_unique<Impl>();
  impl->file = file;

  bool exists = false;
  KV_TRY(CheckFile(file, exists));
  if (!exists && file.has_parent_path()) {
    if (auto made = EnsureDirectory(file.parent_path(), 0700); !made) {
      return Fail("the settings store " + file.string() + " cannot be created: " + made.error().message);
    }
  }

  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  impl->db.reset(raw);
  if (rc != SQLITE_OK && exists) {
    // A store the user may read but not write still answers reads.
    raw = nullptr;
    impl->db.reset();
    rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    impl->db.reset(raw);
    impl->readOnly = true;
  }
  if (rc != SQLITE_OK) return impl->Failure(rc);

  // The timeout comes before any statement, so that the first statement of a
  // store that another program is creating at this moment waits for it.
  sqlite3_busy_handler(impl->db.get(), WaitForLock, &impl->lockWaitStarted);
  sqlite3_extended_result_codes(impl->db.get(), 1);
  if (!impl->readOnly && sqlite3_db_readonly(impl->db.get(), "main") == 1) impl->readOnly = true;

  // SQLite opens any file lazily, and a write pragma on a damaged file
  // rewrites its header, so the file is checked before anything writes: a
  // file that is no database fails this read, and nothing has touched it.
  if (exists) {
    KV_TRY_ASSIGN(std::string verdict, impl->Text("PRAGMA quick_check(1)"));
    if (verdict != "ok") {
      return Fail(ErrorCode::Corrupt, "the settings store " + file.string() + " is damaged (" + verdict +
                                          "); it was left untouched; move it away to start with fresh settings");
    }
  }

  // Only a store that lacks something takes the write lock here, so a
  // program that holds the store locked for a long time still lets this one
  // open it and read.
  KV_TRY_ASSIGN(std::string mode, impl->Text("PRAGMA journal_mode"));
  if (!impl->readOnly && mode != "wal") {
    // WAL lets readers go on while the other program writes; NORMAL sync is
    // safe with WAL (a crash can lose the last commit, never corrupt).
    KV_TRY(impl->Exec("PRAGMA journal_mode=WAL"));
  }
  if (!impl->readOnly) KV_TRY(impl->Exec("PRAGMA synchronous=NORMAL"));
  KV_TRY_ASSIGN(std::string tables, impl->Text("SELECT count(*) FROM sqlite_master WHERE name IN ('keys','vals')"));
  if (tables != "2") {
    if (impl->readOnly) {
      return Fail(ErrorCode::Corrupt, "the settings store " + file.string() +
                                          " is read-only and holds no settings; check its permissions");
    }
    KV_TRY(impl->Exec(
        "BEGIN IMMEDIATE;"
        "CREATE TABLE IF NOT EXISTS keys(path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS vals(key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
        " data TEXT NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
        "COMMIT;"));
  }
  return std::shared_ptr<Store>(new Store(std::move(impl)));
}

Result<std::shared_ptr<Store>> Store::ForCurrentUser() {
  thread_local std::shared_ptr<Store> current;
  fs::path file = platform::StoreFile();
  if (current && current->File() == file) return current;
  current.reset();
  auto opened = Open(file);
  if (!opened) return std::unexpected(opened.error());
  current = *opened;
  return current;
}

Result<RegistryKey> Store::OpenKey(std::string_view path) {
  std::string key = NormalizeKeyPath(path);
  if (key.empty()) return Fail(ErrorCode::InvalidArgument, "an empty key path names no key");
  KV_TRY_ASSIGN(bool exists, impl_->KeyExists(key));
  if (!exists) return Fail(ErrorCode::NotFound, "the key " + key + " does not exist");
  return RegistryKey(shared_from_this(), key);
}

Result<RegistryKey> Store::CreateKey(std::string_view path) {
  std::string key = NormalizeKeyPath(path);
  if (key.empty()) return Fail(ErrorCode::InvalidArgument, "an empty key path names no key");
  KV_TRY_ASSIGN(bool exists, impl_->KeyExists(key));
  if (!exists) {
    KV_TRY_ASSIGN(Transaction transaction, Begin());
    KV_TRY(impl_->EnsureKey(key));
    KV_TRY(transaction.Commit());
  }
  return RegistryKey(shared_from_this(), key);
}

Result<bool> Store::KeyExists(std::string_view path) {
  std::string key = NormalizeKeyPath(path);
  if (key.empty()) return false;
  return impl_->KeyExists(key);
}

Result<bool> Store::DeleteKey(std::string_view path) {
  std::string key = NormalizeKeyPath(path);
  if (key.empty()) return Fail(ErrorCode::InvalidArgument, "an empty key path names no key");
  auto [first, last] = BelowRange(key);
  KV_TRY_ASSIGN(Transaction transaction, Begin());
  KV_TRY(impl_->Run("DELETE FROM vals WHERE key = ?1 OR (key >= ?2 AND key < ?3)", {key, first, last}));
  KV_TRY_ASSIGN(int keys, impl_->Run("DELETE FROM keys WHERE path = ?1 OR (path >= ?2 AND path < ?3)", {key, first, last}));
  KV_TRY(transaction.Commit());
  return keys > 0;
}

Result<Transaction> Store::Begin() {
  if (impl_->depth > 0 && impl_->readSnapshot) {
    return Fail(ErrorCode::InvalidArgument, "a write cannot start inside a read snapshot");
  }
  if (impl_->depth == 0) {
    KV_TRY(impl_->Exec("BEGIN IMMEDIATE"));
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
  KV_TRY(impl_->Exec("BEGIN DEFERRED"));
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

Result<Transaction> RegistryKey::BeginTransaction() const { return store_->Begin(); }

Result<Transaction> RegistryKey::BeginRead() const { return store_->BeginRead(); }

Result<std::optional<std::string>> RegistryKey::QueryValue(std::string_view name) const {
  auto& impl = *store_->impl_;
  KV_TRY_ASSIGN(Statement statement, impl.Prepare("SELECT data FROM vals WHERE key = ?1 AND name = ?2"));
  Store::Impl::Bind(statement.get(), 1, path_);
  Store::Impl::Bind(statement.get(), 2, name);
  int rc = sqlite3_step(statement.get());
  if (rc == SQLITE_DONE) return std::optional<std::string>();
  if (rc != SQLITE_ROW) return impl.Failure(rc);
  auto data = static_cast<const char*>(sqlite3_column_blob(statement.get(), 0));
  int size = sqlite3_column_bytes(statement.get(), 0);
  return std::optional<std::string>(std::string(data ? data : "", static_cast<size_t>(size)));
}

Status RegistryKey::SetValue(std::string_view name, std::string_view data) const {
  auto& impl = *store_->impl_;
  KV_TRY_ASSIGN(Transaction transaction, store_->Begin());
  // A key deleted by someone else while this handle was open comes back:
  // the store belongs to this user, and a write must not vanish.
  KV_TRY(impl.EnsureKey(path_));
  KV_TRY(impl.Run("INSERT INTO vals(key, name, data) VALUES(?1, ?2, ?3) "
                  "ON CONFLICT(key, name) DO UPDATE SET data = excluded.data",
                  {path_, name, data}));
  return transaction.Commit();
}

Result<bool> RegistryKey::CompareAndSet(std::string_view name, const std::optional<std::string>& expected,
                                        std::string_view data) const {
  KV_TRY_ASSIGN(Transaction transaction, store_->Begin());
  KV_TRY_ASSIGN(std::optional<std::string> current, QueryValue(name));
  bool matches = current == expected;
  if (matches) KV_TRY(SetValue(name, data));
  KV_TRY(transaction.Commit());
  return matches;
}

Result<bool> RegistryKey::DeleteValue(std::string_view name) const {
  KV_TRY_ASSIGN(int deleted, store_->impl_->Run("DELETE FROM vals WHERE key = ?1 AND name = ?2", {path_, name}));
  return deleted > 0;
}

Result<std::vector<NamedValue>> RegistryKey::ListValues() const {
  auto& impl = *store_->impl_;
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
}

Result<std::vector<std::string>> RegistryKey::ListSubkeys() const {
  auto& impl = *store_->impl_;
  auto [below, last] = BelowRange(path_);
  KV_TRY_ASSIGN(Statement statement, impl.Prepare("SELECT path FROM keys WHERE path >= ?1 AND path < ?2 ORDER BY path"));
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
}

}  // namespace kv::platform
