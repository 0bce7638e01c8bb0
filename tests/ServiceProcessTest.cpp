// Kvillo as a real resident process: schedule, status gate, close request and signals, hostile peers, second instance, a
// locked store at start-up, the log-on run, its priority and the failure path.

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "PictureFiles.h"
#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "WallpaperRecorder.h"
#include "kvplatform/process/ServiceWindow.h"
#include "kvplatform/store/Store.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvtest::StoredSetting;
using kvtest::StoreSetting;

class ServiceProcess : public testing::Test {
 protected:
  void SetUp() override {
    kvtest::StoreSettings({{"FirstTime", "1"}, {"SelectedFonts0", "DejaVu Sans"}, {"SelectedBackgrounds0", "Weave"},
                           {"SelectedQuotesFiles0", "Craft"}, {"FontSize", "30"}, {"Path", kvtest::BinDir().string()}});
    recorder_.emplace(home_.Root());
  }
  std::unique_ptr<kvtest::Child> Start(const std::vector<std::string>& args = {}, const fs::path& program = {},
                                       kvtest::Env env = {}) {
    env.insert({{"KVILLO_TICK_MS", std::to_string(tickMs_)}, {"KVILLO_STORE_TIMEOUT_MS", storeTimeoutMs_},
                {"DISPLAY", std::nullopt}});
    return std::make_unique<kvtest::Child>(program.empty() ? kvtest::BinDir() / "Kvillo" : program, args, env);
  }
  static void NothingDue() { kvtest::StoreSettings({{"Frequency", "5"}, {"UpdateDate", "2999-01-01T00:00:00"}}); }
  static bool Close(std::chrono::seconds bound = 60s) {
    return bool(kv::platform::CloseServiceWindow("ThunderRT6FormDC", "KvilloService", bound));
  }
  int Published() const { return recorder_->Published(); }
  static bool WindowExists() { return kv::platform::FindServiceWindow("ThunderRT6FormDC", "KvilloService"); }
  fs::path Socket() const { return home_.RuntimeDir() / "kvillo" / "ThunderRT6FormDC.KvilloService"; }
  fs::path LockFile() const { return home_.RuntimeDir() / "kvillo" / "KvilloService.lock"; }
  fs::path Wallpaper() const { return home_.DataHome() / "kvillo" / "Kvillo.bmp"; }
  int ConnectTo() const {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, Socket().c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    return fd;
  }
  kvtest::TempHome home_;
  std::optional<kvtest::WallpaperRecorder> recorder_;
  int tickMs_ = 100;
  std::optional<std::string> storeTimeoutMs_;  // the store's own default when unset
};

TEST_F(ServiceProcess, RendersEveryTickAndEndsOnACloseRequestOrAStoppedOrDeletedStatus) {
  StoreSetting("Frequency", "0");
  for (const std::string how : {"close", "Stopped", "deleted"}) {
    SCOPED_TRACE(how);
    auto service = Start();
    // Renders run at idle priority: on a busy machine they can take long.
    const int before = Published();
    ASSERT_TRUE(kvtest::WaitFor([&] { return Published() >= before + 3 && WindowExists(); }, 120s))
        << service->ErrSoFar();
    EXPECT_EQ(StoredSetting("ServiceStatus"), "Running");
    EXPECT_TRUE(fs::exists(Wallpaper()));
    EXPECT_EQ(kvtest::ReadFile(LockFile()), std::to_string(service->Pid()) + "\n");
    if (how == "close") {
      ASSERT_TRUE(Close());
      EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped") << "written before the answer";
    } else if (how == "Stopped") {
      StoreSetting("ServiceStatus", "Stopped");
    } else {
      auto key = (*kv::platform::Store::Open(home_.StoreFile()))->OpenKey(kvtest::kSettingsKey);
      ASSERT_TRUE(key->DeleteValue("ServiceStatus"));
    }
    auto ended = service->Wait(60s);
    ASSERT_TRUE(ended) << "the service ends at its next update";
    EXPECT_EQ(ended->exitCode, 0) << ended->err;
    EXPECT_FALSE(fs::exists(Socket()));
    EXPECT_EQ(kvtest::ReadFile(LockFile()), "") << "a stopped service leaves no process id that could be reused";
    if (how == "close") { EXPECT_EQ(ended->err, ""); }
    if (how == "deleted") { EXPECT_NE(StoredSetting("ServiceStatus"), "Stopped") << "nothing is written back"; }
  }
}

