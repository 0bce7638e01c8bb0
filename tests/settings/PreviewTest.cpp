// The preview pane and the buttons that add the user's own files, with real fonts.

#include <sys/stat.h>

#include <QImage>
#include <QTimer>
#include <set>

#include "PreviewPane.h"
#include "PreviewRender.h"
#include "SettingsFixture.h"
#include "UpdateWallpaper.h"
#include "Xvfb.h"

namespace {

namespace fs = std::filesystem;
using kvtest::Names;
using kvtest::StoredSetting;
using kvtest::StoreSetting;
using kvtest::StoreSettings;

// A render normally takes a fraction of a second; only a fault waits this long.
constexpr int kWaitMs = 60000;

class Preview : public kvtest::SettingsWindowTest {
 protected:
  void SetUp() override {
    SettingsWindowTest::SetUp();
    unsetenv("DISPLAY");
    setenv("KVILLO_SCREEN", "640x360", 1);
    kvtest::WriteFile(data_ / "files" / "Craft.txt", "Measure twice, cut once.\n");
    StoreSetting("SelectedQuotesFiles0", "Craft");  // white on black, the defaults
  }

  kv::settings::PreviewPane* Pane() { return window_->Preview(); }
  QRgb Corner() { return Pane()->ShownPicture().pixel(2, 2) & 0xFFFFFF; }
  fs::path Wallpaper() const { return home_.DataHome() / "kvillo" / "Kvillo.bmp"; }
  void WaitForPreview(int count) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return Pane()->ShownCount() > count; }, kWaitMs))
        << "no preview appeared; shown: " << Pane()->ShownMessage().toStdString();
  }
  void ChooseBackgroundColor(const QColor& color) {
    ShowPage(3);
    answers_.push_back(color);
    QTest::mouseClick(Swatch("txtBackgroundColor"), Qt::LeftButton);
  }
  // The pixels that are exactly `color`, or with `text`, those of the white text, shrunk with the picture.
  static int CountPixels(const QImage& image, QRgb color, bool text = false) {
    int count = 0;
    for (int i = 0; i < image.width() * image.height(); ++i) {
      QRgb p = image.pixel(i % image.width(), i / image.width());
      count += text ? qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200 : (p & 0xFFFFFF) == color;
    }
    return count;
  }
};

TEST_F(Preview, ShowsTheEditedColoursUnsavedAndOnlyTheNewestWhileTheWindowAnswers) {
  OpenCleanly();
  WaitForPreview(0);
  QImage first = Pane()->ShownPicture();
  ASSERT_EQ(first.size(), QSize(320, 180)) << "the screen's proportions";
  EXPECT_EQ(Corner(), 0x000000u) << "the stored black background";
  EXPECT_GT(CountPixels(first, 0, true), 20) << "the quote, in white";
  ChooseBackgroundColor(QColor(0, 0, 255));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Corner() == 0x0000FFu; }, kWaitMs))
      << "the preview never showed the edited, unsaved blue background";
  QImage second = Pane()->ShownPicture();
  EXPECT_GT(CountPixels(second, 0x0000FF), 320 * 180 / 2);
  EXPECT_GT(CountPixels(second, 0, true), 20) << "the same quote over it";
  EXPECT_EQ(StoredSetting("BackgroundColor"), "0");
  EXPECT_FALSE(fs::exists(Wallpaper()));
  EXPECT_FALSE(fs::exists(Wallpaper().parent_path() / "Kvillo-a.bmp"));
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> entered = 0;
  Pane()->SetRenderHook([&entered, released] { ++entered, released.wait_for(std::chrono::seconds(60)); });
  Button("cmdShuffle")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return entered.load() == 1; }, kWaitMs)) << "the render never started";
  const int shown = Pane()->ShownCount();
  // While it is held, the window goes on working: timers fire, colours are chosen.
  bool fired = false;
  QTimer::singleShot(10, [&] { fired = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return fired; }, kWaitMs)) << "the window's events wait for the render";
  ChooseBackgroundColor(QColor(255, 0, 0));
  ChooseBackgroundColor(QColor(0, 255, 0));
  EXPECT_EQ(Swatch("txtBackgroundColor")->Color(), std::optional<std::uint32_t>(0x00FF00u));
  QTest::qWait(400);  // past the pause after the last change, so the newest request waits
  EXPECT_EQ(Pane()->ShownCount(), shown) << "nothing was shown while the render was held";
  release.set_value();
  WaitForPreview(shown);
  // The held render and the red one were overtaken: once the green one is shown, nothing older comes after it.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Corner() == 0x00FF00u; }, kWaitMs));
  QTest::qWait(500);
  EXPECT_EQ(Corner(), 0x00FF00u) << "a stale render replaced the newest";
  EXPECT_LE(entered.load(), 2) << "the red request, overtaken before it started, was never rendered";
  Pane()->SetRenderHook({});
}

