// kvrender as a user and a script run it: a real process on a fresh home,
// its exit statuses and messages, and its defaults from the stored settings.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "PictureFiles.h"
#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"

namespace {

namespace fs = std::filesystem;
using kvtest::ProcessResult;

class Kvrender : public testing::Test {
 protected:
  ProcessResult Run(const std::vector<std::string>& args, std::map<std::string, std::optional<std::string>> env = {},
                    std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    env.emplace("DISPLAY", std::nullopt);
    env.emplace("KVILLO_SCREEN", "640x400");
    return kvtest::Run(kvtest::BinDir() / "kvrender", args, env, timeout);
  }
  fs::path DefaultOutput() const { return home_.DataHome() / "kvillo" / "Kvillo.bmp"; }

  kvtest::TempHome home_;
};

TEST_F(Kvrender, ANewcomersFirstRunStoresTheDefaultsAndWritesTheWallpaper) {
  ProcessResult result = Run({});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, DefaultOutput().string() + "\n");
  EXPECT_EQ(result.err, "") << "nothing is logged in normal operation";
  kvtest::Image image = kvtest::ReadBmp24(DefaultOutput());
  EXPECT_EQ(image.width, 640);
  EXPECT_EQ(image.height, 400);
  // Every default is stored, and every sample background selected.
  EXPECT_EQ(kvtest::StoredSetting("FirstTime"), "1");
  EXPECT_EQ(kvtest::StoredSetting("FontSize"), "40");
  EXPECT_EQ(kvtest::StoredSetting("SelectedFonts0"), "Arial");
  EXPECT_EQ(kvtest::StoredSetting("SelectedBackgrounds0"), "Aurora");
  EXPECT_TRUE(kvtest::StoredSetting("SelectedBackgrounds5"));
  EXPECT_FALSE(kvtest::StoredSetting("WallpaperCommand"));
  // The first sample background, stretched: no black anywhere along the edges.
  for (int x = 0; x < 640; x += 7) {
    EXPECT_NE(image.Pixel(x, 0), 0u);
    EXPECT_NE(image.Pixel(x, 399), 0u);
  }
  // A second run of the same settings writes the same picture.
  std::string first = kvtest::ReadFile(DefaultOutput());
  ASSERT_EQ(Run({}).exitCode, 0);
  EXPECT_EQ(kvtest::ReadFile(DefaultOutput()), first) << "random settings preview as fixed values";
}

TEST_F(Kvrender, OptionsOverrideTheStoredSettings) {
  fs::path out = home_.Root() / "preview.bmp";
  ProcessResult result = Run({"--background", "", "--background-color=16711680", "--quote", "Blue sky",
                              "--font", "DejaVu Sans", "--size", "30", "--font-color", "255", "--output", out.string(),
                              "--halign", "0", "--valign", "0", "--top", "0", "--left", "0"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, out.string() + "\n");
  kvtest::Image image = kvtest::ReadBmp24(out);
  EXPECT_EQ(image.Pixel(639, 399), 0x0000FFu) << "the background colour 0x00FF0000 is blue";
  bool red = false;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 120; ++x) red = red || (image.Pixel(x, y) >> 16) > 0xA0;
  }
  EXPECT_TRUE(red) << "red text in the top-left corner";
  EXPECT_FALSE(fs::exists(DefaultOutput()));
}

TEST_F(Kvrender, DrawsTheStoredEffectsUnlessToldOtherwise) {
  kvtest::StoreSetting("SelectedEffects0", "Box");
  fs::path out = home_.Root() / "preview.bmp";
  auto darkest = [&](const std::vector<std::string>& more) {
    std::vector<std::string> args = {"--background", "", "--background-color=16711680", "--quote", "Blue sky",
                                     "--font", "DejaVu Sans", "--size", "30", "--output", out.string()};
    args.insert(args.end(), more.begin(), more.end());
    ProcessResult result = Run(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    kvtest::Image image = kvtest::ReadBmp24(out);
    std::uint32_t blue = 255;
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) blue = std::min(blue, image.Pixel(x, y) & 0xFF);
    }
    return blue;
  };
  EXPECT_LT(darkest({}), 120u) << "the stored box darkens the blue behind the white text";
  EXPECT_EQ(darkest({"--effects", ""}), 255u) << "--effects \"\" draws none";
  EXPECT_LT(darkest({"--effects", "Outline"}), 120u);
}

