// PublishWallpaper: the atomic save and every way of setting the wallpaper. No desktop runs here, so the desktops' tools
// are small recording scripts placed first on PATH; each writes the argument list it received.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "PictureFiles.h"
#include "Process.h"
#include "PublishWallpaper.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/image/Picture.h"
#include "kvplatform/wallpaper/Wallpaper.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;

// Each test runs in a process of its own: what it sets needs no undoing.
void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  value ? (void)setenv(name.c_str(), value->c_str(), 1) : (void)unsetenv(name.c_str());
}

class Publish : public testing::Test {
 protected:
  void SetUp() override {
    tools_ = home_.Root() / "tools", record_ = home_.Root() / "record.txt", folder_ = home_.Root() / "wall papers";
    file_ = folder_ / "Kvillo.bmp";
    for (const fs::path& folder : {tools_, folder_}) fs::create_directories(folder);
    SetEnv("DISPLAY", std::nullopt);
    SetEnv("XDG_CURRENT_DESKTOP", std::nullopt);
    SetEnv("GDK_PIXBUF_MODULE_FILE", (home_.Root() / "no-loaders.cache").string());
    SetEnv("KV_RECORD", record_.string());
    SetEnv("PATH", tools_.string() + ":" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"));
    for (const char* tool : {"gsettings", "plasma-apply-wallpaperimage", "dbus-send", "xfconf-query", "pcmanfm-qt",
                             "swaymsg", "recorder"}) Tool(tool);
    bitmap_ = std::make_unique<kv::platform::Bitmap>(std::move(*kv::platform::Bitmap::Create(6, 4)));
    for (int i = 0; i < 24; ++i) bitmap_->SetPixel(i % 6, i / 6, i % 6 * 40 + i / 6 * 10);  // row by row
  }
  // A tool that records its name and tab-separated arguments, prints $KV_OUT_<tool> and exits with $KV_EXIT_<tool>.
  void Tool(const std::string& name, const std::string& extra = "") {
    std::string variable;
    for (char c : name) variable += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    kvtest::WriteFile(tools_ / name, "#!/bin/sh\n"
                                     "{ printf '%s' '" + name + "'; for a in \"$@\"; do printf '\\t%s' \"$a\"; done; "
                                     "printf '\\n'; } >> \"$KV_RECORD\"\n" + extra +
                                         "[ -n \"$KV_OUT_" + variable + "\" ] && printf '%s\\n' \"$KV_OUT_" + variable +
                                         "\"\nexit ${KV_EXIT_" + variable + ":-0}\n");
    fs::permissions(tools_ / name, fs::perms::owner_all);
  }
  std::vector<Args> Recorded() const {
    std::vector<Args> calls;
    std::istringstream lines(kvtest::ReadFile(record_));
    for (std::string line; std::getline(lines, line);) {
      Args args;
      std::istringstream fields(line);
      for (std::string field; std::getline(fields, field, '\t');) args.push_back(field);
      calls.push_back(args);
    }
    return calls;
  }
  kv::Status PublishOnce() {
    fs::remove(record_);
    return kv::service::PublishWallpaper(*bitmap_, file_.string());
  }
  std::string Uri(const fs::path& file) const {
    std::string uri = "file://" + file.string();
    return uri.replace(uri.find("wall papers"), 11, "wall%20papers");
  }
  kvtest::TempHome home_;
  fs::path tools_, record_, folder_, file_;
  std::unique_ptr<kv::platform::Bitmap> bitmap_;
};

TEST_F(Publish, WritesAnExact24BitBitmapOrFailsChangingNothing) {
  ASSERT_TRUE(PublishOnce());
  kvtest::Image image = kvtest::ReadBmp24(file_);
  ASSERT_EQ(std::pair(image.width, image.height), std::pair(6, 4));
  for (std::uint32_t i = 0; i < 24; ++i) EXPECT_EQ(image.Pixel(int(i % 6), int(i / 6)), (i % 6 * 40 + i / 6 * 10) << 16);
  EXPECT_TRUE(Recorded().empty()) << "no display, no desktop: the file alone";
  struct stat info {};
  ASSERT_EQ(stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u) << "other programs of the desktop can read it";
  // A file that cannot be written is a failure, and the desktop is not told.
  fs::create_directories(folder_ / "taken.bmp");
  SetEnv("XDG_CURRENT_DESKTOP", "GNOME");
  auto failed = kv::service::PublishWallpaper(*bitmap_, (folder_ / "taken.bmp").string());
  ASSERT_FALSE(failed);
  EXPECT_NE(failed.error().message.find("taken.bmp"), std::string::npos) << failed.error().message;
  EXPECT_TRUE(Recorded().empty()) << "the wallpaper is not set when the file was not written";
  failed = kv::service::PublishWallpaper(*bitmap_, (home_.Root() / "missing folder" / "K.bmp").string());
  ASSERT_FALSE(failed);
  EXPECT_NE(failed.error().message.find("missing folder"), std::string::npos);
  EXPECT_EQ(kvtest::ReadBmp24(file_).width, 6) << "the previous wallpaper stays";
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 2) << "no temporary file left";
}