TEST_F(Preview, AQuoteThatNeverFitsShowsTheServicesMessage) {
  std::string longLine;
  for (int i = 0; i < 400; ++i) longLine += "unbreakable ";
  kvtest::WriteFile(data_ / "files" / "Craft.txt", longLine + "\n");
  StoreSettings({{"FontSize", "70"}, {"AllowViolation", "0"}});
  OpenCleanly();
  WaitForPreview(0);
  EXPECT_TRUE(Pane()->ShownPicture().isNull());
  EXPECT_EQ(Pane()->ShownMessage().toStdString(), kv::service::kFailureMessage);
  EXPECT_FALSE(fs::exists(Wallpaper()));
}

TEST_F(Preview, AddedFilesAreCopiedUnderFreeNamesAndTicked) {
  AddBackground("Sea");
  fs::path chosen = home_.Root() / "chosen";
  for (auto [name, bytes] : {std::pair{"Sea.bmp", "picture one"}, {"Sky.PNG", "picture two"},
                             {"Craft.txt", "Joy is in the making.\n"}, {"notes.md", "not offered"}})
    kvtest::WriteFile(chosen / name, bytes);
  fs::create_directories(chosen / "Folder.png");
  ASSERT_EQ(mkfifo((chosen / "Pipe.png").c_str(), 0600), 0);
  std::deque<QStringList> picks;
  kv::settings::SettingsDialogs dialogs = Dialogs();
  dialogs.chooseFiles = [&](QWidget*, const QString&, const QString&) {
    QStringList answer = picks.front();
    picks.pop_front();
    return answer;
  };
  ASSERT_TRUE(Open(dialogs));
  auto path = [&](const char* name) { return QString::fromStdString((chosen / name).string()); };
  picks.push_back({path("Sea.bmp"), path("Sky.PNG"), path("Sea.bmp"), path("Folder.png"), path("Pipe.png"),
                   path("notes.md")});
  ShowPage(3);
  Button("cmdAddPictures")->click();
  for (auto [name, bytes] : {std::pair{"Sea (2).bmp", "picture one"}, {"Sea (3).bmp", "picture one"}, {"Sky.png", "picture two"}})
    EXPECT_EQ(kvtest::ReadFile(data_ / "Backgrounds" / name), bytes) << name;
  EXPECT_EQ(Texts(CheckList("lstBackGrounds")), (Names{"Sea", "Sea (2)", "Sky", "Sea (3)"}));
  EXPECT_EQ(Checked(CheckList("lstBackGrounds")), (Names{"Sea (2)", "Sky", "Sea (3)"}));
  // The folder, the FIFO and the file of another kind are refused, each named, and leave nothing behind.
  ASSERT_EQ(warnings_.size(), 1u);
  for (const char* name : {"Folder.png", "Pipe.png", "notes.md"})
    EXPECT_NE(warnings_[0].find(name), std::string::npos) << warnings_[0];
  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(data_ / "Backgrounds")) files.insert(entry.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{"Sea (2).bmp", "Sea (3).bmp", "Sea.bmp", "Sky.png"})) << "no partial copy is left";
  picks.push_back({path("Craft.txt")});
  ShowPage(1);
  Button("cmdAddQuotesFiles")->click();
  EXPECT_EQ(kvtest::ReadFile(data_ / "files" / "Craft (2).txt"), "Joy is in the making.\n");
  EXPECT_EQ(Checked(CheckList("lstQuotesFiles")), (Names{"Craft", "Craft (2)"}));
  picks.push_back({});
  Button("cmdAddQuotesFiles")->click();
  EXPECT_TRUE(ApplyEnabled());
  Button("cmdApply")->click();
  EXPECT_EQ(StoredList("SelectedBackgrounds"), (Names{"Sea (2)", "Sky", "Sea (3)"}));
  EXPECT_EQ(StoredList("SelectedQuotesFiles"), (Names{"Craft", "Craft (2)"}));
}

