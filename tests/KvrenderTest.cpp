// kvrender as a real process on a fresh home: its exit statuses and messages, its defaults from the stored settings.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "PictureFiles.h"
#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"

namespace {

namespace fs = std::filesystem;
using kvtest::ProcessResult;

// A font of bitmap strikes 10, 17 and 30 pixels high, no outlines: its "A" is a full square as tall as the strike.
std::string BitmapFont(const std::string& family) {
  auto be = [](std::uint32_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
  };
  const std::uint32_t strikes[] = {10, 17, 30};
  std::string eblc = be(0x20000, 4) + be(3, 4), ebdt = be(0x20000, 4), index;
  for (std::uint32_t size : strikes) {
    const std::uint32_t ascent = size * 4 / 5, at = 8 + 3 * 48 + static_cast<std::uint32_t>(index.size());
    // One index subtable for glyph 1; its data: small metrics, then a byte a pixel.
    index += be(1, 2) + be(1, 2) + be(8, 4) + be(1, 2) + be(1, 2) + be(static_cast<std::uint32_t>(ebdt.size()), 4) +
             be(0, 4) + be(5 + size * size, 4);
    ebdt += be(size, 1) + be(size, 1) + be(0, 1) + be(ascent, 1) + be(size + 1, 1) + std::string(size * size, '\xFF');
    const std::string line = be(ascent, 1) + be(ascent - size, 1) + be(size + 1, 1) + std::string(9, '\0');
    eblc += be(at, 4) + be(24, 4) + be(1, 4) + be(0, 4) + line + line + be(1, 2) + be(1, 2) + be(size, 1) + be(size, 1) +
            be(8, 1) + be(1, 1);
  }
  eblc += index;
  std::string name16;
  for (char c : family) name16 += std::string{'\0', c};
  const std::map<std::string, std::string> tables = {
      {"EBDT", ebdt},
      {"EBLC", eblc},
      // "A" is glyph 1, in a trimmed table from its code.
      {"cmap", be(0, 2) + be(1, 2) + be(3, 2) + be(1, 2) + be(12, 4) + be(6, 2) + be(12, 2) + be(0, 2) + be('A', 2) +
                   be(1, 2) + be(1, 2)},
      {"head", be(0x10000, 4) + be(0x10000, 4) + be(0, 4) + be(0x5F0F3CF5, 4) + be(0, 2) + be(1000, 2) +
                   std::string(16, '\0') + be(0, 2) + be(0xFF38, 2) + be(1000, 2) + be(800, 2) + be(0, 2) + be(8, 2) +
                   be(2, 2) + be(0, 2) + be(0, 2)},
      {"hhea", be(0x10000, 4) + be(800, 2) + be(0xFF38, 2) + be(0, 2) + be(1000, 2) + std::string(6, '\0') + be(1, 2) +
                   std::string(14, '\0') + be(0, 2) + be(2, 2)},
      {"hmtx", be(1000, 2) + be(0, 2) + be(1000, 2) + be(0, 2)}, {"maxp", be(0x5000, 4) + be(2, 2)},
      {"name", be(0, 2) + be(1, 2) + be(18, 2) + be(3, 2) + be(1, 2) + be(0x409, 2) + be(1, 2) +
                   be(static_cast<std::uint32_t>(name16.size()), 2) + be(0, 2) + name16},
  };
  std::string font = be(0x10000, 4) + be(static_cast<std::uint32_t>(tables.size()), 2) + be(128, 2) + be(3, 2) + be(0, 2), data;
  for (const auto& [tag, bytes] : tables) {
    font += tag + be(0, 4) + be(static_cast<std::uint32_t>(12 + 16 * tables.size() + data.size()), 4) +
            be(static_cast<std::uint32_t>(bytes.size()), 4);
    data += bytes + std::string((4 - bytes.size() % 4) % 4, '\0');
  }
  return font + data;
}

class Kvrender : public testing::Test {
 protected:
  ProcessResult Run(const std::vector<std::string>& args, std::map<std::string, std::optional<std::string>> env = {},
                    std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    env.insert({{"DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "640x400"}});
    return kvtest::Run(kvtest::BinDir() / "kvrender", args, env, timeout);
  }
  fs::path DefaultOutput() const { return home_.DataHome() / "kvillo" / "Kvillo.bmp"; }
  void FontConfig(const fs::path& config, const fs::path& fonts, const std::string& extra = "") const {
    kvtest::WriteFile(config, "<?xml version=\"1.0\"?>\n<fontconfig><dir>" + fonts.string() + "</dir><cachedir>" +
                                  (home_.Root() / "fc-cache").string() + "</cachedir>" + extra + "</fontconfig>\n");
  }
  kvtest::TempHome home_;
};

TEST_F(Kvrender, ANewcomersFirstRunStoresTheDefaultsAndWritesTheWallpaper) {
  ProcessResult result = Run({});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, DefaultOutput().string() + "\n");
  EXPECT_EQ(result.err, "") << "nothing is logged in normal operation";
  kvtest::Image image = kvtest::ReadBmp24(DefaultOutput());
  EXPECT_EQ(std::pair(image.width, image.height), std::pair(640, 400));
  // Every default is stored, and every sample background selected.
  for (auto [name, value] : std::initializer_list<std::pair<const char*, const char*>>{
           {"FirstTime", "1"}, {"FontSize", "40"}, {"SelectedFonts0", "Arial"}, {"SelectedBackgrounds0", "Aurora"}}) {
    EXPECT_EQ(kvtest::StoredSetting(name), value) << name;
  }
  EXPECT_TRUE(kvtest::StoredSetting("SelectedBackgrounds5"));
  EXPECT_FALSE(kvtest::StoredSetting("WallpaperCommand"));
  // The first sample background, stretched: no black anywhere along the edges.
  for (int x = 0; x < 640; x += 7) EXPECT_TRUE(image.Pixel(x, 0) != 0 && image.Pixel(x, 399) != 0) << x;
  // A second run of the same settings writes the same picture.
  const std::string first = kvtest::ReadFile(DefaultOutput());
  ASSERT_EQ(Run({}).exitCode, 0);
  EXPECT_EQ(kvtest::ReadFile(DefaultOutput()), first) << "random settings preview as fixed values";
  // A damaged store still previews, with the defaults, and is left as it was.
  kvtest::WriteFile(home_.StoreFile(), std::string(8192, 'z'));
  result = Run({"--output", (home_.Root() / "p.bmp").string()});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("registry.sqlite"), std::string::npos) << "the damaged store is named: " << result.err;
  EXPECT_EQ(kvtest::ReadFile(home_.StoreFile()), std::string(8192, 'z'));
}

TEST_F(Kvrender, OptionsOverrideTheStoredSettingsAndAStoredZeroMarginIsZero) {
  // Stored: no margin at the top and left, the text in that corner, a box around it. The options give the rest.
  for (const char* name : {"TopMargin", "LeftMargin", "HAlign", "VAlign"}) kvtest::StoreSetting(name, "0");
  kvtest::StoreSetting("SelectedEffects0", "Box");
  const fs::path out = home_.Root() / "preview.bmp";
  auto draw = [&](const std::vector<std::string>& more) {
    std::vector<std::string> args = {"--background", "", "--background-color=16711680", "--quote", "Blue sky", "--font",
                                     "DejaVu Sans", "--size", "30", "--output", out.string()};
    args.insert(args.end(), more.begin(), more.end());
    ProcessResult result = Run(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, out.string() + "\n");
    return kvtest::ReadBmp24(out);
  };
  kvtest::Image image = draw({"--font-color", "255", "--effects", ""});
  EXPECT_EQ(image.Pixel(639, 399), 0x0000FFu) << "the background colour 0x00FF0000 is blue";
  const auto red = image.InkWhere([](std::uint32_t pixel) { return pixel >> 16 > 0xA0; });
  EXPECT_TRUE(red.top < 12 && red.left < 6) << "red text at the top left: a stored 0 is no margin, not a random one";
  EXPECT_FALSE(fs::exists(DefaultOutput()));
  auto darker = [](const kvtest::Image& drawn, std::uint32_t blue) {  // the pixels of less blue than `blue`
    return drawn.InkWhere([blue](std::uint32_t pixel) { return (pixel & 0xFF) < blue; }).count;
  };
  EXPECT_GT(darker(draw({}), 120), 0) << "the stored box darkens the blue behind the white text";
  EXPECT_EQ(darker(draw({"--effects", ""}), 255), 0) << "--effects \"\" draws none";
  EXPECT_GT(darker(draw({"--effects", "Outline"}), 120), 0);
}

TEST_F(Kvrender, ExitStatusesAndMessagesTellWhatHappened) {
  kvtest::WriteFile(DefaultOutput(), "previous");
  kvtest::WriteFile(home_.Root() / "file", "x");
  struct Case { std::vector<std::string> args; int exitCode; std::string err; };
  std::vector<Case> cases = {{{"--size", "5000"}, 1, "does not fit"},
                             {{"--output", (home_.Root() / "file" / "K.bmp").string()}, 3, "file/K.bmp"},
                             {{"--quote", ""}, 3, "empty"}, {{"--help"}, 0, ""}};
  for (std::vector<std::string> args : std::initializer_list<std::vector<std::string>>{
           {"--size"}, {"--size", "big"}, {"--mode", "3"}, {"--halign", "-1"}, {"--allow-violation", "yes"},
           {"--colour", "1"}, {"stray"}, {"-x"}, {"--effects", "Box,Sparkle"}}) {
    cases.push_back({args, 2, "usage: kvrender"});
  }
  for (const Case& c : cases) {
    ProcessResult result = Run(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << testing::PrintToString(c.args) << ": " << result.err;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << testing::PrintToString(c.args) << ": " << result.err;
    EXPECT_EQ(result.out.find("--allow-violation") != std::string::npos, c.exitCode == 0) << "the usage, on stdout for --help";
  }
  EXPECT_EQ(kvtest::ReadFile(DefaultOutput()), "previous") << "nothing is written";
  // Quotes come from the data folder's first quotes file; a binary, a huge and an empty one give a clear result.
  kvtest::StoreSetting("Path", home_.DataFolder().string());
  const fs::path quotes = home_.DataFolder() / "files" / "A.txt";
  kvtest::WriteFile(quotes, std::string("Caf\xE9 first line\r\nsecond line\n"));
  EXPECT_EQ(Run({"--size", "60", "--top", "0", "--bottom", "0"}).exitCode, 0);
  kvtest::WriteFile(quotes, std::string(4096, '\0'));
  ProcessResult binary = Run({});
  EXPECT_TRUE(binary.exitCode == 0 || binary.exitCode == 1) << binary.err;
  kvtest::WriteFile(quotes, std::string(3 << 20, 'w'));
  ProcessResult huge = Run({});
  EXPECT_EQ(huge.exitCode, 0) << "a 3 MB line is skipped as the service skips it: " << huge.err;
  EXPECT_NE(huge.err.find("too long"), std::string::npos) << huge.err;
  kvtest::WriteFile(quotes, "");
  EXPECT_EQ(Run({}).exitCode, 0) << "an empty file gives the sample quote";
  // Hostile inputs end in one short line, not a hang: a FIFO background nothing writes to, a setting of a megabyte.
  const fs::path out = home_.Root() / "p.bmp";
  ASSERT_EQ(::mkfifo((home_.DataFolder() / "Backgrounds" / "Pipe.bmp").c_str(), 0600), 0);
  ProcessResult piped = Run({"--background", "Pipe", "--mode", "2", "--output", out.string()}, {}, std::chrono::seconds(60));
  ASSERT_FALSE(piped.timedOut) << "kvrender waits on a FIFO";
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_NE(piped.err.find("Pipe.bmp"), std::string::npos) << piped.err;
  EXPECT_EQ(std::count(piped.err.begin(), piped.err.end(), '\n'), 1) << piped.err;
  kvtest::StoreSetting("FontColor", std::string(1 << 20, 'x'));
  ProcessResult loud = Run({"--background", "", "--output", out.string()});
  EXPECT_EQ(loud.exitCode, 0) << loud.err.substr(0, 500);
  EXPECT_NE(loud.err.find("FontColor"), std::string::npos) << loud.err.substr(0, 500);
  EXPECT_LT(loud.err.size(), 4000u) << "a message is cut to a readable length";
}

// The kept answer to "which file is this face" follows fonts installed and removed, and configuration edits.
TEST_F(Kvrender, AKeptFontAnswerFollowsFontsInstalledRemovedAndReconfigured) {
  const fs::path fonts = home_.Root() / "fonts", config = home_.Root() / "fonts.conf";
  const fs::path system = "/usr/share/fonts/truetype";
  fs::create_directories(fonts);
  fs::create_directories(home_.Root() / "out");  // not beside the configuration, whose folder's changes count
  fs::copy_file(system / "dejavu" / "DejaVuSans.ttf", fonts / "DejaVuSans.ttf");
  FontConfig(config, fonts);
  auto standIn = [&] {  // whether the run warned that DejaVu Sans stands in for the face asked for
    ProcessResult result = Run({"--font", "Liberation Sans", "--quote", "Kept", "--effects", "", "--output",
                                (home_.Root() / "out" / "out.bmp").string()}, {{"FONTCONFIG_FILE", config.string()}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const bool warned = result.err.find("\"DejaVu Sans\" is used instead") != std::string::npos;
    EXPECT_TRUE(warned || result.err.empty()) << result.err;
    return warned;
  };
  // An answer found while its folders were changing is not kept; the folders made above are soon old enough.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(home_.Root() / "cache" / "kvillo" / "font-matches") && std::chrono::steady_clock::now() < deadline) {
    EXPECT_TRUE(standIn());
  }
  const fs::path kept = home_.Root() / "cache" / "kvillo" / "font-matches";
  ASSERT_TRUE(fs::exists(kept));
  EXPECT_TRUE(standIn()) << "the kept answer keeps its warning";
  const std::string answers = kvtest::ReadFile(kept);
  const std::size_t warned = answers.find("\t1\tDejaVu Sans\n");
  ASSERT_NE(warned, std::string::npos) << answers;
  kvtest::WriteFile(kept, std::string(answers).replace(warned, 2, "\t0"));
  EXPECT_FALSE(standIn()) << "the kept answer is the one used, here edited to no stand-in";
  kvtest::WriteFile(kept, answers);
  fs::copy_file(system / "liberation" / "LiberationSans-Regular.ttf", fonts / "LiberationSans-Regular.ttf");
  EXPECT_FALSE(standIn()) << "a font installed";
  EXPECT_FALSE(standIn());
  fs::remove(fonts / "LiberationSans-Regular.ttf");
  EXPECT_TRUE(standIn()) << "a font removed";
  FontConfig(config, fonts,  // the configuration now makes the name an alias of what is there
             "<alias binding=\"same\"><family>Liberation Sans</family>"
             "<prefer><family>DejaVu Sans</family></prefer></alias>");
  EXPECT_FALSE(standIn()) << "a configuration edited";
}

// Size 0 asks for the default cell.
TEST_F(Kvrender, ABitmapFontTakesTheStrikeNearestTheCellAskedFor) {
  const fs::path fonts = home_.Root() / "bitmap-fonts", config = home_.Root() / "bitmap-fonts.conf";
  kvtest::WriteFile(fonts / "KvBits.otb", BitmapFont("KvBits"));
  FontConfig(config, fonts);
  for (auto [size, strike] : std::initializer_list<std::pair<const char*, int>>{{"0", 17}, {"30", 30}}) {
    const fs::path out = home_.Root() / "bits.bmp";
    ProcessResult result = Run({"--font", "KvBits", "--size", size, "--quote", "A", "--effects", "", "--background", "",
                                "--output", out.string()}, {{"FONTCONFIG_FILE", config.string()}});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const kvtest::Image image = kvtest::ReadBmp24(out);
    const auto a = image.InkWhere([](std::uint32_t pixel) { return pixel != 0; });
    EXPECT_EQ(a.bottom - a.top + 1, strike) << "the ink of the A at size " << size;
  }
}

}  // namespace
