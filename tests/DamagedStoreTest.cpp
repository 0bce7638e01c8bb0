// The programs as real processes with the store held, on a full disk or written by two at once, and publishes killed.

#include <gtest/gtest.h>
#include <signal.h>

#include <random>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvtest::Env;

const Env kHeadless{{"DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "640x400"}, {"KVILLO_TICK_MS", "100"}};

// A store nobody can read: a load waits once, not once per value, renders on the defaults, writes nothing.
TEST(DamagedStore, StoreNobodyCanReadCostsOneWaitPerLoad) {
  kvtest::TempHome home;
  kvtest::StoreSettings({{"FirstTime", "1"}, {"FontSize", "33"}});
  Env env = kHeadless;
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
    EXPECT_EQ(preview.exitCode, 0) << preview.err;
    EXPECT_NE(preview.err.find("locked by another program (waited 1"), std::string::npos) << preview.err;
    // About 30 values are read: a wait for each would take half a minute.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s) << preview.err;
  }  // the holder ends here, with everything it started
  EXPECT_EQ(kvtest::StoredSetting("FontSize"), "33") << "no default replaced a real value";
}

// Also when the log holds a commit not yet in the file and its index is gone: the log is read, not skipped.
TEST(DamagedStore, FullDiskIsNamedAndTheLogOnRunStillEnds) {
  {  // a store that cannot be opened for another reason (no file descriptor left) is not called full
    kvtest::TempHome home;
    kvtest::StoreSettings({{"FirstTime", "1"}});
    std::string said;
    for (int limit = 3; limit <= 12; ++limit) {
      std::string script =
          "ulimit -n " + std::to_string(limit) + "; exec \"$0\" get 'software\\Lexora\\wallpaper' FirstTime";
      said += kvtest::Run("/bin/sh", {"-c", script, (kvtest::BinDir() / "kvreg").string()}).err;
    }
    EXPECT_NE(said.find("cannot be opened"), std::string::npos) << said;
    EXPECT_EQ(said.find("disk is full"), std::string::npos) << said;
  }
  auto probe = kvtest::Run("/usr/bin/unshare", {"--user", "--map-root-user", "--mount", "true"});
  if (probe.exitCode != 0) GTEST_SKIP() << "no user namespaces here: " << probe.err;
  std::string script = R"sh(
    bin=$0 withLog=$1 key='software\Lexora\wallpaper' store="$XDG_CONFIG_HOME/lexora/registry.sqlite"
    mount -t tmpfs -o size=256k tmpfs "$XDG_CONFIG_HOME" || exit 99
    "$bin/kvreg" set "$key" FirstTime 1 && "$bin/kvreg" set "$key" Frequency $((8 - 7 * withLog)) || exit 98
    if [ "$withLog" = 1 ]; then
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
    auto run = kvtest::Run("/usr/bin/unshare",
                           {"--user", "--map-root-user", "--mount", "/bin/sh", "-c", script, kvtest::BinDir().string(), withLog},
                           kHeadless, 180s);
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

// Status writes and whole saves at the same time, with a third program loading the settings all the while.
TEST(Contention, StatusWritesAndWholeSavesNeverCollide) {
  kvtest::TempHome home;
  kvtest::StoreSettings({{"FirstTime", "1"}, {"Path", home.DataFolder().string()}});
  constexpr int kWrites = 2000;
  fs::path tool = KV_STRESS_TOOL, done = home.Root() / "saves-done";
  kvtest::Child checker(tool, {"check", done.string()});
  kvtest::Child status(tool, {"status", std::to_string(kWrites)});
  kvtest::Child saver(tool, {"save", std::to_string(kWrites)});
  auto saved = saver.Wait(600s);
  kvtest::WriteFile(done, "");
  auto statused = status.Wait(600s);
  auto checked = checker.Wait(600s);
  ASSERT_TRUE(saved && statused && checked) << "a writer hung";
  std::cout << "  " << statused->out << "  " << saved->out << "  " << checked->out;
  for (const auto* run : {&*statused, &*saved, &*checked}) EXPECT_EQ(run->exitCode, 0) << run->out << run->err;
  // Each writer's last write is what the store holds: nothing was lost.
  EXPECT_EQ(kvtest::StoredSetting("ServiceStatus"), kWrites % 2 == 0 ? "Paused" : "Running");
  auto last = kvtest::StoredSettings({"SelectedFonts0", "SelectedFonts1", "SelectedFonts2", "FontSize"});
  if (last[2] == "(none)") last[2] = "Not found";  // only the end marker may follow the list
  EXPECT_EQ(last, (std::vector<std::string>{"B1", "B2", "Not found", std::to_string(8 + (kWrites - 1) % 60)}));
}

// A publish killed at any moment leaves the old or the new whole picture, and no temporary files.
TEST(CrashSafety, KilledPublishesNeverTearTheWallpaper) {
  kvtest::TempHome home;
  fs::path folder = home.DataHome() / "kvillo", wallpaper = folder / "Kvillo.bmp";
  const Env env{{"DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "1280x720"}};
  const std::string quotes[2] = {"The old wallpaper.", "The new wallpaper."};
  auto args = [&](int i, const fs::path& output = {}) {
    std::vector<std::string> list{"--quote", quotes[i], "--background", "Aurora", "--font", "DejaVu Sans"};
    if (!output.empty()) list.insert(list.end(), {"--output", output.string()});
    return list;
  };
  auto render = [&](int i, const fs::path& output) {
    return kvtest::Run(kvtest::BinDir() / "kvrender", args(i, output), env, 30s).exitCode;
  };
  std::string pictures[2];  // the two whole pictures the file may hold
  for (int i = 0; i < 2; ++i) {
    fs::path reference = home.Root() / ("reference" + std::to_string(i) + ".bmp");
    ASSERT_EQ(render(i, reference), 0);
    pictures[i] = kvtest::ReadFile(reference);
  }
  ASSERT_NE(pictures[0], pictures[1]);
  fs::create_directories(folder);
  ASSERT_EQ(render(0, wallpaper), 0);
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(render(1, wallpaper), 0);
  auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  std::mt19937 random(20261206);
  int torn = 0, killed = 0, finished = 0;
  for (int round = 0; round < 200; ++round) {
    kvtest::Child child(kvtest::BinDir() / "kvrender", args(round % 2), env);
    usleep(static_cast<useconds_t>(random() % static_cast<unsigned>(span.count() + 1)));
    child.Signal(SIGKILL);
    auto ended = child.Wait(60s);
    ASSERT_TRUE(ended);
    (ended->signal == SIGKILL ? killed : finished)++;
    std::string now = kvtest::ReadFile(wallpaper);
    torn += now != pictures[0] && now != pictures[1];
  }
  // A writer killed before its rename may leave its finished file; the next publish clears it away.
  ASSERT_EQ(render(0, wallpaper), 0);
  std::vector<std::string> others;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path() != wallpaper) others.push_back(entry.path().filename().string());
  std::cout << "  " << killed << " publishes killed, " << finished << " finished first, " << torn << " torn\n";
  EXPECT_EQ(torn, 0);
  EXPECT_TRUE(others.empty()) << testing::PrintToString(others);
  EXPECT_GE(killed, 50) << "many kills must land inside a publish to prove anything";
}

}  // namespace
