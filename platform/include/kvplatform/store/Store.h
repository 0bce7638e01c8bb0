#pragma once

// The per-user store of named text values, arranged in keys like a registry:
// key paths such as "software\Lexora\wallpaper", each key holding string
// values by name. Key paths and value names compare case-insensitively
// (ASCII); every value is UTF-8 text. The store is one SQLite database in WAL
// mode, so two programs writing at the same moment both succeed.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvplatform/base/Result.h"

namespace kv::platform {

class Store;
class Transaction;

struct NamedValue {
  std::string name;
  std::string data;
};

// An open key. It stays usable for as long as it is held, like a key handle.
class RegistryKey {
 public:
  const std::string& Path() const { return path_; }
  const std::filesystem::path& StoreFile() const;
  // See Store::BecameWritable.
  bool StoreBecameWritable() const;

  // The value's text, or nullopt when the key has no value of that name.
  [[nodiscard]] Result<std::optional<std::string>> QueryValue(std::string_view name) const;
  [[nodiscard]] Status SetValue(std::string_view name, std::string_view data) const;
  // Stores `data` only when the value still is `expected` (nullopt: still
  // missing); answers whether it stored. A concurrent writer's value wins.
  [[nodiscard]] Result<bool> CompareAndSet(std::string_view name, const std::optional<std::string>& expected,
                                           std::string_view data) const;
  // True when a value was deleted, false when there was none.
  [[nodiscard]] Result<bool> DeleteValue(std::string_view name) const;
  // The key's values, ordered by name.
  [[nodiscard]] Result<std::vector<NamedValue>> ListValues() const;
  // The names of the key's direct subkeys, ordered.
  [[nodiscard]] Result<std::vector<std::string>> ListSubkeys() const;
  // A write transaction on this key's store connection.
  [[nodiscard]] Result<Transaction> BeginTransaction() const;
  // A read snapshot on this key's store connection (see Store::BeginRead).
  [[nodiscard]] Result<Transaction> BeginRead() const;

 private:
  friend class Store;
  RegistryKey(std::shared_ptr<Store> store, std::string path) : store_(std::move(store)), path_(std::move(path)) {}

  std::shared_ptr<Store> store_;
  std::string path_;
};

// One transaction: a write transaction (BEGIN IMMEDIATE) or a read
// snapshot. Nested write transactions join the outermost one. Rolled back
// when destroyed without Commit.
class Transaction {
 public:
  Transaction(Transaction&& other) noexcept;
  Transaction& operator=(Transaction&&) = delete;
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();

  [[nodiscard]] Status Commit();

 private:
  friend class Store;
  explicit Transaction(std::shared_ptr<Store> store) : store_(std::move(store)) {}

  std::shared_ptr<Store> store_;
  bool done_ = false;
};

// A connection to one store file. Move-only through shared_ptr; keys keep
// their connection alive.
class Store : public std::enable_shared_from_this<Store> {
 public:
  // Opens (and on first use creates) the store at `file`. A file that is not
  // a store, or is damaged, is reported and left exactly as it is.
  [[nodiscard]] static Result<std::shared_ptr<Store>> Open(const std::filesystem::path& file);

  // This thread's connection to the current user's store (see StoreFile in
  // Paths.h), opened at first use and reopened when that path changes.
  [[nodiscard]] static Result<std::shared_ptr<Store>> ForCurrentUser();

  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::filesystem::path& File() const;
  bool IsReadOnly() const;
  // True when this connection could only read but the file may now be
  // written, and no transaction is open on it: a connection opened anew
  // would write.
  bool BecameWritable() const;

  // Fails with ErrorCode::NotFound when the key does not exist.
  [[nodiscard]] Result<RegistryKey> OpenKey(std::string_view path);
  // Opens the key, creating it and its parents when missing.
  [[nodiscard]] Result<RegistryKey> CreateKey(std::string_view path);
  [[nodiscard]] Result<bool> KeyExists(std::string_view path);
  // Deletes the key with its values and subkeys; false when it did not exist.
  [[nodiscard]] Result<bool> DeleteKey(std::string_view path);

  [[nodiscard]] Result<Transaction> Begin();
  // A read transaction: every read until Commit sees one consistent
  // snapshot, and it never waits for a writer. Nothing may be written in it.
  [[nodiscard]] Result<Transaction> BeginRead();

  struct Impl;  // the connection; only the layer's sources know it

 private:
  friend class RegistryKey;
  friend class Transaction;
  explicit Store(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

// While one is alive on a thread, every store call of that thread is part of
// one operation (a whole load, say), and all of them together wait at most
// the store's timeout for locks held by another program: once that wait is
// used up, further calls fail at once (ErrorCode::Busy) instead of each
// waiting anew. Scopes nest; the outermost one counts. Without one, each
// call is an operation of its own.
class StoreOperation {
 public:
  StoreOperation();
  ~StoreOperation();
  StoreOperation(const StoreOperation&) = delete;
  StoreOperation& operator=(const StoreOperation&) = delete;
};

// A key path in its canonical form: segments separated by one backslash, no
// leading or trailing backslash. Empty for a path of no segments.
std::string NormalizeKeyPath(std::string_view path);

}  // namespace kv::platform
