// kvctl against the real service process: a wallpaper now, pause, resume,
// stop, start and status; a render without a service; a stranger's request.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "WallpaperRecorder.h"
#include "kvplatform/process/ServiceWindow.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvtest::StoredSetting;
using kvtest::StoreSetting;

class Kvctl : public testing::Test {
 protected:
  void SetUp() override {
    StoreSetting("FirstTime", "1");
    StoreSetting("Path", kvtest::BinDir().string());
    StoreSetting("SelectedFonts0", "DejaVu Sans");
    StoreSetting("SelectedBackgrounds0", "Weave");
    StoreSetting("SelectedQuotesFiles0", "Craft");
    StoreSetting("FontSize", "30");
    // Hourly checks of 10 minutes each: no update of the schedule's own
    // comes during a test, so every new wallpaper is one kvctl asked for.
    StoreSetting("Frequency", "4");
    recorder_.emplace(home_.Root());
  }

  std::map<std::string, std::optional<std::string>> Env() const {
    return {{"KVILLO_TICK_MS", "600000"}, {"DISPLAY", std::nullopt}};
  }
  kvtest::ProcessResult Ctl(const std::vector<std::string>& args) const {
    return kvtest::Run(kvtest::BinDir() / "kvctl", args, Env(), 120s);
  }
  std::unique_ptr<kvtest::Child> StartService() const {
    return std::make_unique<kvtest::Child>(kvtest::BinDir() / "Kvillo", std::vector<std::string>{}, Env());
  }
  static bool WindowExists() { return kv::platform::FindServiceWindow("ThunderRT6FormDC", "KvilloService"); }
  fs::path Socket() const { return home_.RuntimeDir() / "kvillo" / "ThunderRT6FormDC.KvilloService"; }
  int Published() const { return recorder_->Published(); }

  // The status as JSON, read back field by field by a real JSON parser.
  std::string JsonStatus() const {
    auto status = Ctl({"status", "--json"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    fs::path file = home_.Root() / "status.json";
    kvtest::WriteFile(file, status.out);
    auto parsed = kvtest::Run("/usr/bin/python3",
                              {"-c",
                               "import json,sys; d=json.load(open(sys.argv[1])); "
                               "print('|'.join(str(d[k]) for k in ('state','nextUpdate','quote','background','font')))",
                               file.string()});
    EXPECT_EQ(parsed.exitCode, 0) << "not JSON: " << status.out << parsed.err;
    return parsed.out;
  }

  kvtest::TempHome home_;
  std::optional<kvtest::WallpaperRecorder> recorder_;
};

// A request from another user on the service's socket: 0 when it was hung
// up on without an answer, 1 when it was answered, 2 when the child could
// not become another user or connect.
int StrangersRequest(const fs::path& socketFile) {
  pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketFile.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(2);
    timeval limit{60, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    (void)!send(fd, "render\n", 7, MSG_NOSIGNAL);
    char c = 0;
    _exit(read(fd, &c, 1) > 0 ? 1 : 0);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

TEST_F(Kvctl, ControlsARunningServiceForItsUserAlone) {
  auto service = StartService();
  ASSERT_TRUE(kvtest::WaitFor([&] { return WindowExists() && Published() == 1; }, 60s)) << service->ErrSoFar();
  EXPECT_TRUE(kvtest::WaitFor([&] { return StoredSetting("LastQuote").value_or("") != ""; }, 60s))
      << "the service stores what its wallpaper shows";

  // Each next is one whole cycle, answered when its wallpaper is out.
  for (int i = 2; i <= 3; ++i) {
    auto next = Ctl({"next"});
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(Published(), i) << "answered only after the new wallpaper was published";
  }
  EXPECT_EQ(StoredSetting("LastBackground"), "Weave");
  EXPECT_EQ(StoredSetting("LastFont"), "DejaVu Sans");
  std::string running = JsonStatus();
  EXPECT_TRUE(running.starts_with("Running|20")) << running << ": the state and the next update's date";
  EXPECT_NE(running.find("|Weave|DejaVu Sans"), std::string::npos) << running;
  auto text = Ctl({"status"});
  EXPECT_NE(text.out.find("State: Running\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Quote: " + StoredSetting("LastQuote").value_or("?") + "\n"), std::string::npos) << text.out;

  // Another user who can reach the socket file gets no render and no answer.
  for (const fs::path& folder : {home_.Root(), home_.RuntimeDir(), home_.RuntimeDir() / "kvillo"}) {
    ASSERT_EQ(chmod(folder.c_str(), 0711), 0);
  }
  ASSERT_EQ(chmod(Socket().c_str(), 0666), 0);
  EXPECT_EQ(StrangersRequest(Socket()), 0) << "1: a stranger got an answer; 2: it could not even connect";
  for (const fs::path& folder : {home_.Root(), home_.RuntimeDir(), home_.RuntimeDir() / "kvillo"}) {
    ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
  }
  EXPECT_EQ(Published(), 3) << "no render for a stranger";

  // Pause: the service stays, renders nothing, and says why.
  EXPECT_EQ(Ctl({"pause"}).exitCode, 0);
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Paused");
  EXPECT_TRUE(JsonStatus().starts_with("Paused|"));
  auto paused = Ctl({"next"});
  EXPECT_EQ(paused.exitCode, 1) << "not possible now";
  EXPECT_NE(paused.err.find("resume"), std::string::npos) << paused.err;
  EXPECT_EQ(Published(), 3);
  EXPECT_EQ(Ctl({"resume"}).exitCode, 0);
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Running");
  EXPECT_EQ(Ctl({"next"}).exitCode, 0);
  EXPECT_EQ(Published(), 4);

  EXPECT_EQ(Ctl({"start"}).exitCode, 1) << "one is running already";
  auto stop = Ctl({"stop"});
  EXPECT_EQ(stop.exitCode, 0) << stop.err;
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped") << "written before the answer";
  auto ended = service->Wait(60s);
  ASSERT_TRUE(ended) << "the service ends on kvctl stop";
  EXPECT_EQ(ended->exitCode, 0) << ended->err;
  for (const char* command : {"stop", "pause", "resume"}) EXPECT_EQ(Ctl({command}).exitCode, 1) << command;
  EXPECT_TRUE(JsonStatus().starts_with("Stopped|None|")) << "no next update without a service";
}

TEST_F(Kvctl, WithoutAServiceRendersItselfAndStarts) {
  auto next = Ctl({"next"});
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(Published(), 1);
  EXPECT_TRUE(fs::exists(home_.DataHome() / "kvillo" / "Kvillo.bmp"));
  EXPECT_FALSE(WindowExists()) << "a render of its own leaves no service behind";
  for (const auto& bad : std::vector<std::vector<std::string>>{{}, {"sideways"}, {"next", "now"}, {"status", "--xml"}}) {
    auto usage = Ctl(bad);
    EXPECT_EQ(usage.exitCode, 2) << bad.size();
    EXPECT_NE(usage.err.find("usage: kvctl"), std::string::npos);
  }
  EXPECT_EQ(Ctl({"--help"}).exitCode, 0);
  EXPECT_EQ(Ctl({"start"}).exitCode, 0);
  ASSERT_TRUE(kvtest::WaitFor([&] { return WindowExists() && Published() == 2; }, 60s)) << "the started service runs";
  EXPECT_EQ(Ctl({"stop"}).exitCode, 0);
  EXPECT_TRUE(kvtest::WaitFor([&] { return !WindowExists(); }, 60s));
}

}  // namespace
