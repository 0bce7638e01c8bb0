// The settings window driving the real service process: Start, Pause, Resume, Stop, restart on Apply, start at log-on.

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <QGroupBox>
#include <QTimer>
#include <cstring>
#include <fstream>

#include "Process.h"
#include "WallpaperRecorder.h"
#include "SettingsFixture.h"
#include "Xvfb.h"
#include "kvplatform/process/Autostart.h"
#include "kvplatform/process/ServiceWindow.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvtest::StoredSetting;
using kvtest::StoreSetting;
using kvtest::StoreSettings;

class ServiceControl : public kvtest::SettingsWindowTest {
 protected:
  void SetUp() override {
    SettingsWindowTest::SetUp();
    StoreSettings({{"Path", kvtest::BinDir().string()}, {"SelectedFonts0", "DejaVu Sans"}, {"SelectedBackgrounds0", ""},
                   {"SelectedQuotesFiles0", "Craft"}, {"FontSize", "48"}, {"Frequency", "0"}, {"HAlign", "2"}, {"VAlign", "2"}});
    recorder_.emplace(home_.Root());
    setenv("KVILLO_TICK_MS", "150", 1);
    unsetenv("DISPLAY");
  }
  void TearDown() override {
    if (pid_t pid = ServicePid(); pid > 0) kill(pid, SIGTERM);  // as a log-off ends it
    kvtest::WaitFor([] { return !WindowExists(); }, 10s);
    unsetenv("KVILLO_TICK_MS"), unsetenv("DISPLAY");
    SettingsWindowTest::TearDown();
  }

  static bool WindowExists() { return kv::platform::FindServiceWindow(kv::platform::kServiceWindowClass, "KvilloService"); }
  pid_t ServicePid() const {
    return WindowExists() ? std::atoi(kvtest::ReadFile(home_.RuntimeDir() / "kvillo" / "KvilloService.lock").c_str()) : 0;
  }
  // The process's state letter; empty once it is gone.
  static std::string State(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    stat >> pidText >> name >> state;
    return state;
  }
  int Published() const { return recorder_->Published(); }
  std::string Caption() { return Find<QGroupBox>("fraStartStop")->title().toStdString(); }
  // Lets the window run (its 500 ms status timer included) until `condition` holds.
  template <class Condition>
  bool Eventually(Condition condition, std::chrono::milliseconds timeout = 60s) {
    return kvtest::WaitFor([&] { return QApplication::processEvents(), condition(); }, timeout);
  }
  std::optional<kvtest::WallpaperRecorder> recorder_;
};

TEST_F(ServiceControl, ButtonsStartPauseResumeAndStopTheRealService) {
  OpenCleanly();
  ShowPage(4);
  Pick(List("cboVAlign"), 1);
  Button("cmdApply")->click();
  EXPECT_EQ(StoredSetting("VAlign"), "1");
  EXPECT_FALSE(Eventually([] { return WindowExists(); }, 1500ms)) << "Apply with the service stopped only saves";
  EXPECT_EQ(std::tuple(Caption(), ServiceButtons()), std::tuple("Kvillo status: Stopped", "Start"));
  Button("cmdStart")->click();
  ASSERT_TRUE(Eventually([&] { return Caption() == "Kvillo status: Started"; })) << Caption();
  EXPECT_EQ(ServiceButtons(), "Stop Pause");
  ASSERT_TRUE(Eventually([&] { return Published() >= 2; })) << "the service renders every tick";
  Button("cmdPause")->click();
  EXPECT_EQ(std::tuple(Caption(), StoredSetting("ServiceStatus"), ServiceButtons()),
            std::tuple("Kvillo status: Paused", "Paused", "Stop Resume")) << "the caption follows at once";
  EXPECT_TRUE(WindowExists()) << "a paused service keeps running";
  Button("cmdResume")->click();
  EXPECT_EQ(std::tuple(Caption(), StoredSetting("ServiceStatus")), std::tuple("Kvillo status: Started", "Running"));
  Button("cmdStop")->click();
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped");
  EXPECT_TRUE(Eventually([&] { return Caption() == "Kvillo status: Stopped"; }));
  EXPECT_TRUE(Eventually([] { return !WindowExists(); }));
  EXPECT_EQ(ServiceButtons(), "Start");
}

TEST_F(ServiceControl, ApplyRestartsTheServiceWithTheNewFontColour) {
  kvtest::Xvfb x(640, 480);
  x.Export();  // the services the window starts draw on this screen
  StoreSettings({{"WallpaperCommand", ""}, {"FontColor", "16777215"}});
  OpenCleanly();
  Button("cmdStart")->click();
  ASSERT_TRUE(Eventually([&] { return ServicePid() > 0 && Caption() == "Kvillo status: Started"; }));
  pid_t first = ServicePid();
  ShowPage(2);
  answers_.push_back(QColor(255, 0, 0));
  QTest::mouseClick(Swatch("txtColor"), Qt::LeftButton);
  ASSERT_TRUE(ApplyEnabled());
  auto started = std::chrono::steady_clock::now();
  Button("cmdApply")->click();
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(warnings_.empty()) << warnings_.front();
  EXPECT_EQ(StoredSetting("FontColor"), "255");
  EXPECT_GE(waited, 1s) << "at least a second between the old service and the new";
  ASSERT_TRUE(Eventually([&] { return ServicePid() > 0 && ServicePid() != first; })) << "a new process";
  // The old process has ended (a zombie waiting for its parent counts).
  EXPECT_TRUE(kvtest::WaitFor([&] { return State(first).find_first_not_of("ZX") == std::string::npos; }, 30s));
  ASSERT_TRUE(Eventually([&] { return x.CaptureRoot().InkWhere([](auto p) { return p == 0xff0000u; }).count > 50; }))
      << "the restarted service renders in the new colour";
}