TEST_F(Kvrender, QuotesComeFromTheFirstQuotesFileOfTheDataFolder) {
  kvtest::StoreSetting("Path", home_.DataFolder().string());
  kvtest::WriteFile(home_.DataFolder() / "files" / "A.txt", std::string("Caf\xE9 first line\r\nsecond line\n"));
  ProcessResult result = Run({"--size", "60", "--top", "0", "--bottom", "0"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  // A binary, a huge and an empty quotes file: no crash, a clear result.
  kvtest::WriteFile(home_.DataFolder() / "files" / "A.txt", std::string(4096, '\0'));
  result = Run({});
  EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << result.err;
  kvtest::WriteFile(home_.DataFolder() / "files" / "A.txt", std::string(3 << 20, 'w'));
  result = Run({});
  EXPECT_EQ(result.exitCode, 0) << "a 3 MB line is skipped as the service skips it: " << result.err;
  EXPECT_NE(result.err.find("too long"), std::string::npos) << result.err;
  kvtest::WriteFile(home_.DataFolder() / "files" / "A.txt", "");
  result = Run({});
  EXPECT_EQ(result.exitCode, 0) << "an empty file gives the sample quote: " << result.err;
}

TEST_F(Kvrender, ExitStatusesTellWhatHappened) {
  kvtest::WriteFile(DefaultOutput(), "previous");
  ProcessResult big = Run({"--size", "5000"});
  EXPECT_EQ(big.exitCode, 1);
  EXPECT_NE(big.err.find("does not fit"), std::string::npos) << big.err;
  EXPECT_EQ(big.out, "");
  EXPECT_EQ(kvtest::ReadFile(DefaultOutput()), "previous") << "nothing is written";

  for (const auto& args : std::vector<std::vector<std::string>>{{"--size"}, {"--size", "big"}, {"--mode", "3"},
                                                                {"--halign", "-1"}, {"--allow-violation", "yes"},
                                                                {"--colour", "1"}, {"stray"}, {"-x"},
                                                                {"--effects", "Box,Sparkle"}}) {
    ProcessResult result = Run(args);
    EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(args);
    EXPECT_NE(result.err.find("usage: kvrender"), std::string::npos);
  }
  ProcessResult help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--allow-violation"), std::string::npos);

  kvtest::WriteFile(home_.Root() / "file", "x");
  ProcessResult unwritable = Run({"--output", (home_.Root() / "file" / "K.bmp").string()});
  EXPECT_EQ(unwritable.exitCode, 3);
  EXPECT_NE(unwritable.err.find("file/K.bmp"), std::string::npos) << unwritable.err;
  ProcessResult empty = Run({"--quote", ""});
  EXPECT_EQ(empty.exitCode, 3);
  EXPECT_NE(empty.err.find("empty"), std::string::npos) << empty.err;
}

TEST_F(Kvrender, HostileInputsEndInOneShortLineNotAHang) {
  kvtest::StoreSetting("Path", home_.DataFolder().string());
  fs::path out = home_.Root() / "p.bmp";
  // A background that is a FIFO: nothing ever writes to it.
  ASSERT_EQ(::mkfifo((home_.DataFolder() / "Backgrounds" / "Pipe.bmp").c_str(), 0600), 0);
  ProcessResult piped = Run({"--background", "Pipe", "--mode", "2", "--output", out.string()},
                            {}, std::chrono::seconds(60));
  ASSERT_FALSE(piped.timedOut) << "kvrender waits on a FIFO";
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_NE(piped.err.find("Pipe.bmp"), std::string::npos) << piped.err;
  EXPECT_EQ(std::count(piped.err.begin(), piped.err.end(), '\n'), 1) << piped.err;

  // A setting of a megabyte is not echoed whole.
  kvtest::StoreSetting("FontColor", std::string(1 << 20, 'x'));
  ProcessResult loud = Run({"--background", "", "--output", out.string()});
  EXPECT_EQ(loud.exitCode, 0) << loud.err.substr(0, 500);
  EXPECT_NE(loud.err.find("FontColor"), std::string::npos) << loud.err.substr(0, 500);
  EXPECT_LT(loud.err.size(), 4000u) << "a message is cut to a readable length";
}

TEST_F(Kvrender, ADamagedStoreStillPreviewsWithDefaults) {
  kvtest::WriteFile(home_.StoreFile(), std::string(8192, 'z'));
  ProcessResult result = Run({"--output", (home_.Root() / "p.bmp").string()});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("registry.sqlite"), std::string::npos) << "the damaged store is named: " << result.err;
  EXPECT_EQ(kvtest::ReadFile(home_.StoreFile()), std::string(8192, 'z')) << "and left exactly as it was";
}

// The answer to "which file is this face" is kept between runs, and must
// follow fonts installed into and removed from a folder of the
// configuration, and an edit of the configuration itself.
TEST_F(Kvrender, AKeptFontAnswerFollowsFontsInstalledRemovedAndReconfigured) {
  const fs::path fonts = home_.Root() / "fonts", config = home_.Root() / "fonts.conf";
  const fs::path system = "/usr/share/fonts/truetype";
  fs::create_directories(fonts);
  fs::copy_file(system / "dejavu" / "DejaVuSans.ttf", fonts / "DejaVuSans.ttf");
  auto configure = [&](const std::string& extra) {
    kvtest::WriteFile(config, "<?xml version=\"1.0\"?>\n<fontconfig><dir>" + fonts.string() + "</dir><cachedir>" +
                                  (home_.Root() / "fc-cache").string() + "</cachedir>" + extra + "</fontconfig>\n");
  };
  configure("");
  // Whether the run warned that DejaVu Sans stands in for the face asked for.
  auto standIn = [&] {
    ProcessResult result = Run({"--font", "Liberation Sans", "--quote", "Kept", "--effects", "", "--output",
                                (home_.Root() / "out.bmp").string()},
                               {{"FONTCONFIG_FILE", config.string()}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    bool warned = result.err.find("\"DejaVu Sans\" is used instead") != std::string::npos;
    EXPECT_TRUE(warned || result.err.empty()) << result.err;
    return warned;
  };
  // An answer found while its folders were changing is not kept; the
  // folders made above are soon old enough.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(home_.Root() / "cache" / "kvillo" / "font-matches") && std::chrono::steady_clock::now() < deadline) {
    EXPECT_TRUE(standIn());
  }
  ASSERT_TRUE(fs::exists(home_.Root() / "cache" / "kvillo" / "font-matches"));
  EXPECT_TRUE(standIn()) << "the kept answer keeps its warning";
  fs::copy_file(system / "liberation" / "LiberationSans-Regular.ttf", fonts / "LiberationSans-Regular.ttf");
  EXPECT_FALSE(standIn()) << "a font installed";
  EXPECT_FALSE(standIn());
  fs::remove(fonts / "LiberationSans-Regular.ttf");
  EXPECT_TRUE(standIn()) << "a font removed";
  // The configuration now makes the name an alias of what is there.
  configure("<alias binding=\"same\"><family>Liberation Sans</family><prefer><family>DejaVu Sans</family></prefer>"
            "</alias>");
  EXPECT_FALSE(standIn()) << "a configuration edited";
}

}  // namespace