TEST_F(ServiceProcess, PeersThatStallOrHangUpNeitherHoldItUpNorEndIt) {
  NothingDue();  // only the peers keep the service busy
  auto service = Start();
  ASSERT_TRUE(kvtest::WaitFor(WindowExists, 60s)) << service->ErrSoFar();
  // More peers than the service serves at once, each sending its request a byte at a time, never finishing it.
  std::vector<int> stalling;
  for (int i = 0; i < 40; ++i) stalling.push_back(ConnectTo());
  std::atomic<bool> stop{false};
  std::thread dripper([&] {
    for (; !stop; usleep(300'000)) for (int peer : stalling) (void)!send(peer, "c", 1, MSG_NOSIGNAL);
  });
  // Another peer is answered meanwhile; a request of another kind is answered, not served.
  int asker = ConnectTo();
  ASSERT_EQ(write(asker, "render-twice\n", 13), 13);
  timeval limit{60, 0};
  setsockopt(asker, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string answer;
  for (char c = 0; answer.find('\n') == std::string::npos && read(asker, &c, 1) == 1;) answer += c;
  close(asker);
  EXPECT_EQ(answer, "unknown\n");
  // A closer that hangs up before its answer still closes the service.
  int closer = ConnectTo();
  ASSERT_EQ(write(closer, "close\n", 6), 6);
  close(closer);
  auto ended = service->Wait(30s);
  stop = true;
  dripper.join();
  for (int peer : stalling) close(peer);
  ASSERT_TRUE(ended) << "the close request was answered while others stalled";
  EXPECT_EQ(std::pair(ended->signal, ended->exitCode), std::pair(0, 0)) << ended->err;
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped");
  EXPECT_FALSE(fs::exists(Socket()));
}

TEST_F(ServiceProcess, FoundAndStoppedWhileAnotherProgramHoldsTheStore) {
  StoreSetting("Frequency", "4");
  storeTimeoutMs_ = "300000";  // the service waits as long as the other program holds the store
  for (bool bySignal : {true, false}) {
    SCOPED_TRACE(bySignal ? "SIGTERM" : "close request");
    kvtest::Child holder(KV_STRESS_TOOL, {"hold", "300"});
    ASSERT_TRUE(kvtest::WaitFor([&] { return holder.OutSoFar() == "holding\n"; }, 60s));
    auto service = Start();
    ASSERT_TRUE(kvtest::WaitFor(WindowExists, 30s)) << "the window shows before the settings are read";
    std::atomic<bool> closed{false};
    std::thread closer;
    if (bySignal) service->Signal(SIGTERM);
    else closer = std::thread([&] { closed = Close(120s); });
    usleep(300'000);  // let the request arrive while the store is still held
    holder.Signal(SIGKILL);
    ASSERT_TRUE(holder.Wait(60s));
    auto ended = service->Wait(120s);
    if (closer.joinable()) closer.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->exitCode, 0) << ended->err;
    EXPECT_TRUE(bySignal || closed) << "the close request was answered";
    EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped");
    EXPECT_EQ(Published(), 0) << "a close during start-up wins over the first update";
  }
}

TEST_F(ServiceProcess, SecondInstanceEndsSilentlyAndSettingsThatAreNotNumbersAreNamedAndDefaulted) {
  // Hourly by default: at a tick of a second, no second update during the test.
  tickMs_ = 1000;
  kvtest::StoreSettings({{"Frequency", "abc"}, {"TopMargin", "x"}});
  auto first = Start();
  ASSERT_TRUE(kvtest::WaitFor([&] { return WindowExists() && Published() == 1; }, 60s)) << first->ErrSoFar();
  std::string err = first->ErrSoFar();
  for (const char* named : {"Frequency", "\"abc\"", "TopMargin"}) EXPECT_NE(err.find(named), std::string::npos) << err;
  EXPECT_EQ(StoredSetting("Frequency"), "abc") << "the stored text is left for the user to fix";
  StoreSetting("ServiceStatus", "Paused");
  for (const char* when : {"beside the first", "after the folder was removed"}) {
    if (when[0] == 'a') {
      // A clean-up takes the folder with the lock and the socket away.
      fs::rename(Socket().parent_path(), home_.Root() / "removed");
      fs::remove_all(home_.Root() / "removed");
      ASSERT_TRUE(kvtest::WaitFor(WindowExists, 60s)) << "the window can be found again: " << first->ErrSoFar();
      EXPECT_EQ(kvtest::ReadFile(LockFile()), std::to_string(first->Pid()) + "\n");
    }
    EXPECT_EQ(kvtest::Run(kvtest::BinDir() / "Kvillo", {}, {{"DISPLAY", std::nullopt}}, 60s).Describe(),
              "ended with exit status 0") << when << ": silently";
    EXPECT_EQ(StoredSetting("ServiceStatus"), "Paused") << when << ": the second touches nothing";
    EXPECT_TRUE(first->Running()) << when;
    EXPECT_EQ(Published(), 1) << when << ": only the first instance rendered";
  }
  ASSERT_TRUE(Close());
  ASSERT_TRUE(first->Wait(60s));
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped");
}

TEST_F(ServiceProcess, LogOnRunRendersOnceAndLogOffSignalsEndTheService) {
  StoreSetting("Frequency", "8");
  auto boot = kvtest::Run(kvtest::BinDir() / "Kvillo", {"/boot"}, {{"DISPLAY", std::nullopt}}, 30s);
  EXPECT_EQ(boot.exitCode, 0) << boot.err;
  EXPECT_EQ(Published(), 1);
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped");
  EXPECT_FALSE(fs::exists(Socket())) << "the log-on run never creates its window";
  // The switch counts only exactly, and only with the boot frequency; each log-off signal ends the service cleanly.
  for (auto [frequency, argument, signal] : {std::tuple{"5", "/boot", SIGTERM}, {"5", " /boot ", SIGINT},
                                             {"8", "/BOOT", SIGHUP}}) {
    kvtest::StoreSettings({{"Frequency", frequency}, {"UpdateDate", "2000-01-01T00:00:00"}});
    auto service = Start({argument});
    EXPECT_TRUE(kvtest::WaitFor(WindowExists, 60s)) << argument << ": stays resident";
    service->Signal(signal);
    auto ended = service->Wait(60s);
    ASSERT_TRUE(ended) << "signal " << signal;
    EXPECT_EQ(ended->exitCode, 0) << ended->err;
    EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped") << "signal " << signal;
  }
}

TEST_F(ServiceProcess, GivesUpAfterFiftyOneAttemptsAndOpensTheSettings) {
  // The service runs from a folder whose settings program is a stand-in that notes the count of its arguments.
  fs::path folder = home_.Root() / "installed", started = home_.Root() / "settings-started";
  fs::create_directories(folder);
  fs::copy_file(kvtest::BinDir() / "Kvillo", folder / "Kvillo");
  fs::copy_file(kvtest::BinDir() / "libkvshared.so", folder / "libkvshared.so");
  kvtest::WriteFile(folder / "KvSettings", "#!/bin/sh\necho \"$#\" > '" + started.string() + "'\n");
  fs::permissions(folder / "KvSettings", fs::perms::owner_all);
  kvtest::StoreSettings({{"FontSize", "5000"}, {"Frequency", "0"}});
  kvtest::WriteFile(Wallpaper(), "the previous wallpaper");
  auto ended = Start({}, folder / "Kvillo")->Wait(120s);
  ASSERT_TRUE(ended) << "the service ends after the failure path";
  EXPECT_NE(ended->err.find("Kvillo is not able to render a new wallpaper using the current settings. Please adjust "
                            "your settings and restart Kvillo."), std::string::npos) << ended->err;
  EXPECT_TRUE(kvtest::WaitFor([&] { return kvtest::ReadFile(started) == "0\n"; }, 60s))
      << "started without arguments: " << kvtest::ReadFile(started);
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Running") << "the failure path writes no status";
  EXPECT_EQ(kvtest::ReadFile(Wallpaper()), "the previous wallpaper");
  EXPECT_EQ(Published(), 0);
  EXPECT_FALSE(WindowExists());
  // Without a settings program beside it, the service says so and ends all the same.
  fs::remove(folder / "KvSettings");
  auto alone = kvtest::Run(folder / "Kvillo", {}, {{"DISPLAY", std::nullopt}}, 60s);
  EXPECT_FALSE(alone.timedOut);
  EXPECT_NE(alone.err.find((folder / "KvSettings").string()), std::string::npos) << alone.err;
}

TEST_F(ServiceProcess, RendersAtIdlePriorityAndStartsProgramsAtItsOwn) {
  // Nothing is due; the command notes its priority (fields 19 and 41 of /proc/PID/stat: nice value, scheduling class).
  NothingDue();
  kvtest::WriteFile(Wallpaper(), kvtest::MakeBmp(8, 8, 24, [](int, int) { return 0x336699u; }));
  fs::path noted = home_.Root() / "command-priority", script = home_.Root() / "note.sh";
  kvtest::WriteFile(script, "#!/bin/sh\ncut -d' ' -f19,41 /proc/$$/stat > '" + noted.string() + "'\n");
  fs::permissions(script, fs::perms::owner_all);
  StoreSetting("WallpaperCommand", script.string() + " %f");
  auto service = Start({}, {}, {{"KVILLO_IDLE_PRIORITY", std::nullopt}});
  auto priority = [&] {
    return kvtest::Run("/usr/bin/cut", {"-d ", "-f19,41", "/proc/" + std::to_string(service->Pid()) + "/stat"}).out;
  };
  EXPECT_TRUE(kvtest::WaitFor([&] { return priority() == "19 " + std::to_string(SCHED_IDLE) + "\n"; }, 60s)) << priority();
  const std::string normal = std::to_string(getpriority(PRIO_PROCESS, 0)) + " " + std::to_string(sched_getscheduler(0));
  EXPECT_TRUE(kvtest::WaitFor([&] { return kvtest::ReadFile(noted) == normal + "\n"; }, 60s))
      << "the command runs at " << kvtest::ReadFile(noted) << ", not at the starting " << normal << ": "
      << service->ErrSoFar();
}

}  // namespace
