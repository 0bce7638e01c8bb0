// The store in a hostile place: programs racing to create it, a damaged
// file with a log beside it, another program's database at its path, and a
// spell of being read-only.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Process.h"
#include "TempHome.h"
#include "kvplatform/store/Store.h"

namespace {

using kv::ErrorCode;
using kv::platform::Store;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kKey = "software\\Lexora\\wallpaper";

fs::path Log(const fs::path& file) { return file.string() + "-wal"; }

// Runs SQL on `file` with the sqlite3 command-line program: a database as
// another program leaves it.
std::string Sql(const fs::path& file, const std::string& sql) {
  auto run = kvtest::Run("/usr/bin/sqlite3", {file.string(), sql});
  EXPECT_EQ(run.exitCode, 0) << sql << ": " << run.err;
  return run.out;
}

kvtest::ProcessResult Kvreg(const std::vector<std::string>& args) { return kvtest::Run(kvtest::BinDir() / "kvreg", args); }

// Starts `count` processes that each run `body` at the same moment; answers
// what the failed ones said (empty when all succeeded).
template <class Body>
std::string AllAtOnce(int count, Body body) {
  int gate[2], report[2];
  if (pipe(gate) != 0 || pipe(report) != 0) return "pipe failed";
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      close(report[0]);
      char byte;
      (void)!read(gate[0], &byte, 1);  // returns when the parent closes the gate
      std::string problem = body(i);
      if (!problem.empty()) (void)!write(report[1], (problem + "\n").data(), problem.size() + 1);
      _exit(problem.empty() ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(gate[0]);
  close(report[1]);
  close(gate[1]);
  std::string said;
  char buffer[512];
  ssize_t got;
  while ((got = read(report[0], buffer, sizeof buffer)) > 0) said.append(buffer, static_cast<size_t>(got));
  close(report[0]);
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && said.empty())) said += "a writer died\n";
  }
  return said;
}

// The service and the settings window start together at log-on, and on a
// first log-on both make the store; then they write at the same moments.
TEST(StoreHazards, ProgramsCreatingAndWritingTheStoreTogetherLoseNothing) {
  kvtest::TempHome home;
  // A wait that only a real fault runs out of, however busy the machine is:
  // the fault shown here fails in milliseconds, without waiting at all.
  setenv("KVILLO_STORE_TIMEOUT_MS", "60000", 1);
  constexpr int kRounds = 25, kPrograms = 4;
  for (int round = 0; round < kRounds; ++round) {
    // Every round races to create; the last one also writes a lot at once.
    const int writes = round + 1 == kRounds ? 300 : 1;
    fs::path file = home.Root() / ("round" + std::to_string(round)) / "registry.sqlite";
    std::string failures = AllAtOnce(kPrograms, [&](int program) -> std::string {
      auto store = Store::Open(file);
      if (!store) return store.error().message;
      auto key = (*store)->CreateKey(kKey);
      if (!key) return key.error().message;
      for (int i = 0; i < writes; ++i) {
        if (auto set = key->SetValue("P" + std::to_string(program) + "-" + std::to_string(i), "here"); !set) {
          return set.error().message;
        }
        if (auto set = key->SetValue("Shared", std::to_string(program)); !set) return set.error().message;
      }
      return "";
    });
    ASSERT_EQ(failures, "") << "round " << round;
    auto values = (*Store::Open(file))->OpenKey(kKey)->ListValues();
    ASSERT_TRUE(values);
    EXPECT_EQ(values->size(), static_cast<size_t>(kPrograms * writes + 1)) << "every write landed";
  }

  // The same, made certain: another program holds the write lock on the
  // new, still empty file while this one sets it up, so this one's switch
  // to its journal mode (a read lock that must become a write lock) is
  // refused at once, and only trying the whole again gets it through.
  fs::path file = home.Root() / "held" / "registry.sqlite";
  kvtest::WriteFile(file, "");
  kvtest::Child holder("/bin/sh", {"-c", "sleep 2 | /usr/bin/sqlite3 -cmd 'BEGIN IMMEDIATE' -cmd \"SELECT 'holding'\" \"$0\"",
                                   file.string()});
  ASSERT_TRUE(kvtest::WaitFor([&] { return holder.OutSoFar() == "holding\n"; }, 30s)) << holder.ErrSoFar();
  auto store = Store::Open(file);
  ASSERT_TRUE(store) << store.error().message;
  EXPECT_TRUE((*store)->CreateKey(kKey));
  unsetenv("KVILLO_STORE_TIMEOUT_MS");
}