TEST_F(Publish, EachDesktopGetsItsOwnCommands) {
  for (auto [desktop, schema] : std::vector<std::pair<std::string, std::string>>{
           {"ubuntu:GNOME", "org.gnome.desktop.background"}, {"Unity", "org.gnome.desktop.background"},
           {"Budgie:GNOME", "org.gnome.desktop.background"}, {"X-Cinnamon", "org.cinnamon.desktop.background"}}) {
    SetEnv("XDG_CURRENT_DESKTOP", desktop);
    ASSERT_TRUE(PublishOnce());
    EXPECT_EQ(Recorded(), (std::vector<Args>{{"gsettings", "set", schema, "picture-uri", Uri(file_)},
                                             {"gsettings", "set", schema, "picture-uri-dark", Uri(file_)},
                                             {"gsettings", "set", schema, "picture-options", "centered"}})) << desktop;
  }
  SetEnv("XDG_CURRENT_DESKTOP", "MATE");
  ASSERT_TRUE(PublishOnce());
  EXPECT_EQ(Recorded(), (std::vector<Args>{{"gsettings", "set", "org.mate.background", "picture-filename", file_.string()},
                                           {"gsettings", "set", "org.mate.background", "picture-options", "centered"}}));
  SetEnv("XDG_CURRENT_DESKTOP", "sway");
  ASSERT_TRUE(PublishOnce());
  EXPECT_EQ(Recorded(), (std::vector<Args>{{"swaymsg", "output * bg \"" + file_.string() + "\" center"}}));
  // XFCE: every last-image listed, and its style; a desktop that never showed a picture gets the property created.
  SetEnv("XDG_CURRENT_DESKTOP", "XFCE");
  const std::string a = "/backdrop/screen0/monitorVirtual-1/workspace0/", b = "/backdrop/screen0/monitorHDMI-1/workspace1/";
  SetEnv("KV_OUT_xfconf_query", a + "last-image\n" + a + "image-style\n" + b + "last-image\n/desktop-icons/style");
  ASSERT_TRUE(PublishOnce());
  const std::string copy = (folder_ / "Kvillo-a.bmp").string();
  auto set = [&](const std::string& property, const char* type, const std::string& value) {
    return Args{"xfconf-query", "-c", "xfce4-desktop", "-p", property, "-n", "-t", type, "-s", value};
  };
  EXPECT_EQ(Recorded(), (std::vector<Args>{{"xfconf-query", "-c", "xfce4-desktop", "-l"},
                                           set(a + "last-image", "string", copy), set(a + "image-style", "int", "1"),
                                           set(b + "last-image", "string", copy), set(b + "image-style", "int", "1")}));
  SetEnv("KV_OUT_xfconf_query", "/desktop-icons/style");
  ASSERT_TRUE(PublishOnce());
  ASSERT_EQ(Recorded().size(), 3u);
  EXPECT_EQ(Recorded()[1], set("/backdrop/screen0/monitor0/workspace0/last-image", "string",
                               (folder_ / "Kvillo-b.bmp").string()));
}