// Fills the listen queue of the socket at `path` with connections nobody accepts.
std::vector<int> FillQueue(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  std::vector<int> connections;
  for (int i = 0; i < 1000; ++i) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      EXPECT_EQ(errno, EAGAIN) << std::strerror(errno);
      close(fd);
      break;
    }
    connections.push_back(fd);
  }
  return connections;
}

struct StoppedProcess {
  explicit StoppedProcess(pid_t stopped) : pid(stopped) { kill(pid, SIGSTOP); }
  ~StoppedProcess() { kill(pid, SIGCONT); }
  pid_t pid;
};

TEST_F(ServiceControl, AServiceThatTakesNoConnectionNeverFreezesTheWindow) {
  StoreSetting("Frequency", "4");
  OpenCleanly();
  Button("cmdStart")->click();
  ASSERT_TRUE(Eventually([&] { return ServicePid() > 0 && Caption() == "Kvillo status: Started"; }));
  pid_t pid = ServicePid();
  // The window decides stopped or not; the stored status only started or paused.
  StoreSetting("ServiceStatus", "Stopped");
  Eventually([] { return false; }, 700ms);  // a tick of the status timer
  EXPECT_EQ(std::tuple(Caption(), ServiceButtons()), std::tuple("Kvillo status: Started", "Stop Pause"));
  std::vector<int> queued;
  {
    StoppedProcess stopped(pid);
    ASSERT_TRUE(kvtest::WaitFor([&] { return State(pid) == "T"; }, 60s)) << "the process did not stop";
    queued = FillQueue(home_.RuntimeDir() / "kvillo" / "ThunderRT6FormDC.KvilloService");
    ASSERT_FALSE(queued.empty());
    window_->RefreshServiceStatus();
    EXPECT_EQ(Caption(), "Kvillo status: Unknown (not responding)");
    EXPECT_EQ(ServiceButtons().substr(0, 4), "Stop") << "Stop stays usable, Start does not";
    // Stop waits for its 30 s and says that it failed; the window keeps handling events all the while.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(100);
    auto started = std::chrono::steady_clock::now();
    Button("cmdStop")->click();
    auto waited = std::chrono::steady_clock::now() - started;
    ticker.stop();
    EXPECT_GE(waited, 29s);
    EXPECT_GT(ticks, 30) << "the window did not handle its events while Stop waited";
    EXPECT_EQ(Caption(), "Kvillo status: Unknown (Kvillo did not stop)");
    EXPECT_NE(Find<QGroupBox>("fraStartStop")->toolTip().toStdString().find("30 seconds"), std::string::npos);
  }
  for (int fd : queued) close(fd);
  // Running again, it answers; the failure stays in view until the user tries again, and then Stop works.
  EXPECT_TRUE(Eventually([&] { return Caption() == "Kvillo status: Started (Kvillo did not stop)"; }, 60s))
      << Caption();
  Button("cmdStop")->click();
  EXPECT_TRUE(Eventually([&] { return Caption() == "Kvillo status: Stopped"; }, 60s)) << Caption();
}

TEST_F(ServiceControl, TheStartAtLogOnFollowsTheBoxOnApply) {
  fs::path entry = home_.ConfigHome() / "autostart" / "Kvillo.desktop";
  OpenCleanly();
  EXPECT_FALSE(Box("chkAutoStart")->isChecked());
  EXPECT_FALSE(ApplyEnabled());
  Box("chkAutoStart")->click();
  EXPECT_TRUE(ApplyEnabled()) << "the box only marks the window changed";
  EXPECT_FALSE(fs::exists(entry));
  Button("cmdApply")->click();
  ASSERT_TRUE(fs::exists(entry));
  auto command = kv::platform::ReadAutostartEntry("Kvillo").value_or(std::nullopt).value_or(std::vector<std::string>{});
  ASSERT_EQ(command.size(), 2u) << kvtest::ReadFile(entry);
  EXPECT_TRUE(command[0].ends_with("/Kvillo") && command[1] == "/boot") << kvtest::ReadFile(entry);
  EXPECT_EQ(access(command[0].c_str(), X_OK), 0) << "the entry starts the service that lies beside the settings program";
  auto written = fs::last_write_time(entry);
  Pick(List("cboFrequency"), 3);
  Button("cmdApply")->click();
  EXPECT_EQ(fs::last_write_time(entry), written);
  OpenCleanly();
  EXPECT_TRUE(Box("chkAutoStart")->isChecked());
  EXPECT_TRUE(ApplyEnabled());
  Box("chkAutoStart")->click();
  Button("cmdApply")->click();
  EXPECT_FALSE(fs::exists(entry));
  // An entry whose command is 255 bytes or longer counts as none; enabling rewrites it.
  kvtest::WriteFile(entry, "[Desktop Entry]\nType=Application\nExec=/" + std::string(250, 'x') + "/Kvillo /boot\n");
  OpenCleanly();
  EXPECT_FALSE(Box("chkAutoStart")->isChecked());
  Box("chkAutoStart")->click();
  Button("cmdApply")->click();
  EXPECT_EQ(kvtest::ReadFile(entry).find(std::string(250, 'x')), std::string::npos);
}

}  // namespace