TEST(StoreHazards, DamagedStoreAndItsLogAreNeverWritten) {
  kvtest::TempHome home;
  fs::path good = home.Root() / "good.sqlite";
  fs::path file = home.StoreFile();
  {
    auto key = *(*Store::Open(good))->CreateKey(kKey);
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(key.SetValue("Value" + std::to_string(i), std::string(200, 'v')));
  }
  {
    // A program that died with its last write still in the log.
    auto store = *Store::Open(good);
    ASSERT_TRUE(store->OpenKey(kKey)->SetValue("Latest", "only in the log"));
    kvtest::WriteFile(file, kvtest::ReadFile(good));
    kvtest::WriteFile(Log(file), kvtest::ReadFile(Log(good)));
  }
  std::string log = kvtest::ReadFile(Log(file));
  ASSERT_GT(log.size(), 0u);
  std::string bytes = kvtest::ReadFile(file);
  for (size_t i = bytes.size() / 3; i < bytes.size() * 2 / 3; i += 5) bytes[i] = static_cast<char>(i * 13);
  kvtest::WriteFile(file, bytes);

  auto opened = Store::Open(file);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().code, ErrorCode::Corrupt) << opened.error().message;
  auto get = Kvreg({"get", std::string(kKey), "Latest"});
  EXPECT_EQ(get.exitCode, 3) << get.err;
  EXPECT_NE(get.err.find("damaged"), std::string::npos) << get.err;
  EXPECT_EQ(get.err.find('\n'), get.err.size() - 1) << "one line: " << get.err;
  EXPECT_EQ(kvtest::ReadFile(file), bytes) << "nothing was folded into the damaged file";
  EXPECT_EQ(kvtest::ReadFile(Log(file)), log) << "the log is kept as it was";

  // A blank database whose header asks for a newer writer cannot be set up;
  // refused, it keeps the log beside it too, whatever that holds.
  fs::remove(file);
  Sql(file, "PRAGMA journal_mode=WAL; PRAGMA user_version=1;");
  bytes = kvtest::ReadFile(file);
  bytes[18] = 4;
  kvtest::WriteFile(file, bytes);
  log = std::string(69, '\x7f');
  kvtest::WriteFile(Log(file), log);
  EXPECT_FALSE(Store::Open(file));
  EXPECT_EQ(kvtest::ReadFile(file), bytes);
  EXPECT_EQ(kvtest::ReadFile(Log(file)), log) << "the log of a store that refuses writes is kept";
}

TEST(StoreHazards, ForeignDatabasesAreLeftAloneAndEarlierStoresKept) {
  kvtest::TempHome home;
  fs::path file = home.StoreFile();
  fs::create_directories(file.parent_path());
  struct Foreign {
    const char* what;
    std::string sql;
  };
  const std::vector<Foreign> foreign{
      {"a notes database", "CREATE TABLE notes(id INTEGER PRIMARY KEY, body TEXT); INSERT INTO notes VALUES(1, 'keep');"},
      {"tables of our names with other columns",
       "CREATE TABLE keys(path TEXT); CREATE TABLE vals(key TEXT, value TEXT); INSERT INTO keys VALUES('x');"},
      {"our tables in a database marked as another program's",
       "PRAGMA application_id=7; CREATE TABLE keys(path TEXT NOT NULL PRIMARY KEY) WITHOUT ROWID;"
       "CREATE TABLE vals(key TEXT NOT NULL, name TEXT NOT NULL, data TEXT NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"},
      {"our tables and more", "CREATE TABLE keys(path TEXT); CREATE TABLE vals(key TEXT, name TEXT, data TEXT);"
                              "CREATE TABLE extra(x); PRAGMA journal_mode=WAL;"},
  };
  for (const Foreign& database : foreign) {
    fs::remove(file);
    Sql(file, database.sql);
    std::string bytes = kvtest::ReadFile(file);
    auto get = Kvreg({"get", std::string(kKey), "FontSize"});
    auto set = Kvreg({"set", std::string(kKey), "FontSize", "20"});
    EXPECT_EQ(get.exitCode, 3) << database.what;
    EXPECT_EQ(set.exitCode, 3) << database.what;
    EXPECT_NE(get.err.find("another program's database"), std::string::npos) << database.what << ": " << get.err;
    EXPECT_EQ(kvtest::ReadFile(file), bytes) << database.what << " was changed";
    EXPECT_FALSE(fs::exists(Log(file))) << database.what;
    auto opened = Store::Open(file);
    ASSERT_FALSE(opened) << database.what;
    EXPECT_EQ(opened.error().code, ErrorCode::Corrupt);
  }

  // A store as earlier builds made it: the same tables, no mark.
  fs::remove(file);
  Sql(file,
      "PRAGMA journal_mode=WAL;"
      "CREATE TABLE keys(path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE) WITHOUT ROWID;"
      "CREATE TABLE vals(key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
      " data TEXT NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
      "INSERT INTO keys VALUES('software'), ('software\\Lexora'), ('software\\Lexora\\wallpaper');"
      "INSERT INTO vals VALUES('software\\Lexora\\wallpaper', 'FontSize', '33');");
  auto get = Kvreg({"get", std::string(kKey), "fontsize"});
  EXPECT_EQ(get.exitCode, 0) << get.err;
  EXPECT_EQ(get.out, "33\n");
  EXPECT_NE(Sql(file, "PRAGMA application_id"), "0\n") << "the earlier store is marked as ours";
  EXPECT_EQ(Kvreg({"set", std::string(kKey), "FontSize", "34"}).exitCode, 0);
  EXPECT_EQ(Kvreg({"get", std::string(kKey), "FontSize"}).out, "34\n");
}

}  // namespace
