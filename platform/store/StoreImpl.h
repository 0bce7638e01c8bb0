#pragma once

// The inside of the store, shared by its source files: the connection and
// the statement helpers.

#include <sqlite3.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "StoreWait.h"
#include "kvplatform/store/Store.h"

namespace kv::platform {

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

struct DatabaseDeleter {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseDeleter>;

// The message for a failed SQLite call on the store `file`.
std::string DescribeStoreFailure(const std::filesystem::path& file, int rc, sqlite3* db);
ErrorCode StoreErrorCode(int rc);

struct Store::Impl {
  std::filesystem::path file;
  Database db;
  bool readOnly = false;
  bool fullDisk = false;      // opened to read only, without the log's index file, on a full disk
  int depth = 0;              // nesting of open transactions
  bool rollbackOnly = false;  // an inner transaction ended without Commit
  bool readSnapshot = false;  // the open transaction is a read snapshot

  std::unexpected<Error> Failure(int rc);

  Result<Statement> Prepare(const char* sql);
  static void Bind(sqlite3_stmt* statement, int index, std::string_view text);
  // Runs a statement that returns no rows; answers the number of changed rows.
  Result<int> Run(const char* sql, std::initializer_list<std::string_view> args);
  // The first column of the first row of a query, as text.
  Result<std::string> Text(const char* sql);
  Status Exec(const char* sql);

  // Every key on the way to `path` exists afterwards, as the registry's create does.
  Status EnsureKey(const std::string& path);
  Result<bool> KeyExists(const std::string& path);

  // Keeps the file and its write-ahead log exactly as they are when this
  // connection closes (no checkpoint, no removal of the log), for a file
  // that is damaged or not yet known to be a store.
  void Preserve(bool on);

  // Runs `attempt`, a whole transaction, again while it fails only because
  // another program holds the store and the operation's wait allows more.
  // SQLite answers some lock conflicts at once, without waiting (a read
  // lock that would have to become a write lock), so its own wait is not
  // enough. Inside an open transaction the caller retries the whole of it.
  template <class Attempt>
  auto Retrying(Attempt attempt) -> decltype(attempt()) {
    StoreOperation operation;
    while (true) {
      auto result = attempt();
      if (result || result.error().code != ErrorCode::Busy) return result;
      if (depth > 0 || !PauseBeforeRetry()) return Fail(ErrorCode::Busy, LockedMessage(file));
    }
  }
};

}  // namespace kv::platform