TEST_F(Publish, DesktopsThatCacheThePathGetAlternatingRealCopies) {
  SetEnv("XDG_CURRENT_DESKTOP", "KDE");
  std::vector<std::string> handed;
  for (int round = 0; round < 3; ++round) {
    bitmap_->SetPixel(0, 0, round + 1);
    ASSERT_TRUE(PublishOnce());
    auto calls = Recorded();
    ASSERT_EQ(std::pair(calls.size(), calls[0].size()), (std::pair<size_t, size_t>(1, 4)));
    EXPECT_EQ(Args(calls[0].begin(), calls[0].begin() + 3), (Args{"plasma-apply-wallpaperimage", "-f", "pad"}));
    handed.push_back(calls[0][3]);
    EXPECT_EQ(kvtest::ReadFile(calls[0][3]), kvtest::ReadFile(file_)) << "the copy holds this round's wallpaper";
  }
  EXPECT_EQ(handed, (std::vector<std::string>{(folder_ / "Kvillo-a.bmp").string(), (folder_ / "Kvillo-b.bmp").string(),
                                              (folder_ / "Kvillo-a.bmp").string()}));
  EXPECT_EQ(kvtest::ReadBmp24(folder_ / "Kvillo-b.bmp").Pixel(0, 0), 2u << 16) << "b still holds round 2";
  // Older Plasma: the command refuses the option, the shell's script interface takes over.
  SetEnv("KV_EXIT_plasma_apply_wallpaperimage", "1");
  ASSERT_TRUE(PublishOnce());
  auto calls = Recorded();
  ASSERT_EQ(std::pair(calls.size(), calls.at(1).size()), (std::pair<size_t, size_t>(2, 7)));
  EXPECT_EQ(calls[1][0] + " " + calls[1][5], "dbus-send org.kde.PlasmaShell.evaluateScript");
  EXPECT_TRUE(calls[1][6].starts_with("string:")) << calls[1][6];
  EXPECT_NE(calls[1][6].find(Uri(folder_ / "Kvillo-b.bmp")), std::string::npos) << calls[1][6];
  EXPECT_NE(calls[1][6].find("'FillMode', 6"), std::string::npos);
  // LXQt without its desktop running (another user's does not count): no command (it would become the desktop's single
  // instance); the settings the desktop starts with keep the picture, and stderr says why nothing changed now.
  SetEnv("XDG_CURRENT_DESKTOP", "LXQt");
  std::optional<kvtest::Child> stranger;
  if (geteuid() == 0) {
    stranger.emplace("/usr/bin/setpriv", Args{"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/bash", "-c",
                                              "exec -a pcmanfm-qt /bin/bash -c 'sleep 600; :' x --desktop --profile=lxqt"});
    const std::string cmdline = "/proc/" + std::to_string(stranger->Pid()) + "/cmdline";
    ASSERT_TRUE(kvtest::WaitFor([&] { return kvtest::ReadFile(cmdline).starts_with("pcmanfm-qt"); }, 60s));
  }
  fs::path settings = home_.ConfigHome() / "pcmanfm-qt" / "lxqt" / "settings.conf";
  kvtest::WriteFile(settings, "[Behavior]\nSingleClick=false\n\n[Desktop]\nBgColor=#000000\nWallpaperMode=none\n\n"
                              "[Window]\nFixedWidth=640\n");
  testing::internal::CaptureStderr();
  ASSERT_TRUE(PublishOnce());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Recorded(), std::vector<Args>{});
  EXPECT_NE(err.find("pcmanfm-qt desktop is not running"), std::string::npos) << err;
  EXPECT_EQ(kvtest::ReadFile(settings), "[Behavior]\nSingleClick=false\n\n[Desktop]\nBgColor=#000000\n"
                                        "WallpaperMode=center\nWallpaper=" + (folder_ / "Kvillo-a.bmp").string() +
                                        "\n\n[Window]\nFixedWidth=640\n")
      << "only the two values changed, in their section";
}

TEST_F(Publish, SeveralMonitorsAreSpannedOrSetOnePerMonitor) {
  auto second = kv::platform::Bitmap::Create(3, 2);
  kv::platform::Monitor primary{"DP-1", {0, 0, 6, 4}, true, std::nullopt}, other{"HDMI/a", {6, 0, 9, 2}, false, {}};
  auto publish = [&](const char* desktop) {
    SetEnv("XDG_CURRENT_DESKTOP", desktop);
    fs::remove(record_);
    return kv::service::PublishMonitorWallpapers(*bitmap_, file_.string(), {{primary, bitmap_.get()}, {other, &*second}});
  };
  ASSERT_TRUE(publish("GNOME"));
  EXPECT_EQ(Recorded().at(2), (Args{"gsettings", "set", "org.gnome.desktop.background", "picture-options", "spanned"}));
  EXPECT_EQ(Recorded().at(0).back(), Uri(file_)) << "the whole screen's file";
  ASSERT_TRUE(publish("MATE"));
  EXPECT_EQ(Recorded().at(1), (Args{"gsettings", "set", "org.mate.background", "picture-options", "spanned"}));
  ASSERT_TRUE(publish("KDE"));
  ASSERT_EQ(Recorded().size(), 1u);
  const std::string script = Recorded()[0].back();
  EXPECT_NE(script.find("[0,0,'" + Uri(folder_ / "Kvillo-DP-1-a.bmp") + "']"), std::string::npos) << script;
  EXPECT_NE(script.find("[6,0,'" + Uri(folder_ / "Kvillo-HDMI_a-a.bmp") + "']"), std::string::npos)
      << "a fresh name (no path from the connector's name), matched by the screen's place: " << script;
  EXPECT_EQ(kvtest::ReadBmp24(folder_ / "Kvillo-HDMI_a.bmp").width, 3) << "each monitor's own picture";
}

