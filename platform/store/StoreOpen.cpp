// Opening the store: telling a store of ours from a damaged file or another
// program's database before anything is written, setting a new store up,
// and the read-only ways of still reading one.

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "StoreImpl.h"
#include "kvplatform/base/Paths.h"
#include "kvplatform/store/Store.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

// Marks a database as a store of ours (the header's application id).
constexpr std::int32_t kApplicationId = 0x4B565354;

fs::path SideFile(const fs::path& file, const char* suffix) { return fs::path(file.string() + suffix); }

// Looks at the file without opening it. Only SQLite may open the store:
// closing any descriptor of a file drops every POSIX lock the process holds
// on it, those of this process's open connections included, and another
// program could then reset the journal under them and lose their writes.
struct FileState {
  bool exists = false;   // the file holds something (or its log does)
  bool logHeld = false;  // a log beside it holds something
};

Result<FileState> CheckFile(const fs::path& file) {
  struct stat info {};
  FileState state;
  struct stat log {};
  state.logHeld = ::stat(SideFile(file, "-wal").c_str(), &log) == 0 && log.st_size > 0;
  if (::stat(file.c_str(), &info) != 0) {
    if (errno == ENOENT) return state;
    return Fail("the settings store " + file.string() + " cannot be inspected: " + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return Fail(ErrorCode::Corrupt, "the settings store " + file.string() + " is not a regular file; it was left untouched");
  }
  // An empty file holds nothing to lose and becomes the store, unless a
  // log left beside it holds something.
  state.exists = info.st_size > 0 || state.logHeld;
  return state;
}

// SQLite makes the log and its index with the main file's mode, so a store
// that was read while it was read-only leaves them read-only, and once the
// store may be written again nobody could. They follow the main file back.
void RepairSideFileModes(const fs::path& file) {
  struct stat main {};
  if (::stat(file.c_str(), &main) != 0 || (main.st_mode & S_IWUSR) == 0 || access(file.c_str(), W_OK) != 0) return;
  for (const char* suffix : {"-wal", "-shm"}) {
    fs::path side = SideFile(file, suffix);
    struct stat info {};
    if (::lstat(side.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) continue;
    if ((info.st_mode & S_IWUSR) == 0) (void)::chmod(side.c_str(), main.st_mode & 0777);
  }
}

// Whether the disk holding the store has too little room left for it to
// work: the index of the log takes 32 KiB and every commit a page or more,
// and a failed attempt to extend a file may or may not have used up the
// last few blocks before it stopped.
bool NoSpaceLeft(const fs::path& file) {
  constexpr std::uint64_t kRoomNeeded = 64 * 1024;
  struct statvfs info {};
  if (::statvfs(file.parent_path().c_str(), &info) != 0) return false;
  const std::uint64_t blocks = geteuid() == 0 ? info.f_bfree : info.f_bavail;
  return blocks * info.f_frsize < kRoomNeeded;
}

bool LogIsEmpty(const fs::path& file) {
  struct stat info {};
  return ::stat(SideFile(file, "-wal").c_str(), &info) != 0 || info.st_size == 0;
}

// A "file:" URI for `file`: everything but plain characters percent-encoded.
std::string FileUri(const fs::path& file, const char* query) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : file.string()) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri + "?" + query;
}

enum class Kind {
  Ours,     // a store made by this build
  Earlier,  // a store made before stores were marked as ours
  Blank,    // a database holding nothing yet: ours to set up
  Foreign,  // another program's database
};

// Tells what the database is by its header's application id and its
// tables, reading only.
Result<Kind> Recognize(Store::Impl& impl) {
  KV_TRY_ASSIGN(std::string id, impl.Text("PRAGMA application_id"));
  bool marked = id == std::to_string(kApplicationId);
  if (!marked && id != "0") return Kind::Foreign;

  KV_TRY_ASSIGN(Statement statement, impl.Prepare("SELECT type || ' ' || name FROM sqlite_master ORDER BY 1"));
  std::vector<std::string> objects;
  int rc;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    objects.emplace_back(text ? text : "");
  }
  if (rc != SQLITE_DONE) return impl.Failure(rc);
  if (objects.empty()) return Kind::Blank;
  if (objects != std::vector<std::string>{"table keys", "table vals"}) return Kind::Foreign;

  // Tables of our names could still be someone else's: their columns tell.
  auto columns = impl.Text(
      "SELECT (SELECT group_concat(name) FROM pragma_table_info('keys')) || ';' ||"
      " (SELECT group_concat(name) FROM pragma_table_info('vals'))");
  if (!columns) return std::unexpected(columns.error());
  if (*columns != "path;key,name,data") return Kind::Foreign;
  return marked ? Kind::Ours : Kind::Earlier;
}

