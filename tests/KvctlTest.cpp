// kvctl against the real service process: a render without a service, start, a wallpaper now, pause, resume, stop and
// status; a stranger's request.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "WallpaperRecorder.h"
#include "kvplatform/process/ServiceWindow.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvtest::StoredSetting;

// Another user's request on the socket: 0 when hung up on unanswered, 1 when answered, 2 when it could not connect.
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

TEST(Kvctl, RendersWithoutAServiceThenStartsAndControlsOneForItsUserAlone) {
  kvtest::TempHome home;
  kvtest::StoreSettings({{"FirstTime", "1"}, {"SelectedFonts0", "DejaVu Sans"}, {"SelectedBackgrounds0", "Weave"},
                         {"SelectedQuotesFiles0", "Craft"}, {"FontSize", "30"}, {"Frequency", "4"},
                         {"Path", kvtest::BinDir().string()}});
  // Hourly checks of 10-minute ticks: every new wallpaper during the test is one kvctl asked for.
  kvtest::WallpaperRecorder recorder(home.Root());
  auto ctl = [](const std::vector<std::string>& args) {
    return kvtest::Run(kvtest::BinDir() / "kvctl", args, {{"KVILLO_TICK_MS", "600000"}, {"DISPLAY", std::nullopt}}, 120s);
  };
  auto windowExists = [] { return kv::platform::FindServiceWindow("ThunderRT6FormDC", "KvilloService"); };
  auto jsonStatus = [&] {
    auto status = ctl({"status", "--json"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    kvtest::WriteFile(home.Root() / "status.json", status.out);
    auto parsed = kvtest::Run("/usr/bin/python3", {"-c", "import json,sys; d=json.load(open(sys.argv[1])); "
                              "print('|'.join(str(d[k]) for k in ('state','nextUpdate','quote','background','font')))",
                              (home.Root() / "status.json").string()});
    EXPECT_EQ(parsed.exitCode, 0) << "not JSON: " << status.out << parsed.err;
    return parsed.out;
  };
  EXPECT_EQ(ctl({"next"}).Describe(), "ended with exit status 0");
  EXPECT_EQ(recorder.Published(), 1);
  EXPECT_TRUE(fs::exists(home.DataHome() / "kvillo" / "Kvillo.bmp"));
  EXPECT_FALSE(windowExists()) << "a render of its own leaves no service behind";
  EXPECT_TRUE(jsonStatus().starts_with("Stopped|None|")) << "no next update without a service";
  for (const auto& bad : std::vector<std::vector<std::string>>{{}, {"sideways"}, {"next", "now"}, {"status", "--xml"}}) {
    auto usage = ctl(bad);
    EXPECT_EQ(usage.exitCode, 2) << bad.size();
    EXPECT_NE(usage.err.find("usage: kvctl"), std::string::npos);
  }
  EXPECT_EQ(ctl({"--help"}).exitCode, 0);
  for (const char* command : {"stop", "pause", "resume"}) EXPECT_EQ(ctl({command}).exitCode, 1) << command;
  EXPECT_EQ(ctl({"start"}).exitCode, 0);
  ASSERT_TRUE(kvtest::WaitFor([&] { return windowExists() && recorder.Published() == 2; }, 60s)) << "the service runs";
  EXPECT_TRUE(kvtest::WaitFor([&] { return StoredSetting("LastQuote").value_or("") != ""; }, 60s))
      << "the service stores what its wallpaper shows";
  EXPECT_EQ(ctl({"start"}).exitCode, 1) << "one is running already";
  EXPECT_EQ(ctl({"next"}).Describe(), "ended with exit status 0");
  EXPECT_EQ(recorder.Published(), 3) << "answered only after the new wallpaper was published";
  EXPECT_EQ(kvtest::StoredSettings({"LastBackground", "LastFont"}), (std::vector<std::string>{"Weave", "DejaVu Sans"}));
  std::string running = jsonStatus();
  EXPECT_TRUE(running.starts_with("Running|20")) << running << ": the state and the next update's date";
  EXPECT_NE(running.find("|Weave|DejaVu Sans"), std::string::npos) << running;
  auto text = ctl({"status"});
  EXPECT_NE(text.out.find("State: Running\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Quote: " + StoredSetting("LastQuote").value_or("?") + "\n"), std::string::npos) << text.out;
  // Another user who can reach the socket file gets no render and no answer.
  const fs::path socketFile = home.RuntimeDir() / "kvillo" / "ThunderRT6FormDC.KvilloService";
  for (const fs::path& folder : {home.Root(), home.RuntimeDir(), socketFile.parent_path()})
    ASSERT_EQ(chmod(folder.c_str(), 0711), 0);
  ASSERT_EQ(chmod(socketFile.c_str(), 0666), 0);
  EXPECT_EQ(StrangersRequest(socketFile), 0) << "1: a stranger got an answer; 2: it could not even connect";
  for (const fs::path& folder : {home.Root(), home.RuntimeDir(), socketFile.parent_path()})
    ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
  EXPECT_EQ(recorder.Published(), 3) << "no render for a stranger";
  EXPECT_EQ(ctl({"pause"}).exitCode, 0);
  EXPECT_TRUE(jsonStatus().starts_with("Paused|"));
  auto paused = ctl({"next"});
  EXPECT_EQ(paused.exitCode, 1) << "not possible now";
  EXPECT_NE(paused.err.find("resume"), std::string::npos) << paused.err;
  EXPECT_EQ(recorder.Published(), 3);
  EXPECT_EQ(ctl({"resume"}).exitCode, 0);
  EXPECT_EQ(ctl({"next"}).exitCode, 0);
  EXPECT_EQ(recorder.Published(), 4) << "answered only after the new wallpaper was published";
  EXPECT_EQ(ctl({"stop"}).Describe(), "ended with exit status 0");
  EXPECT_TRUE(kvtest::WaitFor([&] { return !windowExists(); }, 60s)) << "the service ends on kvctl stop";
}

}  // namespace
