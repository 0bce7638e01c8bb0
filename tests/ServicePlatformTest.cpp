// The platform pieces the service stands on: dates, the socket, starting programs, event loop, autostart, message box.

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>
#include <thread>

#include "Process.h"
#include "TempHome.h"
#include "Xvfb.h"
#include "kvplatform/display/MessageBox.h"
#include "kvplatform/process/Autostart.h"
#include "kvplatform/process/EventLoop.h"
#include "kvplatform/process/InstanceLock.h"
#include "kvplatform/process/LocalTime.h"
#include "kvplatform/process/Process.h"
#include "kvplatform/process/ServiceWindow.h"

namespace {

using namespace kv::platform;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(LocalTime, DatesRoundTripAndAddWholeDays) {
  LocalDateTime when{2026, 12, 31, 23, 59, 58};
  EXPECT_EQ(FormatIso(when), "2026-12-31T23:59:58");
  EXPECT_EQ(ParseIso("2026-12-31T23:59:58"), when);
  EXPECT_EQ(FormatIso(AddDays(when, 1)), "2027-01-01T23:59:58");
  EXPECT_EQ(FormatIso(AddDays({2028, 2, 28, 8, 30, 0}, 1)), "2028-02-29T08:30:00");
  EXPECT_EQ(FormatIso(AddDays({2026, 1, 31, 8, 30, 0}, 30)), "2026-03-02T08:30:00");
  EXPECT_EQ(FormatIso(AddDays({2026, 3, 2, 8, 30, 0}, -2)), "2026-02-28T08:30:00");
  for (const char* date : {"10000-01-01T08:30:00", "123456789-02-28T00:00:00", "2024-02-29T12:00:00"})
    EXPECT_EQ(ParseIso(date) ? FormatIso(*ParseIso(date)) : "unreadable", date);
  for (const char* bad : {"", "2026-12-31", "2026-12-31 23:59:58", "2026-02-29T10:00:00", "2026-12-31T24:00:00",
                          "20x6-12-31T23:59:58", "2026-12-31T23:59:58Z", "999-01-01T00:00:00",
                          "1234567890-01-01T00:00:00"})
    EXPECT_FALSE(ParseIso(bad)) << bad;
  EXPECT_EQ(MinutesBetween({2026, 12, 6, 8, 30, 59}, {2026, 12, 6, 8, 31, 0}), 1) << "minute boundaries, not seconds";
  EXPECT_EQ(MinutesBetween({2026, 12, 6, 8, 30, 0}, {2026, 12, 6, 8, 30, 59}), 0);
  EXPECT_EQ(MinutesBetween({2026, 12, 31, 23, 0, 0}, {2027, 1, 1, 1, 0, 0}), 120);
}

TEST(ServiceWindow, FoundClosedAndReplacedWhenStaleOnlyInAPrivateFolder) {
  kvtest::TempHome home;
  EXPECT_FALSE(FindServiceWindow("ThunderRT6FormDC", "Test"));
  auto window = std::make_optional(ServiceWindow::Create("ThunderRT6FormDC", "Test"));
  ASSERT_TRUE(*window) << (*window).error().message;
  fs::path path = *ServiceWindowPath("ThunderRT6FormDC", "Test");
  EXPECT_EQ(path, home.RuntimeDir() / "kvillo" / "ThunderRT6FormDC.Test");
  EXPECT_EQ(fs::status(path.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_FALSE(ServiceWindow::Create("ThunderRT6FormDC", "Test")) << "one window of a name";
  EventLoop loop;
  bool closed = false;
  (**window).Attach(loop, [&] { closed = true; }, [&] { loop.Quit(); });
  std::thread requester([&] {
    EXPECT_TRUE(FindServiceWindow("ThunderRT6FormDC", "Test"));
    EXPECT_TRUE(CloseServiceWindow("ThunderRT6FormDC", "Test", 60s));
  });
  ASSERT_TRUE(loop.Run());
  requester.join();
  EXPECT_TRUE(closed);
  window.reset();
  EXPECT_FALSE(fs::exists(path)) << "the socket goes with its window";
  // A socket left by a process that died answers nobody and is replaced.
  int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(stale);
  EXPECT_FALSE(FindServiceWindow("ThunderRT6FormDC", "Test"));
  EXPECT_TRUE(ServiceWindow::Create("ThunderRT6FormDC", "Test"));
  EXPECT_FALSE(CloseServiceWindow("ThunderRT6FormDC", "Nobody", 1s));
  // A folder other users can enter, or a link to one elsewhere, is refused.
  fs::remove_all(path.parent_path());
  fs::create_directories(path.parent_path());
  chmod(path.parent_path().c_str(), 0777);
  auto open = ServiceWindow::Create("ThunderRT6FormDC", "Test");
  ASSERT_FALSE(open);
  EXPECT_NE(open.error().message.find("other users"), std::string::npos) << open.error().message;
  fs::remove(path.parent_path());
  fs::create_directories(home.Root() / "elsewhere");
  fs::create_directory_symlink(home.Root() / "elsewhere", path.parent_path());
  EXPECT_FALSE(ServiceWindow::Create("ThunderRT6FormDC", "Test")) << "a link is not followed";
  EXPECT_TRUE(fs::is_empty(home.Root() / "elsewhere"));
}

// A program started detached runs at the priority before the idle one (fields 19, 41 of /proc/PID/stat).
TEST(StartingPrograms, KeepTheStartingPriorityAndNameMissingPrograms) {
  kvtest::TempHome home;
  const std::string normal = std::to_string(getpriority(PRIO_PROCESS, 0)) + " " + std::to_string(sched_getscheduler(0));
  fs::path marker = home.Root() / "marker", script = home.Root() / "tool.sh";
  kvtest::WriteFile(script, "#!/bin/sh\necho \"$1 $(cut -d' ' -f19,41 /proc/$$/stat)\" > '" + marker.string() + "'\n");
  fs::permissions(script, fs::perms::owner_all);
  unsetenv("KVILLO_IDLE_PRIORITY");
  EnterIdlePriority();
  auto pid = StartDetached(script, {"hello world"});
  ASSERT_TRUE(pid) << pid.error().message;
  EXPECT_GT(*pid, 0);
  EXPECT_TRUE(kvtest::WaitFor([&] { return kvtest::ReadFile(marker) == "hello world " + normal + "\n"; }, 60s))
      << kvtest::ReadFile(marker) << " instead of the starting priority " << normal;
  auto missing = StartDetached(home.Root() / "KvSettings", {});
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().message.find((home.Root() / "KvSettings").string()), std::string::npos);
  kvtest::WriteFile(home.Root() / "plain", "not a program");
  EXPECT_FALSE(StartDetached(home.Root() / "plain", {}));
}

TEST(EventLoop, TimersTickAndSignalsArriveThroughTheLoop) {
  EventLoop loop;
  int ticks = 0, stopped = 0, received = 0;
  EventLoop::TimerId timer = loop.AddTimer(20ms, [&] { if (++ticks == 3) kill(getpid(), SIGHUP); });
  (void)loop.AddTimer(0ms, [&] { ++stopped; });
  ASSERT_TRUE(loop.WatchSignals({SIGHUP}, [&](int signal) { received = signal, loop.Quit(); }));
  ASSERT_TRUE(loop.Run());
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(received, SIGHUP);
  EXPECT_EQ(stopped, 0) << "a timer of interval 0 does not tick";
  // A handler that runs long gets one merged tick, not a burst of the ten it missed (a busy machine only merges more).
  loop.SetTimerInterval(timer, 0ms);
  std::chrono::steady_clock::time_point slowEnded;
  std::vector<std::chrono::steady_clock::time_point> after;
  (void)loop.AddTimer(10ms, [&] {
    if (slowEnded == std::chrono::steady_clock::time_point{})
      usleep(100'000), slowEnded = std::chrono::steady_clock::now();
    else if (after.push_back(std::chrono::steady_clock::now()); after.size() == 6) loop.Quit();
  });
  ASSERT_TRUE(loop.Run());
  ASSERT_EQ(after.size(), 6u);
  EXPECT_GE(after.back() - slowEnded, 30ms) << "the missed ticks were merged, not replayed";
}

TEST(Autostart, EntriesRoundTripWithAnyPath) {
  kvtest::TempHome home;
  EXPECT_EQ(*ReadAutostartEntry("Kvillo"), std::nullopt);
  EXPECT_FALSE(*DeleteAutostartEntry("Kvillo"));
  std::vector<std::string> command{
      "/home/ann/My Apps/kvillo $HOME \"quoted\" back\\slash`tick`/100%k dir/Kvillo", "/boot", "50%f"};
  ASSERT_TRUE(WriteAutostartEntry("Kvillo", "Renews the wallpaper", command));
  fs::path file = home.ConfigHome() / "autostart" / "Kvillo.desktop";
  std::string text = kvtest::ReadFile(file);
  EXPECT_NE(text.find("[Desktop Entry]\nType=Application\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Exec=\"/home/ann/My Apps/kvillo \\\\$HOME"), std::string::npos) << text;
  EXPECT_NE(text.find("/100%%k dir/Kvillo\" /boot 50%%f\n"), std::string::npos) << "a % is no field code: " << text;
  EXPECT_EQ(ReadAutostartEntry("Kvillo")->value(), command);
  EXPECT_EQ(QuoteExec({"/usr/lib/kvillo/Kvillo", "/boot"}), "/usr/lib/kvillo/Kvillo /boot");
  EXPECT_EQ(UnquoteExec("a \"b c\"  d"), (std::vector<std::string>{"a", "b c", "d"}));
  EXPECT_EQ(UnquoteExec("\"open"), std::nullopt);
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1) << "no temporary file is left behind";
  kvtest::WriteFile(file, text + "Hidden=true\n");
  EXPECT_EQ(*ReadAutostartEntry("Kvillo"), std::nullopt) << "a hidden entry is no entry";
  kvtest::WriteFile(file, "[Desktop Entry]\nName=Kvillo\n[Other]\nExec=elsewhere\n");
  EXPECT_EQ(*ReadAutostartEntry("Kvillo"), std::nullopt);
  EXPECT_TRUE(*DeleteAutostartEntry("Kvillo"));
  EXPECT_FALSE(fs::exists(file));
}

TEST(MessageBox, EndsCleanlyWhenItsDisplayGoes) {
  // The dialog runs in a child process, as in the service.
  auto x = std::make_unique<kvtest::Xvfb>(640, 480);
  x->StartWindowManager();
  x->Export();
  pid_t child = fork();
  if (child == 0) {
    ShowMessageBox("Kvillo", "The display is about to go.", MessageIcon::Error);
    _exit(0);
  }
  ASSERT_TRUE(kvtest::WaitFor([&] { return x->HasWindow("Kvillo"); }, 60s));
  kvtest::SavePng(x->CaptureRoot(), kvtest::ScreenshotDir() / "message-box.png");
  x.reset();  // log-off: the X server ends under the dialog
  int status = 0;
  bool ended = kvtest::WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 60s);
  if (!ended) kill(child, SIGKILL);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no crash and no exit from inside Xlib: " << status;
}

TEST(InstanceLock, ALockWhoseFileWasRemovedIsReclaimedUnlessAnotherHolderCameFirst) {
  kvtest::TempHome home;
  const fs::path file = home.Root() / "service.lock";
  auto first = InstanceLock::TryAcquire(file);
  ASSERT_TRUE(first && *first);
  fs::remove(file);
  EXPECT_FALSE((*first)->StillInPlace());
  {
    auto other = InstanceLock::TryAcquire(file);
    ASSERT_TRUE(other && *other) << "a removed lock no longer keeps a second holder out";
    auto reclaimed = (*first)->Reclaim();
    ASSERT_TRUE(reclaimed);
    EXPECT_FALSE(*reclaimed) << "the other holder keeps the lock";
  }
  fs::remove(file);
  auto reclaimed = (*first)->Reclaim();
  ASSERT_TRUE(reclaimed && *reclaimed);
  EXPECT_TRUE((*first)->StillInPlace());
  EXPECT_EQ(kvtest::ReadFile(file), std::to_string(getpid()) + "\n");
}

}  // namespace
