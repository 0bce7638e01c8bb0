// The Debian package made with cpack from this build tree: exactly the installation at Debian's paths, clean for
// lintian, and its programs run from wherever it was unpacked, with the data that came with them.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Entry {
  std::string mode, owner, link;  // link: the target of a symbolic link
};

// `dpkg-deb -c` lists "MODE OWNER SIZE DATE TIME ./PATH[ -> TARGET]"; a path may hold blanks. Directories are left out.
std::map<std::string, Entry> Contents(const std::string& listing) {
  std::map<std::string, Entry> entries;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    Entry entry;
    std::string size, date, time, path;
    fields >> entry.mode >> entry.owner >> size >> date >> time >> std::ws;
    std::getline(fields, path);
    if (entry.mode.starts_with('d')) continue;
    if (size_t arrow = path.find(" -> "); entry.mode.starts_with('l') && arrow != std::string::npos) {
      entry.link = path.substr(arrow + 4);
      path.resize(arrow);
    }
    entries[path.substr(path.starts_with("./") ? 1 : 0)] = entry;
  }
  return entries;
}

// What the installation holds, from the programs built and the sample data in the source tree.
std::set<std::string> ExpectedFiles(const std::vector<std::string>& programs) {
  std::set<std::string> files{"/usr/lib/kvillo/libkvshared.so", "/usr/lib/kvillo/libkvcompose.so",
                              "/usr/share/doc/kvillo/copyright", "/usr/share/doc/kvillo/changelog.gz"};
  for (const std::string& program : programs) {
    files.insert({"/usr/lib/kvillo/" + program, "/usr/bin/" + program, "/usr/share/man/man1/" + program + ".1.gz"});
  }
  for (const char* folder : {"Backgrounds", "files"}) {
    for (const auto& sample : fs::directory_iterator(fs::path(KV_TEST_SOURCE_DIR) / "data" / folder)) {
      files.insert("/usr/lib/kvillo/" + std::string(folder) + "/" + sample.path().filename().string());
    }
  }
  if (KV_TEST_WITH_SETTINGS) {
    files.insert({"/usr/share/applications/KvSettings.desktop", "/usr/share/icons/hicolor/scalable/apps/KvSettings.svg",
                  "/usr/share/metainfo/org.kvillo.Kvillo.metainfo.xml"});
  }
  return files;
}