std::unexpected<Error> ForeignDatabase(const fs::path& file) {
  return Fail(ErrorCode::Corrupt, "the settings store " + file.string() +
                                      " is another program's database, not a settings store; it was left untouched; "
                                      "move it away to start with fresh settings");
}

// Makes the tables of a blank store, or marks a store of an earlier build
// as ours, in one write transaction that looks again first: another
// program may have set the file up meanwhile.
Status SetUp(Store::Impl& impl) {
  KV_TRY(impl.Exec("BEGIN IMMEDIATE"));
  auto finish = [&](Status status) {
    (void)impl.Exec(status ? "COMMIT" : "ROLLBACK");
    return status;
  };
  auto kind = Recognize(impl);
  if (!kind) return finish(std::unexpected(kind.error()));
  if (*kind == Kind::Foreign) return finish(ForeignDatabase(impl.file));
  if (*kind == Kind::Ours) return finish(Ok());
  if (*kind == Kind::Blank) {
    auto made = impl.Exec(
        "CREATE TABLE IF NOT EXISTS keys(path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS vals(key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
        " data TEXT NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;");
    if (!made) return finish(made);
  }
  std::string mark = "PRAGMA application_id=" + std::to_string(kApplicationId);
  return finish(impl.Exec(mark.c_str()));
}

// Everything between opening the file and using it but the log's keeping.
Status PrepareFile(Store::Impl& impl, const FileState& state) {
  KV_TRY_ASSIGN(Kind kind, Recognize(impl));
  if (kind == Kind::Foreign) return ForeignDatabase(impl.file);
  if (state.exists) {
    // A write pragma on a damaged file rewrites its header, so the file is
    // checked before anything writes.
    KV_TRY_ASSIGN(std::string verdict, impl.Text("PRAGMA quick_check(1)"));
    if (verdict != "ok") {
      std::replace(verdict.begin(), verdict.end(), '\n', ' ');  // the message stays one line
      return Fail(ErrorCode::Corrupt, "the settings store " + impl.file.string() + " is damaged (" + verdict +
                                          "); it was left untouched; move it away to start with fresh settings");
    }
  }
  if (impl.readOnly) {
    if (kind != Kind::Blank) return Ok();
    return Fail(ErrorCode::Corrupt, "the settings store " + impl.file.string() +
                                        " is read-only and holds no settings; check its permissions");
  }

  // Only a store that lacks something takes the write lock here, so a
  // program that holds the store locked for a long time still lets this one
  // open it and read. WAL lets readers go on while the other program
  // writes; NORMAL sync is safe with WAL (a crash can lose the last commit,
  // never corrupt).
  KV_TRY_ASSIGN(std::string mode, impl.Text("PRAGMA journal_mode"));
  if (mode != "wal") KV_TRY(impl.Exec("PRAGMA journal_mode=WAL"));
  KV_TRY(impl.Exec("PRAGMA synchronous=NORMAL"));
  if (kind == Kind::Blank) return SetUp(impl);
  if (kind == Kind::Earlier) {
    // The mark can wait for another time when the store is busy now.
    if (auto marked = SetUp(impl); !marked && marked.error().code != ErrorCode::Busy) return marked;
  }
  return Ok();
}

// Everything between opening the file and using it: one whole, retried
// when another program is setting the same file up at this very moment.
// Until the file has proved a sound store this program can use, closing
// the connection must not fold a log left beside it into it, nor delete
// that log: not when the file is damaged, foreign, or refuses to be
// written. (An empty log that SQLite made itself to read goes again:
// folding nothing in writes nothing.)
Status Prepare(Store::Impl& impl, const FileState& state) {
  impl.Preserve(state.logHeld);
  Status prepared = PrepareFile(impl, state);
  if (prepared) impl.Preserve(false);
  return prepared;
}