TEST(PreviewPick, KeepsItsRandomChoicesWhileTheSettingsStayRandomAndDrawsTheRest) {
  // Random choices keep their drawn values; a fixed setting wins; a value the service never draws is drawn anew.
  kv::service::SettingsSnapshot settings;
  std::tie(settings.HAlign, settings.VAlign, settings.TopMargin, settings.BottomMargin, settings.LeftMargin,
           settings.RightMargin) = std::tuple(3, 1, -1, 150, -1, 20);
  kv::settings::PreviewPick previous;
  previous.Drawn = true;
  std::tie(previous.HAlign, previous.VAlign, previous.TopMargin, previous.BottomMargin, previous.LeftMargin,
           previous.RightMargin) = std::tuple(2, 0, 99, 100, 75, 5);
  kv::settings::PreviewPick kept = kv::settings::DrawPick(settings, "", previous);
  EXPECT_EQ(std::tuple(kept.HAlign, kept.VAlign, kept.TopMargin, kept.RightMargin), std::tuple(2, 1, 99, 20));
  EXPECT_LT(kept.BottomMargin, 100);
  EXPECT_LT(kept.LeftMargin, 75);
  // The quote is kept while its file is, and drawn anew when nothing was drawn yet, whatever the pick holds.
  kvtest::TempHome home;
  kvtest::WriteFile(home.DataFolder() / "files" / "Craft.txt", "Fresh quote.\n");
  settings.SelectedQuotesFiles = "Craft";
  previous.QuotesFile = "Craft";
  previous.Quote = "Old quote.";
  EXPECT_EQ(kv::settings::DrawPick(settings, home.DataFolder().string(), previous).Quote, "Old quote.");
  previous.Drawn = false;
  EXPECT_EQ(kv::settings::DrawPick(settings, home.DataFolder().string(), previous).Quote, "Fresh quote.");
  // Nor are the alignment and the margins kept: twenty draws are not all 0.
  int zeros = 0;
  for (int i = 0; i < 20; ++i) {
    kv::settings::PreviewPick drawn = kv::settings::DrawPick(settings, "", kv::settings::PreviewPick{});
    zeros += drawn.HAlign == 0 && drawn.TopMargin == 0 && drawn.LeftMargin == 0;
  }
  EXPECT_LT(zeros, 20);
}

TEST(PreviewRender, AScreenFarWiderThanTallGivesAPictureOnePixelHigh) {
  kvtest::TempHome home;
  kvtest::WriteFile(home.DataFolder() / "files" / "A.txt", "a\n");
  kv::service::SettingsSnapshot settings;
  std::tie(settings.SelectedFonts, settings.SelectedQuotesFiles, settings.FontSize) = std::tuple("DejaVu Sans", "A", "8");
  std::tie(settings.TopMargin, settings.BottomMargin, settings.LeftMargin, settings.RightMargin) = std::tuple(0, 0, 0, 0);
  const kv::settings::PreviewRequest request{settings, home.DataFolder().string(), {6400, 30, {}}, {}, 100};
  const kv::settings::PreviewResult result = kv::settings::RenderPreview(request, [] { return false; });
  ASSERT_EQ(result.Outcome, kv::settings::PreviewResult::Kind::Picture) << result.Message.toStdString();
  EXPECT_EQ(result.Picture.size(), QSize(100, 1));
}

}  // namespace