TEST(Package, HoldsTheInstallationPassesLintianAndRunsWhereverItIsUnpacked) {
  if (KV_TEST_SANITIZED) GTEST_SKIP() << "the package is made from the plain build only";
  if (!fs::exists("/usr/bin/dpkg-deb")) GTEST_SKIP() << "dpkg-deb is not installed";
  kvtest::TempHome home;
  fs::path work = home.Root() / "package";
  auto packed = kvtest::Run(KV_TEST_CPACK, {"--config", KV_TEST_BUILD_DIR "/CPackConfig.cmake", "-B", work.string()},
                            {}, 300s);
  ASSERT_EQ(packed.exitCode, 0) << packed.out << packed.err;
  fs::path deb = work / ("kvillo_" KV_TEST_VERSION "_amd64.deb");
  ASSERT_TRUE(fs::exists(deb)) << "the package's file name: " << packed.out;
  // Runs a tool that must succeed; answers what it printed.
  auto tool = [](const std::string& program, const std::vector<std::string>& args) {
    auto run = kvtest::Run("/usr/bin/" + program, args, {}, 300s);
    EXPECT_EQ(run.exitCode, 0) << program << ": " << run.out << run.err;
    return run.out;
  };
  EXPECT_EQ(tool("dpkg-deb", {"-f", deb.string(), "Package", "Version", "Architecture"}),
            "Package: kvillo\nVersion: " KV_TEST_VERSION "\nArchitecture: amd64\n");
  // The dependencies are the linked libraries at dpkg-shlibdeps' versions; our own library comes with the package.
  std::string depends = tool("dpkg-deb", {"-f", deb.string(), "Depends"});
  std::vector<const char*> libraries{"libc6 (>= ", "libsqlite3-0 (>= ", "libfreetype6 (>= ", "libstdc++6 (>= "};
  if (KV_TEST_WITH_SETTINGS) libraries.push_back("libqt6widgets6 (>= ");
  for (const char* library : libraries) EXPECT_NE(depends.find(library), std::string::npos) << library << " in " << depends;
  EXPECT_EQ(depends.find("kvshared"), std::string::npos) << depends;
  // Exactly the installation, owned by root, with Debian's modes, the links in /usr/bin into the program folder.
  std::string listing = tool("dpkg-deb", {"-c", deb.string()});
  std::map<std::string, Entry> contents = Contents(listing);
  std::set<std::string> paths;
  for (const auto& [path, entry] : contents) paths.insert(path);
  std::vector<std::string> programs{"Kvillo", "kvreg", "kvrender", "kvctl"};
  if (KV_TEST_WITH_SETTINGS) programs.push_back("KvSettings");
  EXPECT_EQ(paths, ExpectedFiles(programs)) << listing;
  for (const auto& [path, entry] : contents) {
    EXPECT_EQ(entry.owner, "root/root") << path;
    bool program = path.starts_with("/usr/lib/kvillo/") && std::ranges::count(programs, path.substr(16)) != 0;
    if (path.starts_with("/usr/bin/")) {
      EXPECT_EQ(entry.mode, "lrwxrwxrwx") << path;
      EXPECT_EQ(entry.link, "../lib/kvillo/" + fs::path(path).filename().string()) << path;
    } else {
      EXPECT_EQ(entry.mode, program ? "-rwxr-xr-x" : "-rw-r--r--") << path;
    }
  }
  // Warnings included; cpack's ldconfig call for our private library is needless but harmless.
  tool("lintian", {"--fail-on", "error,warning", "--suppress-tags", "maintscript-calls-ldconfig", deb.string()});
  fs::path root = home.Root() / "unpacked root", folder = root / "usr" / "lib" / "kvillo";
  tool("dpkg-deb", {"-x", deb.string(), root.string()});
  ASSERT_TRUE(fs::exists(folder / "libkvshared.so")) << "the package was unpacked";
  if (KV_TEST_WITH_SETTINGS) {
    // The menu entry names the programs where the package puts them, not where cpack staged them.
    fs::path entry = root / "usr" / "share" / "applications" / "KvSettings.desktop";
    std::string text = kvtest::ReadFile(entry);
    EXPECT_NE(text.find("\nExec=/usr/lib/kvillo/KvSettings\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=/usr/lib/kvillo/kvctl next\n"), std::string::npos) << text;
    tool("desktop-file-validate", {entry.string()});
    tool("appstreamcli", {"validate", "--no-net", (root / "usr/share/metainfo/org.kvillo.Kvillo.metainfo.xml").string()});
  }
  // The unpacked programs, started through their links, find the library and data beside them, not the build tree's.
  kvtest::Env env{
      {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "320x200"}};
  auto rendered = kvtest::Run(root / "usr" / "bin" / "kvrender", {"--quote", "Unpacked and working."}, env, 60s);
  ASSERT_EQ(rendered.exitCode, 0) << rendered.err;
  EXPECT_EQ(rendered.out, (home.DataHome() / "kvillo" / "Kvillo.bmp").string() + "\n");
  EXPECT_EQ(kvtest::StoredSetting("Path"), folder.string()) << "the data folder is the unpacked one";
  // Each unpacked program's exit status and output, as "STATUS:OUT" and then what it said on stderr.
  auto said = [&](const char* program, const std::vector<std::string>& args) {
    auto run = kvtest::Run(root / "usr" / "bin" / program, args, env, 60s);
    return std::to_string(run.exitCode) + ":" + run.out + run.err;
  };
  EXPECT_EQ(said("kvreg", {"set", "software\\Kvillo test", "Greeting", "Grüße, 你好"}), "0:");
  EXPECT_EQ(kvtest::StoredValue("software\\Kvillo test", "Greeting"), "Grüße, 你好") << "the user's own store";
  EXPECT_EQ(said("kvreg", {"get", std::string(kvtest::kSettingsKey), "FirstTime"}), "0:1\n");
  // Every other program loads: the service and kvctl answer, the settings window gets as far as seeing no display.
  EXPECT_TRUE(said("Kvillo", {"--help"}).starts_with("0:usage: Kvillo")) << said("Kvillo", {"--help"});
  EXPECT_TRUE(said("kvctl", {"status"}).starts_with("0:State: Stopped\n")) << said("kvctl", {"status"});
  if (KV_TEST_WITH_SETTINGS) {
    env.emplace("QT_QPA_PLATFORM", std::nullopt);
    std::string window = said("KvSettings", {});
    EXPECT_TRUE(window.starts_with("1:") && window.find("cannot open the settings window: no display") != std::string::npos)
        << window;
  }
  // The unpacked folder is not the user's to add to (root's, or read-only): the first run gives the user a data
  // folder of their own, linked to the samples.
  const bool asRoot = geteuid() == 0;
  std::string lock = asRoot ? "chmod 755 '" + home.Root().string() + "' && chown -R 0:0 '" + root.string() + "'"
                            : "chmod -R a-w '" + folder.string() + "'";
  ASSERT_EQ(system(lock.c_str()), 0);
  {
    kvtest::TempHome user;
    std::vector<std::string> args{(root / "usr" / "bin" / "kvrender").string(), "--quote", "My own folder."};
    if (asRoot) {
      EXPECT_EQ(system(("chown -R 65534:65534 '" + user.Root().string() + "'").c_str()), 0);
      args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    }
    auto mine = kvtest::Run(args[0], std::vector<std::string>(args.begin() + 1, args.end()), env, 60s);
    EXPECT_EQ(mine.exitCode, 0) << mine.err;
    fs::path own = user.DataHome() / "kvillo" / "data";
    EXPECT_EQ(kvtest::StoredSetting("Path"), own.string());
    for (const char* sample : {"Backgrounds/Aurora.bmp", "files/Craft.txt"}) {
      EXPECT_TRUE(fs::is_symlink(own / sample)) << sample;
      EXPECT_EQ(fs::canonical(own / sample), fs::canonical(folder / sample));
    }
    EXPECT_EQ(kvtest::StoredSetting("SelectedBackgrounds0"), "Aurora") << "the samples are offered as before";
    struct stat owner {};
    ASSERT_EQ(stat((own / "Backgrounds").c_str(), &owner), 0);
    EXPECT_EQ(owner.st_uid, asRoot ? 65534u : geteuid()) << "the user's own folder, where files can be added";
  }
  EXPECT_TRUE(asRoot || system(("chmod -R u+w '" + folder.string() + "'").c_str()) == 0);
}

}  // namespace
