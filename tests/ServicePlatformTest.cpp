// The platform pieces the service stands on: local dates, the socket
// identity, the instance lock, starting programs, the event loop and the
// message box.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "Process.h"
#include "TempHome.h"
#include "Xvfb.h"
#include "kvplatform/process/Autostart.h"
#include "kvplatform/process/EventLoop.h"
#include "kvplatform/process/InstanceLock.h"
#include "kvplatform/process/LocalTime.h"
#include "kvplatform/display/MessageBox.h"
#include "kvplatform/base/Paths.h"
#include "kvplatform/process/Process.h"
#include "kvplatform/process/ServiceWindow.h"

namespace {

using namespace kv::platform;
namespace fs = std::filesystem;

TEST(LocalTime, DatesRoundTripAndAddWholeDays) {
  LocalDateTime when{2026, 12, 31, 23, 59, 58};
  EXPECT_EQ(FormatIso(when), "2026-12-31T23:59:58");
  EXPECT_EQ(ParseIso("2026-12-31T23:59:58"), when);
  EXPECT_EQ(FormatIso(AddDays(when, 1)), "2027-01-01T23:59:58");
  EXPECT_EQ(FormatIso(AddDays({2028, 2, 28, 8, 30, 0}, 1)), "2028-02-29T08:30:00");
  EXPECT_EQ(FormatIso(AddDays({2026, 1, 31, 8, 30, 0}, 30)), "2026-03-02T08:30:00");
  EXPECT_EQ(FormatIso(AddDays({2026, 3, 2, 8, 30, 0}, -2)), "2026-02-28T08:30:00");
  for (const char* bad : {"", "2026-12-31", "2026-12-31 23:59:58", "2026-02-29T10:00:00", "2026-12-31T24:00:00",
                          "20x6-12-31T23:59:58", "2026-12-31T23:59:58Z"}) {
    EXPECT_FALSE(ParseIso(bad)) << bad;
  }
  EXPECT_EQ(MinutesBetween({2026, 12, 6, 8, 30, 59}, {2026, 12, 6, 8, 31, 0}), 1) << "minute boundaries, not seconds";
  EXPECT_EQ(MinutesBetween({2026, 12, 6, 8, 30, 0}, {2026, 12, 6, 8, 30, 59}), 0);
  EXPECT_EQ(MinutesBetween({2026, 12, 31, 23, 0, 0}, {2027, 1, 1, 1, 0, 0}), 120);
}

TEST(ServiceWindow, FoundWhileItExistsClosedByRequestAndReplacedWhenStale) {
  kvtest::TempHome home;
  EXPECT_FALSE(FindServiceWindow("ThunderRT6FormDC", "Test"));
  std::optional<ServiceWindow> window;
  {
    auto created = ServiceWindow::Create("ThunderRT6FormDC", "Test");
    ASSERT_TRUE(created) << created.error().message;
    window.emplace(std::move(*created));
  }
  fs::path path = *ServiceWindowPath("ThunderRT6FormDC", "Test");
  EXPECT_EQ(path, home.RuntimeDir() / "kvillo" / "ThunderRT6FormDC.Test");
  EXPECT_EQ(fs::status(path.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_FALSE(ServiceWindow::Create("ThunderRT6FormDC", "Test")) << "one window of a name";

  EventLoop loop;
  bool closed = false;
  window->Attach(loop, [&] { closed = true; }, [&] { loop.Quit(); });
  std::thread requester([&] {
    EXPECT_TRUE(FindServiceWindow("ThunderRT6FormDC", "Test"));
    EXPECT_TRUE(CloseServiceWindow("ThunderRT6FormDC", "Test", std::chrono::seconds(60)));
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
  EXPECT_FALSE(CloseServiceWindow("ThunderRT6FormDC", "Nobody", std::chrono::seconds(1)));
}

TEST(ServiceWindow, RuntimeFolderMustBePrivate) {
  kvtest::TempHome home;
  fs::path folder = home.RuntimeDir() / "kvillo";
  fs::create_directories(folder);
  chmod(folder.c_str(), 0777);
  auto open = ServiceWindow::Create("ThunderRT6FormDC", "Test");
  ASSERT_FALSE(open);
  EXPECT_NE(open.error().message.find("other users"), std::string::npos) << open.error().message;
  fs::remove(folder);
  fs::create_directories(home.Root() / "elsewhere");
  fs::create_directory_symlink(home.Root() / "elsewhere", folder);
  auto linked = ServiceWindow::Create("ThunderRT6FormDC", "Test");
  ASSERT_FALSE(linked) << "a link is not followed";
  EXPECT_TRUE(fs::is_empty(home.Root() / "elsewhere"));
}

TEST(InstanceLock, OneHolderAtATime) {
  kvtest::TempHome home;
  fs::path file = home.Root() / "lock";
  auto first = InstanceLock::TryAcquire(file);
  ASSERT_TRUE(first && *first);
  auto second = InstanceLock::TryAcquire(file);
  ASSERT_TRUE(second);
  EXPECT_FALSE(*second);
  first->reset();
  auto third = InstanceLock::TryAcquire(file);
  ASSERT_TRUE(third && *third);
}

TEST(StartDetached, StartsRealProgramsAndNamesMissingOnes) {
  kvtest::TempHome home;
  fs::path marker = home.Root() / "marker";
  fs::path script = home.Root() / "tool.sh";
  kvtest::WriteFile(script, "#!/bin/sh\necho \"$1\" > '" + marker.string() + "'\n");
  fs::permissions(script, fs::perms::owner_all);
  auto pid = StartDetached(script, {"hello world"});
  ASSERT_TRUE(pid) << pid.error().message;
  EXPECT_GT(*pid, 0);
  EXPECT_TRUE(kvtest::WaitFor([&] { return kvtest::ReadFile(marker) == "hello world\n"; }, std::chrono::seconds(60)));

  auto missing = StartDetached(home.Root() / "KvSettings", {});
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().message.find((home.Root() / "KvSettings").string()), std::string::npos);
  kvtest::WriteFile(home.Root() / "plain", "not a program");
  EXPECT_FALSE(StartDetached(home.Root() / "plain", {}));
}

TEST(EventLoop, TimersTickAndSignalsArriveThroughTheLoop) {
  EventLoop loop;
  int ticks = 0;
  EventLoop::TimerId timer = loop.AddTimer(std::chrono::milliseconds(20), [&] {
    if (++ticks == 3) kill(getpid(), SIGHUP);
  });
  int stopped = 0;
  EventLoop::TimerId idle = loop.AddTimer(std::chrono::milliseconds(0), [&] { ++stopped; });
  (void)idle;
  int received = 0;
  ASSERT_TRUE(loop.WatchSignals({SIGHUP}, [&](int signal) {
    received = signal;
    loop.Quit();
  }));
  ASSERT_TRUE(loop.Run());
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(received, SIGHUP);
  EXPECT_EQ(stopped, 0) << "a timer of interval 0 does not tick";

  // A handler that runs long gets one merged tick, not a burst of the ten
  // it missed. Counted, not timed: a busy machine only merges more.
  ticks = 0;
  loop.SetTimerInterval(timer, std::chrono::milliseconds(0));
  std::chrono::steady_clock::time_point slowEnded;
  std::vector<std::chrono::steady_clock::time_point> after;
  EventLoop::TimerId slow = loop.AddTimer(std::chrono::milliseconds(10), [&] {
    if (slowEnded == std::chrono::steady_clock::time_point{}) {
      usleep(100'000);
      slowEnded = std::chrono::steady_clock::now();
      return;
    }
    after.push_back(std::chrono::steady_clock::now());
    if (after.size() == 6) loop.Quit();
  });
  (void)slow;
  ASSERT_TRUE(loop.Run());
  ASSERT_EQ(after.size(), 6u);
  EXPECT_GE(after.back() - slowEnded, std::chrono::milliseconds(30)) << "the missed ticks were merged, not replayed";
}

TEST(Autostart, EntriesRoundTripWithAnyPath) {
  kvtest::TempHome home;
  EXPECT_EQ(*ReadAutostartEntry("Kvillo"), std::nullopt);
  EXPECT_FALSE(*DeleteAutostartEntry("Kvillo"));

  std::vector<std::string> command{"/home/ann/My Apps/kvillo $HOME \"quoted\" back\\slash`tick`/100%k dir/Kvillo", "/boot",
                                   "50%f"};
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

  for (auto& entry : fs::directory_iterator(file.parent_path())) {
    EXPECT_EQ(entry.path(), file) << "no temporary file is left behind";
  }

  kvtest::WriteFile(file, text + "Hidden=true\n");
  EXPECT_EQ(*ReadAutostartEntry("Kvillo"), std::nullopt) << "a hidden entry is no entry";
  kvtest::WriteFile(file, "[Desktop Entry]\nName=Kvillo\n[Other]\nExec=elsewhere\n");
  EXPECT_EQ(*ReadAutostartEntry("Kvillo"), std::nullopt);

  EXPECT_TRUE(*DeleteAutostartEntry("Kvillo"));
  EXPECT_FALSE(fs::exists(file));
}

TEST(MessageBox, WaitsForTheUserOnADisplayAndOnlyReportsWithout) {
  unsetenv("DISPLAY");
  testing::internal::CaptureStderr();
  ShowMessageBox("Kvillo", "Nobody is here to read this.", MessageIcon::Error);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Nobody is here to read this."), std::string::npos);

  // No window manager: with both cores busy, one sometimes never managed a
  // window mapped early in its life, and the dialog stayed unmapped. The
  // server maps it by itself.
  kvtest::Xvfb x(800, 600);
  x.Export();
  // The dialog runs in a child process, as in the service, which owns its
  // one X connection on its one thread.
  pid_t child = fork();
  if (child == 0) {
    ShowMessageBox("Kvillo", "Kvillo is not able to render a new wallpaper using the current settings.",
                   MessageIcon::Error);
    _exit(0);
  }
  auto ended = [&] { return waitpid(child, nullptr, WNOHANG) == child; };
  bool appeared = kvtest::WaitFor([&] { return x.HasWindow("Kvillo"); }, std::chrono::seconds(60));
  ASSERT_TRUE(appeared) << kvtest::Run("/usr/bin/xwininfo", {"-root", "-tree"}, {{"DISPLAY", x.Display()}}).out;
  kvtest::SavePng(x.CaptureRoot(), kvtest::ScreenshotDir() / "message-box.png");
  usleep(200'000);
  EXPECT_FALSE(ended()) << "the message waits for the user";
  // The key goes to the dialog itself, whichever window has the focus.
  // A key sent before the dialog listens is lost, so it is sent again
  // until the dialog goes, for as long as only a fault would take.
  bool dismissed = false;
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
       !dismissed && std::chrono::steady_clock::now() < until;) {
    kvtest::Run("/usr/bin/xdotool", {"search", "--name", "^Kvillo$", "key", "--window", "%1", "Return"},
                {{"DISPLAY", x.Display()}}, std::chrono::seconds(60));
    dismissed = kvtest::WaitFor(ended, std::chrono::seconds(5));
  }
  if (!dismissed) kill(child, SIGKILL);
  EXPECT_TRUE(dismissed);
  unsetenv("DISPLAY");
}

TEST(MessageBox, ADisplayThatGoesAwayEndsTheWaitCleanly) {
  auto x = std::make_unique<kvtest::Xvfb>(640, 480);
  x->StartWindowManager();
  x->Export();
  pid_t child = fork();
  if (child == 0) {
    ShowMessageBox("Kvillo", "The display is about to go.", MessageIcon::Error);
    _exit(0);
  }
  ASSERT_TRUE(kvtest::WaitFor([&] { return x->HasWindow("Kvillo"); }, std::chrono::seconds(60)));
  x.reset();  // log-off: the X server ends under the dialog
  int status = 0;
  bool ended = kvtest::WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, std::chrono::seconds(60));
  if (!ended) kill(child, SIGKILL);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no crash and no exit from inside Xlib: " << status;
  unsetenv("DISPLAY");
}

}  // namespace