TEST_F(Publish, TheUsersCommandComesFirstAndRunsWithoutAShell) {
  SetEnv("XDG_CURRENT_DESKTOP", "GNOME");
  kvtest::StoreSetting("WallpaperCommand", "recorder --file \"%f\" 'two words' 100%% $HOME;echo");
  ASSERT_TRUE(PublishOnce());
  EXPECT_EQ(Recorded(), (std::vector<Args>{{"recorder", "--file", file_.string(), "two words", "100%", "$HOME;echo"}}))
      << "only the command ran, its arguments as written, nothing expanded by a shell";
  const fs::path png = folder_ / "Kvillo.png";
  EXPECT_FALSE(fs::exists(png)) << "no PNG copy unless the command asks for one";
  // Setters that cannot read bitmaps take the PNG copy through %p.
  kvtest::StoreSetting("WallpaperCommand", "recorder %p --bmp=%f");
  ASSERT_TRUE(PublishOnce());
  EXPECT_EQ(Recorded(), (std::vector<Args>{{"recorder", png.string(), "--bmp=" + file_.string()}}));
  auto copy = kv::platform::LoadPicture(png, 0);
  EXPECT_TRUE(copy && copy->Width() == 6 && copy->Height() == 4 && kvtest::ReadFile(png).substr(1, 3) == "PNG");
  auto args = kv::platform::ExpandWallpaperCommand(R"(a\ b "c \"d\" \\ %p" '%f' x%fy)", "/w/K.bmp", "/w/K.png");
  ASSERT_TRUE(args);
  EXPECT_EQ(*args, (Args{"a b", "c \"d\" \\ /w/K.png", "%f", "x/w/K.bmpy"})) << "single quotes keep even %f";
  for (const char* bad : {"set 'open", "say \"open", "   "}) EXPECT_FALSE(kv::platform::ExpandWallpaperCommand(bad, "f"));
  // An empty stored command counts as none; GNOME without loaders for bitmaps gets the PNG copy, with them the bitmap.
  kvtest::StoreSetting("WallpaperCommand", "");
  kvtest::WriteFile(home_.Root() / "no-loaders.cache", "\"/x/libpixbufloader-png.so\"\n\"png\" \"image/png\"\n");
  ASSERT_TRUE(PublishOnce());
  EXPECT_EQ(Recorded().at(0).at(4), Uri(png));
  kvtest::WriteFile(home_.Root() / "no-loaders.cache", "\"bmp\" \"image/bmp\"\n");
  ASSERT_TRUE(PublishOnce());
  EXPECT_EQ(Recorded().at(0).at(4), Uri(file_));
  // The value is only read: a user who never set one still has none.
  kvtest::TempHome fresh;
  ASSERT_TRUE(kv::service::PublishWallpaper(*bitmap_, (fresh.Root() / "K.bmp").string()));
  EXPECT_FALSE(kvtest::StoredSetting("WallpaperCommand")) << "no default is stored";
}

TEST_F(Publish, ARefusedMissingOrHungBackendIsOneLineAndStillDone) {
  auto errOf = [&](const std::string& command) {
    kvtest::StoreSetting("WallpaperCommand", command);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(PublishOnce()) << command;
    return testing::internal::GetCapturedStderr();
  };
  SetEnv("KV_EXIT_recorder", "3");
  std::string err = errOf("recorder %f");
  EXPECT_NE(err.find("exit status 3"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_TRUE(fs::exists(file_));
  EXPECT_NE(errOf("no-such-tool-anywhere %f").find("not installed"), std::string::npos);
  EXPECT_NE(errOf("unbalanced 'quote").find("WallpaperCommand"), std::string::npos);
  // A tool that hangs, with a helper of its own still holding its output.
  Tool("hang", "sleep 30 &\nexec sleep 30\n");
  SetEnv("KVILLO_COMMAND_TIMEOUT_MS", "300");
  auto start = std::chrono::steady_clock::now();
  err = errOf("hang");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << "the hung tool was not waited for";
  EXPECT_NE(err.find("did not finish in time"), std::string::npos) << err;
  // A desktop whose tool is missing.
  fs::remove(tools_ / "gsettings");
  SetEnv("PATH", tools_.string());
  SetEnv("XDG_CURRENT_DESKTOP", "GNOME");
  EXPECT_NE(errOf("").find("gsettings is not installed"), std::string::npos);
}

}  // namespace
