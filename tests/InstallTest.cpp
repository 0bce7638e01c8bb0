// Installing: the programs, the library and the sample data land together
// under <prefix>/lib/kvillo, with links in <prefix>/bin and the menu entry,
// and the installed programs find their data beside them. A per-user
// install needs no root, and a prefix with a blank in it works.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(Install, PerUserInstallWorksWithoutRoot) {
  kvtest::TempHome home;
  fs::path prefix = home.Root() / "Ann Lee" / ".local";
  auto installed = kvtest::Run(KV_TEST_CMAKE, {"--install", KV_TEST_BUILD_DIR, "--prefix", prefix.string()}, {}, 120s);
  ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
  // Everything it wrote lies below the prefix, so a prefix of the user's
  // own is all an install needs: no root.
  std::string manifest = kvtest::ReadFile(fs::path(KV_TEST_BUILD_DIR) / "install_manifest.txt");
  size_t files = 0;
  for (size_t start = 0; start < manifest.size();) {
    size_t end = manifest.find('\n', start);
    std::string line = manifest.substr(start, end - start);
    if (!line.empty()) {
      ++files;
      EXPECT_TRUE(line.starts_with(prefix.string() + "/")) << line;
    }
    start = end == std::string::npos ? manifest.size() : end + 1;
  }
  EXPECT_GE(files, KV_TEST_WITH_SETTINGS ? 15u : 12u);

  fs::path folder = prefix / "lib" / "kvillo";
  std::vector<std::string> programs{"Kvillo", "kvreg", "kvrender", "kvctl"};
  if (KV_TEST_WITH_SETTINGS) programs.push_back("KvSettings");
  for (const char* file : {"libkvshared.so", "Backgrounds/Aurora.bmp", "files/Craft.txt"}) {
    EXPECT_TRUE(fs::exists(folder / file)) << file;
  }
  for (const std::string& program : programs) {
    EXPECT_TRUE(fs::exists(folder / program)) << program;
    EXPECT_TRUE(fs::is_symlink(prefix / "bin" / program)) << program;
    EXPECT_EQ(fs::canonical(prefix / "bin" / program), fs::canonical(folder / program));
  }
  if (KV_TEST_WITH_SETTINGS) {
    fs::path entry = prefix / "share" / "applications" / "KvSettings.desktop";
    std::string text = kvtest::ReadFile(entry);
    EXPECT_NE(text.find("Exec=\"" + (folder / "KvSettings").string() + "\"\n"), std::string::npos)
        << "the path is quoted as one argument: " << text;
    // The menu's actions run kvctl beside the program, quoted the same way.
    for (const char* action : {"next\n", "pause\n", "resume\n"}) {
      EXPECT_NE(text.find("Exec=\"" + (folder / "kvctl").string() + "\" " + action), std::string::npos) << text;
    }
    auto valid = kvtest::Run("/usr/bin/desktop-file-validate", {entry.string()});
    EXPECT_EQ(valid.exitCode, 0) << valid.out << valid.err;
    EXPECT_EQ(valid.out + valid.err, "") << "the entry has no warnings either";
    EXPECT_TRUE(fs::exists(prefix / "share" / "icons" / "hicolor" / "scalable" / "apps" / "KvSettings.svg"));
    // A desktop's launcher starts the installed program from the entry;
    // without a display the program says so and ends.
    kvtest::Child launcher(
        "/usr/bin/gio", {"launch", entry.string()},
        {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}});
    auto launched = launcher.Wait(60s);
    ASSERT_TRUE(launched) << "the launcher hangs";
    EXPECT_EQ(launched->exitCode, 0) << "the launcher refused the entry: " << launched->err;
    EXPECT_TRUE(kvtest::WaitFor(
        [&] { return launcher.ErrSoFar().find("cannot open the settings window: no display") != std::string::npos; },
        60s))
        << "the menu entry did not start KvSettings: " << launcher.ErrSoFar();
  }

  // The installed programs, started through their links by an ordinary
  // user, use the data folder they were installed with.
  std::vector<std::string> command{"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                   (prefix / "bin" / "kvrender").string(), "--quote", "Installed and working."};
  fs::path program = "/usr/bin/setpriv";
  if (geteuid() == 0) {
    ASSERT_EQ(system(("chown -R 65534:65534 '" + home.Root().string() + "'").c_str()), 0);
  } else {
    program = command[4];
    command.erase(command.begin(), command.begin() + 5);
  }
  auto rendered = kvtest::Run(program, command, {{"DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "320x200"}}, 60s);
  EXPECT_EQ(rendered.exitCode, 0) << rendered.err;
  fs::path wallpaper = home.DataHome() / "kvillo" / "Kvillo.bmp";
  EXPECT_EQ(rendered.out, wallpaper.string() + "\n");
  EXPECT_TRUE(fs::exists(wallpaper));
  EXPECT_EQ(kvtest::StoredSetting("Path"), folder.string());
  EXPECT_EQ(kvtest::StoredSetting("SelectedBackgrounds0"), "Aurora") << "the first run selected the installed pictures";

  auto listed = kvtest::Run(prefix / "bin" / "kvreg", {"get", "software\\Lexora\\wallpaper", "FirstTime"});
  EXPECT_EQ(listed.out, "1\n");
  auto status = kvtest::Run(prefix / "bin" / "kvctl", {"status"});
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_TRUE(status.out.starts_with("State: Stopped\n")) << status.out;
  if (geteuid() == 0) {
    ASSERT_EQ(system(("chown -R 0:0 '" + home.Root().string() + "'").c_str()), 0);
  }
}

// An install the user cannot write (under /usr): the first run gives the
// user a data folder of their own, linked to the installed samples, where
// files can be added without root; a stored "Path" is kept as it is.
TEST(Install, ReadOnlyInstallGivesEachUserAWritableDataFolder) {
  kvtest::TempHome home;
  fs::path prefix = home.Root() / "usr";
  auto installed = kvtest::Run(KV_TEST_CMAKE, {"--install", KV_TEST_BUILD_DIR, "--prefix", prefix.string()}, {}, 120s);
  ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
  fs::path folder = prefix / "lib" / "kvillo";

  // The programs run as an ordinary user who may not write the install;
  // root ignores permissions, so root's test runs them as nobody.
  const bool root = geteuid() == 0;
  auto runAsUser = [&](const std::vector<std::string>& arguments) {
    std::vector<std::string> command = arguments;
    fs::path program = command[0];
    command.erase(command.begin());
    if (root) {
      command.insert(command.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "--", program.string()});
      program = "/usr/bin/setpriv";
    }
    return kvtest::Run(program, command, {{"DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "320x200"}}, 60s);
  };
  if (root) {
    ASSERT_EQ(system(("chown -R 65534:65534 '" + home.Root().string() + "' && chown -R 0:0 '" + prefix.string() +
                      "'").c_str()),
              0);
  } else {
    ASSERT_EQ(system(("chmod -R a-w '" + folder.string() + "'").c_str()), 0);
  }

  auto rendered = runAsUser({(prefix / "bin" / "kvrender").string(), "--quote", "My own folder."});
  EXPECT_EQ(rendered.exitCode, 0) << rendered.err;
  fs::path own = home.DataHome() / "kvillo" / "data";
  EXPECT_EQ(kvtest::StoredSetting("Path"), own.string());
  EXPECT_TRUE(fs::is_symlink(own / "Backgrounds" / "Aurora.bmp"));
  EXPECT_EQ(fs::canonical(own / "Backgrounds" / "Aurora.bmp"), fs::canonical(folder / "Backgrounds" / "Aurora.bmp"));
  EXPECT_TRUE(fs::is_symlink(own / "files" / "Craft.txt"));
  EXPECT_EQ(kvtest::StoredSetting("SelectedBackgrounds0"), "Aurora") << "the samples are offered as before";
  struct stat mine {};
  ASSERT_EQ(stat((own / "Backgrounds").c_str(), &mine), 0);
  EXPECT_EQ(mine.st_uid, root ? 65534u : geteuid()) << "the user's own folder, where files can be added";

  // A user who chose a folder keeps it, whatever the install allows.
  {
    kvtest::TempHome other;
    fs::path chosen = other.Root() / "my pictures";
    fs::create_directories(chosen / "Backgrounds");
    kvtest::StoreSetting("Path", chosen.string());
    if (root) {
      ASSERT_EQ(system(("chown -R 65534:65534 '" + other.Root().string() + "'").c_str()), 0);
    }
    auto again = runAsUser({(prefix / "bin" / "kvrender").string(), "--quote", "As chosen."});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(kvtest::StoredSetting("Path"), chosen.string());
    EXPECT_FALSE(fs::exists(other.DataHome() / "kvillo" / "data"));
  }

  if (root) {
    ASSERT_EQ(system(("chown -R 0:0 '" + home.Root().string() + "'").c_str()), 0);
  } else {
    ASSERT_EQ(system(("chmod -R u+w '" + folder.string() + "'").c_str()), 0);
  }
}

}  // namespace
