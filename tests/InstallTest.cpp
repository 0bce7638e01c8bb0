// Installing into a prefix of the user's own, with a blank in it: everything lands inside it, links in <prefix>/bin,
// and the installed programs use the data beside them.

#include <gtest/gtest.h>

#include <sstream>

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
  std::istringstream manifest(kvtest::ReadFile(fs::path(KV_TEST_BUILD_DIR) / "install_manifest.txt"));
  size_t files = 0;
  for (std::string line; std::getline(manifest, line); ++files) EXPECT_TRUE(line.starts_with(prefix.string() + "/")) << line;
  EXPECT_GE(files, KV_TEST_WITH_SETTINGS ? 15u : 12u);
  fs::path folder = prefix / "lib" / "kvillo";
  std::vector<std::string> programs{"Kvillo", "kvreg", "kvrender", "kvctl"};
  if (KV_TEST_WITH_SETTINGS) programs.push_back("KvSettings");
  for (const char* file : {"libkvshared.so", "Backgrounds/Aurora.bmp", "files/Craft.txt"})
    EXPECT_TRUE(fs::exists(folder / file)) << file;
  for (const std::string& program : programs) {
    EXPECT_TRUE(fs::is_symlink(prefix / "bin" / program)) << program;
    EXPECT_EQ(fs::canonical(prefix / "bin" / program), fs::canonical(folder / program));
  }
  if (KV_TEST_WITH_SETTINGS) {
    fs::path entry = prefix / "share" / "applications" / "KvSettings.desktop";
    std::string text = kvtest::ReadFile(entry);
    // Each path is quoted as one argument; the menu's actions run kvctl.
    EXPECT_NE(text.find("Exec=\"" + (folder / "KvSettings").string() + "\"\n"), std::string::npos) << text;
    for (const char* action : {"next\n", "pause\n", "resume\n"})
      EXPECT_NE(text.find("Exec=\"" + (folder / "kvctl").string() + "\" " + action), std::string::npos) << text;
    auto valid = kvtest::Run("/usr/bin/desktop-file-validate", {entry.string()});
    EXPECT_EQ(std::to_string(valid.exitCode) + ":" + valid.out + valid.err, "0:") << "valid, and without warnings";
    EXPECT_TRUE(fs::exists(prefix / "share" / "icons" / "hicolor" / "scalable" / "apps" / "KvSettings.svg"));
  }
  auto rendered = kvtest::Run(prefix / "bin" / "kvrender", {"--quote", "Installed and working."},
                              {{"DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "320x200"}}, 60s);
  EXPECT_EQ(std::to_string(rendered.exitCode) + ":" + rendered.out, "0:" + (home.DataHome() / "kvillo/Kvillo.bmp").string() + "\n")
      << rendered.err;
  EXPECT_EQ(kvtest::StoredSetting("Path"), folder.string());
}

}  // namespace
