// The programs facing a store they cannot use (held by another program, on
// a full disk): they say so clearly, keep working on the defaults, and never
// overwrite or lose what the store holds.

#include <gtest/gtest.h>

#include <filesystem>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::map<std::string, std::optional<std::string>> kHeadless{
    {"DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "640x400"}, {"KVILLO_TICK_MS", "100"}};

// Another program holds the store so that nobody can even read it: a load
// waits once, not once per value, then renders on the defaults, and nothing
// is written over the real values.
TEST(DamagedStore, StoreNobodyCanReadCostsOneWaitPerLoad) {
  kvtest::TempHome home;
  kvtest::StoreSetting("FirstTime", "1");
  kvtest::StoreSetting("FontSize", "33");
  std::map<std::string, std::optional<std::string>> env = kHeadless;
  env["KVILLO_STORE_TIMEOUT_MS"] = "1000";
  {
    kvtest::Child holder("/bin/sh", {"-c",
                                     "sleep 120 | /usr/bin/sqlite3 -cmd 'PRAGMA locking_mode=EXCLUSIVE' "
                                     "-cmd 'BEGIN EXCLUSIVE' -cmd 'SELECT count(*) FROM vals' -cmd \"SELECT 'holding'\" \"$0\"",
                                     home.StoreFile().string()});
    ASSERT_TRUE(kvtest::WaitFor([&] { return holder.OutSoFar().find("holding") != std::string::npos; }, 20s))
        << holder.ErrSoFar();
    auto started = std::chrono::steady_clock::now();
    auto preview = kvtest::Run(kvtest::BinDir() / "kvrender", {}, env, 120s);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(preview.exitCode, 0) << preview.err;
    EXPECT_NE(preview.err.find("locked by another program (waited 1"), std::string::npos) << preview.err;
    // About 30 values are read: a wait for each would take half a minute.
    EXPECT_LT(took, 15s) << preview.err;
  }  // the holder ends here, with everything it started
  EXPECT_EQ(kvtest::StoredSetting("FontSize"), "33") << "no default replaced a real value";
}

// The settings folder on a full disk: the store is still read, a write says
// that the disk is full, and a log-on run renders once and ends. That holds
// as well when the store's log holds a commit not yet copied into the file
// (its writer died) and the log's index file is gone, as from a copy of the
// folder: the log is read, not skipped.
TEST(DamagedStore, FullDiskIsNamedAndTheLogOnRunStillEnds) {
  // A small file system of its own for the settings folder, mounted in a
  // namespace of the test's own (a user namespace makes that unprivileged).
  const std::vector<std::string> isolated{"--user", "--map-root-user", "--mount", "/bin/sh", "-c"};
  auto probe = kvtest::Run("/usr/bin/unshare", {"--user", "--map-root-user", "--mount", "true"});
  if (probe.exitCode != 0) GTEST_SKIP() << "no user namespaces here: " << probe.err;
  std::string script = R"sh(
    bin=$0 withLog=$1 key='software\Lexora\wallpaper' store="$XDG_CONFIG_HOME/lexora/registry.sqlite"
    mount -t tmpfs -o size=256k tmpfs "$XDG_CONFIG_HOME" || exit 99
    if [ "$withLog" = 0 ]; then
      "$bin/kvreg" set "$key" FirstTime 1 && "$bin/kvreg" set "$key" Frequency 8 || exit 98
    else
      "$bin/kvreg" set "$key" FirstTime 1 && "$bin/kvreg" set "$key" Frequency 1 || exit 98
      python3 -c '
import os, sqlite3, sys
db = sqlite3.connect(sys.argv[1], isolation_level=None)
db.execute("PRAGMA wal_autocheckpoint=0")
db.execute("UPDATE vals SET data=8 WHERE name=?", ("Frequency",))
os._exit(0)' "$store" || exit 97
      rm "$store-shm"
      [ -s "$store-wal" ] || exit 96
    fi
    dd if=/dev/zero of="$XDG_CONFIG_HOME/filler" bs=4096 2>/dev/null
    echo "get: $("$bin/kvreg" get "$key" Frequency 2>&1)"
    "$bin/kvreg" set "$key" FontSize 20 2>&1; echo "set: $?"
    timeout 60 "$bin/Kvillo" /boot 2>&1; echo "boot: $?"
    [ "$withLog" = 0 ] || [ -s "$store-wal" ] && echo "log kept"
  )sh";
  for (const char* withLog : {"0", "1"}) {
    kvtest::TempHome home;
    std::vector<std::string> args = isolated;
    args.insert(args.end(), {script, kvtest::BinDir().string(), withLog});
    auto run = kvtest::Run("/usr/bin/unshare", args, kHeadless, 180s);
    ASSERT_EQ(run.exitCode, 0) << "log " << withLog << ": " << run.out << run.err;
    EXPECT_NE(run.out.find("get: 8\n"), std::string::npos) << "the store is read on a full disk: " << run.out;
    EXPECT_NE(run.out.find("the disk is full"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("I/O error"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("set: 3\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("boot: 0\n"), std::string::npos) << "the log-on run ends: " << run.out;
    EXPECT_NE(run.out.find("log kept"), std::string::npos) << "the log's commit is not lost: " << run.out;
    EXPECT_TRUE(fs::exists(home.DataHome() / "kvillo" / "Kvillo.bmp")) << run.out;
  }
}

}  // namespace