Status Connect(Store::Impl& impl, const std::string& name, int flags) {
  impl.db.reset();
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
  impl.db.reset(raw);
  if (rc != SQLITE_OK) return impl.Failure(rc);
  // The handler comes before any statement, so that the first statement of
  // a store that another program is creating at this moment waits for it.
  sqlite3_busy_handler(impl.db.get(), WaitForStoreLock, nullptr);
  sqlite3_extended_result_codes(impl.db.get(), 1);
  if (sqlite3_db_readonly(impl.db.get(), "main") == 1) impl.readOnly = true;
  return Ok();
}

}  // namespace

ErrorCode StoreErrorCode(int rc) {
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

std::string DescribeStoreFailure(const fs::path& file, int rc, sqlite3* db) {
  std::string where = "the settings store " + file.string();
  int cause = db ? sqlite3_system_errno(db) : 0;
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return LockedMessage(file);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return where + " is damaged or is not a settings store (" + sqlite3_errstr(rc) +
             "); it was left untouched; move it away to start with fresh settings";
    case SQLITE_READONLY:
      return where + " cannot be written (read-only); check its permissions";
    case SQLITE_FULL:
      return where + " cannot be written: the disk is full; free some space on it";
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      // SQLite calls most failures to extend its files an I/O error.
      if (cause == ENOSPC || cause == EDQUOT || NoSpaceLeft(file)) {
        return where + " cannot be used: the disk is full; free some space on it";
      }
      if ((rc & 0xff) == SQLITE_IOERR) return where + ": " + sqlite3_errstr(rc);
      return where + " cannot be opened; check its permissions";
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return where + " cannot be opened; check its permissions";
    default:
      return where + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  }
}

bool Store::BecameWritable() const {
  if (!impl_->readOnly || impl_->depth > 0 || access(impl_->file.c_str(), W_OK) != 0) return false;
  return !impl_->fullDisk || !NoSpaceLeft(impl_->file);
}

Result<std::shared_ptr<Store>> Store::Open(const fs::path& file) {
  auto impl = std::make_unique<Impl>();
  impl->file = file;

  KV_TRY_ASSIGN(FileState state, CheckFile(file));
  bool exists = state.exists;
  if (!exists && file.has_parent_path()) {
    if (auto made = EnsureDirectory(file.parent_path(), 0700); !made) {
      return Fail("the settings store " + file.string() + " cannot be created: " + made.error().message);
    }
  }
  if (exists) RepairSideFileModes(file);

  auto connected = Connect(*impl, file.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (!connected && exists) {
    // A store the user may read but not write still answers reads.
    impl->readOnly = true;
    connected = Connect(*impl, file.string(), SQLITE_OPEN_READONLY);
  }
  if (!connected) return std::unexpected(connected.error());

  auto prepared = impl->Retrying([&] { return Prepare(*impl, state); });
  if (!prepared && exists && NoSpaceLeft(file) && prepared.error().code == ErrorCode::Failed) {
    // On a full disk SQLite cannot even make the index it reads through,
    // so the store is read without it until the disk has room again. With
    // no log beside it the file alone holds every value and is read as it
    // lies. A log may hold commits not yet copied into the file (a writer
    // that died, a store that filled the disk): then SQLite reads the log
    // itself through an index kept in memory, which needs the index file
    // only to exist (the attempt above has made it, if empty), not to grow.
    impl->readOnly = impl->fullDisk = true;
    const char* how = LogIsEmpty(file) ? "immutable=1" : "readonly_shm=1";
    if (Connect(*impl, FileUri(file, how), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI) && Prepare(*impl, state)) {
      prepared = Ok();
    }
  }
  if (!prepared) return std::unexpected(prepared.error());
  return std::shared_ptr<Store>(new Store(std::move(impl)));
}

Result<std::shared_ptr<Store>> Store::ForCurrentUser() {
  thread_local std::shared_ptr<Store> current;
  fs::path file = platform::StoreFile();
  if (current && current->File() == file && !current->BecameWritable()) return current;
  // A connection that could only read is closed before the next one opens,
  // or the new one would share its read-only view of the index.
  current.reset();
  auto opened = Open(file);
  if (!opened) return std::unexpected(opened.error());
  current = *opened;
  return current;
}

}  // namespace kv::platform
