// The window's parts: swatches, font preview, shortcuts, string table, localisation, separator line, check lists.

#include <QColorDialog>
#include <QFile>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>
#include <sstream>
#include <tuple>

#include "AboutBox.h"
#include "CheckList.h"
#include "EditingRules.h"
#include "Localisation.h"
#include "SettingsFixture.h"
#include "StringTable.h"
#include "axLine.h"

namespace {

using namespace kv::settings;
using kvtest::Names;
using kvtest::StoredSettings;

class Pickers : public kvtest::SettingsWindowTest {
 protected:
  void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center()); }
  // Runs `check` on the modal window that `action` opens; answers whether one showed.
  template <class Check>
  bool WithModal(std::function<void()> action, Check check) {
    bool shown = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (QWidget* modal = QApplication::activeModalWidget()) shown = true, poll.stop(), check(modal);
    });
    poll.start();
    QTimer::singleShot(3000, &poll, &QTimer::stop);
    action();
    poll.stop();
    window_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    return shown;
  }

  QWidget* KeyTarget() { return QApplication::focusWidget() ? QApplication::focusWidget() : window_.get(); }
  void ReleaseKey(int key, Qt::KeyboardModifiers m) { QTest::keyRelease(KeyTarget(), static_cast<Qt::Key>(key), m); }
};

TEST_F(Pickers, AltShortcutsAndColourDialogsChangeASwatchUnlessItWouldMatchTheOther) {
  OpenCleanly();  // white text on black, the defaults
  // The background may not become the text's colour: refused silently.
  ShowPage(3);
  answers_.insert(answers_.end(), {QColor(255, 255, 255), QColor(0, 0, 0)});
  Click(Swatch("txtBackgroundColor"));
  EXPECT_EQ(Swatch("txtBackgroundColor")->Color(), 0u);
  EXPECT_EQ(window_->Settings()->BackgroundColor(), "0");
  EXPECT_FALSE(ApplyEnabled());
  // Its own colour again is an edit, rewriting the same value.
  Click(Swatch("txtBackgroundColor"));
  EXPECT_TRUE(ApplyEnabled());
  Button("cmdApply")->click();
  ShowPage(4);
  List("cboMargin3")->setFocus(Qt::TabFocusReason);
  // Alt+C shows the about box from any page, even on a control's focus.
  bool shown = WithModal([&] { ReleaseKey(Qt::Key_C, Qt::AltModifier); }, [](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), AboutTitle());
    EXPECT_TRUE(box->windowTitle().endsWith(u'.'));
    EXPECT_EQ(box->text().count(u'\n'), 4) << "five lines";
    EXPECT_TRUE(box->text().contains(QStringLiteral("\n\n"))) << "an empty line before the credit";
    EXPECT_EQ(std::pair(box->icon(), box->buttons().size()), std::pair(QMessageBox::Information, qsizetype{1}));
    box->accept();
  });
  ASSERT_TRUE(shown) << "Alt+C shows the about box";
  EXPECT_EQ(offeredColors_.size(), 2u) << "the about box comes first: Alt+C is not the font colour";
  auto close = [](QWidget* modal) { modal->close(); };
  for (auto modifiers : {Qt::AltModifier | Qt::ShiftModifier, Qt::AltModifier | Qt::ControlModifier, Qt::KeyboardModifiers()})
    EXPECT_FALSE(WithModal([&] { ReleaseKey(Qt::Key_C, modifiers); }, close));
  EXPECT_FALSE(WithModal([&] { QTest::keyPress(KeyTarget(), Qt::Key_C, Qt::AltModifier); }, close));
  // Alt+B opens the background colour's dialog from another page, on its own colour; cancelled, it changes nothing.
  ReleaseKey(Qt::Key_B, Qt::AltModifier);
  EXPECT_EQ(offeredColors_, std::vector<QColor>(3, QColor(0, 0, 0))) << "every dialog opened on the swatch's colour";
  EXPECT_FALSE(ApplyEnabled());
  answers_.push_back(QColor(0, 0, 128));
  ReleaseKey(Qt::Key_B, Qt::AltModifier | Qt::ShiftModifier);
  EXPECT_EQ(offeredColors_.size(), 3u) << "Alt+Shift+B is nothing";
  ReleaseKey(Qt::Key_B, Qt::AltModifier);
  EXPECT_EQ(Swatch("txtBackgroundColor")->Color(), 0x800000u);
  EXPECT_TRUE(ApplyEnabled());
  ReleaseKey(Qt::Key_V, Qt::AltModifier);
  EXPECT_TRUE(List("cboVarious")->hasFocus());
  ReleaseKey(Qt::Key_X, Qt::AltModifier);
  EXPECT_TRUE(List("cboVarious")->hasFocus());
  // A new colour, stored as the decimal 0x00BBGGRR; the text's colour may not become the background's either.
  ShowPage(2);
  ColorSwatch* font = Swatch("txtColor");
  answers_.insert(answers_.end(), {QColor(0x12, 0x34, 0x56), QColor(0, 0, 128)});
  Click(font);
  EXPECT_EQ(font->Color(), 0x563412u);
  EXPECT_TRUE(ApplyEnabled());
  EXPECT_EQ(window_->Settings()->FontColor(), std::to_string(0x563412));
  Click(font);
  EXPECT_EQ(font->Color(), 0x563412u);
  Button("cmdOK")->click();
  EXPECT_EQ(StoredSettings({"FontColor", "BackgroundColor"}), (Names{"5649426", "8388608"}));
  // The real dialog opens on the swatch's colour, and its choice is taken.
  SettingsDialogs real = Dialogs();
  real.chooseColor = StandardColorChooser();
  ASSERT_TRUE(Open(real));
  ShowPage(2);
  QColor offered;
  ASSERT_TRUE(WithModal([&] { Click(Swatch("txtColor")); }, [&](QWidget* modal) {
    auto* dialog = qobject_cast<QColorDialog*>(modal);
    ASSERT_NE(dialog, nullptr) << "the colour dialog";
    offered = dialog->currentColor();
    dialog->setCurrentColor(QColor(10, 20, 30));
    dialog->accept();
  }));
  EXPECT_EQ(offered, QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(Swatch("txtColor")->Color(), 0x1E140Au);
  EXPECT_EQ(window_->Settings()->FontColor(), std::to_string(0x1E140A));
}

// The gaps between the preview's ink and the box's edges, counted inside the frame.
struct InkGaps { int left = -1, right = -1, top = -1, bottom = -1; };
InkGaps FindInk(QWidget* preview) {
  QImage image = preview->grab().toImage().convertToFormat(QImage::Format_RGB32);
  constexpr int kFrame = 3;
  QRgb base = image.pixel(kFrame, kFrame);
  int left = image.width(), right = -1, top = image.height(), bottom = -1;
  for (int y = kFrame; y < image.height() - kFrame; ++y)
    for (int x = kFrame; x < image.width() - kFrame; ++x)
      if (std::abs(qGray(image.pixel(x, y)) - qGray(base)) >= 96)
        left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
  if (right < 0) return {};
  return {left - kFrame, image.width() - kFrame - 1 - right, top - kFrame, image.height() - kFrame - 1 - bottom};
}

TEST_F(Pickers, FontPreviewShowsTheHighlightedFontWholeAtTheChosenSizeAndPassesTheFocusOn) {
  kvtest::StoreSetting("FontSize", "24");
  OpenCleanly();
  ShowPage(2);
  QLineEdit* preview = Find<QLineEdit>("txtFontPreview");
  EXPECT_EQ(preview->text(), "aAbByYzZ");
  EXPECT_TRUE(preview->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(preview->font().family(), window_->font().family()) << "the window's font until a font is highlighted";
  EXPECT_EQ(preview->font().pointSize(), 24);
  EXPECT_EQ(preview->palette().color(QPalette::Text), window_->palette().color(QPalette::Text))
      << "the window's colours, not the colour settings";
  QListWidget* fonts = CheckList("lstFont");
  QList<QListWidgetItem*> serif = fonts->findItems("DejaVu Serif", Qt::MatchExactly);
  ASSERT_EQ(serif.size(), 1);
  fonts->setCurrentItem(serif[0]);
  EXPECT_EQ(QFontInfo(preview->font()).family(), "DejaVu Serif") << "the real face, through fontconfig";
  EXPECT_FALSE(preview->font().italic());
  EXPECT_EQ(serif[0]->checkState(), Qt::Unchecked) << "highlighting is no check";
  EXPECT_FALSE(ApplyEnabled());
  fonts->setFocus(Qt::TabFocusReason);
  QTest::keyClick(fonts, Qt::Key_Down);
  EXPECT_EQ(preview->font().family(), fonts->currentItem()->text()) << "the keyboard moves the highlight too";
  // The whole sample shows, centred, at every size: one too large is drawn smaller, the chosen size kept.
  for (int size : {70, 40, 8}) {
    SCOPED_TRACE(size);
    List("cboFontSize")->setCurrentIndex(size - kSmallestFontSize);
    EXPECT_EQ(preview->font().pointSize(), size);
    EXPECT_EQ(preview->font().family(), fonts->currentItem()->text());
    InkGaps gaps = FindInk(preview);
    EXPECT_GE(std::min({gaps.left, gaps.right, gaps.top, gaps.bottom}), 1) << "the sample is cut off";
    EXPECT_LE(std::abs(gaps.left - gaps.right), 2) << "the sample is not centred";
    if (size > 8) { EXPECT_LE(gaps.left + gaps.right, preview->width() / 3) << "shrunk"; }
  }
  // The focus passing through the preview leaves it as it was: nothing selected, nothing scrolled.
  QImage before = preview->grab().toImage();
  preview->setFocus(Qt::TabFocusReason);
  EXPECT_TRUE(List("cboFontSize")->hasFocus());
  EXPECT_TRUE(preview->selectedText().isEmpty()) << preview->selectedText().toStdString();
  EXPECT_TRUE(preview->grab().toImage() == before) << "the preview changed as the focus passed through it";
  Click(preview);
  EXPECT_TRUE(List("cboFontSize")->hasFocus());
  Swatch("txtColor")->setFocus(Qt::TabFocusReason);
  EXPECT_TRUE(Button("cmdOK")->hasFocus()) << "a swatch never keeps the focus";
  // Shift+Tab goes on backwards past them, so it can always leave.
  List("cboFontSize")->setFocus(Qt::TabFocusReason);
  QTest::keyClick(List("cboFontSize"), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(CheckList("lstFont")->hasFocus()) << QApplication::focusWidget()->objectName().toStdString();
  ShowPage(3);
  Button("cmdOK")->setFocus(Qt::TabFocusReason);
  QTest::keyClick(Button("cmdOK"), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(List("cboBackgroundMode")->hasFocus()) << QApplication::focusWidget()->objectName().toStdString();
}

TEST(StringTable, HoldsEveryRowOfTheWindowAndFailsOnMissingOrMalformedRows) {
  auto table = StringTable::FromProgramResources();
  ASSERT_TRUE(table) << table.error().message;
  for (int id = 101; id <= 133; ++id) EXPECT_TRUE(table->Load(id)) << "the English block, row " << id;
  auto missing = table->Load(134);
  EXPECT_TRUE(!missing && missing.error().code == kv::ErrorCode::NotFound);
  auto parsed = StringTable::Parse("# comment\r\n\n5= spaced = kept [0|0] \r\n", "test");
  ASSERT_TRUE(parsed) << parsed.error().message;
  EXPECT_EQ(*parsed->Load(5), " spaced = kept [0|0] ") << "the text as it stands, blanks and all";
  for (const char* bad : {"text without id", "=no id", "12x=bad id", "1=a\n1=again"}) {
    auto failed = StringTable::Parse(bad, "the table");
    ASSERT_FALSE(failed) << bad;
    EXPECT_NE(failed.error().message.find("the table line"), std::string::npos) << failed.error().message;
  }
}

struct Lists {
  QWidget window;
  QComboBox *various = new QComboBox(&window), *mode = new QComboBox(&window), *frequency = new QComboBox(&window),
            *vertical = new QComboBox(&window), *horizontal = new QComboBox(&window);
  std::array<QString, 5> pages;
  Lists() { for (QComboBox* list : {various, mode, frequency, vertical, horizontal}) list->resize(100, 21); }
  LocalisedControls Controls() { return {&window, various, mode, frequency, vertical, horizontal, &pages}; }
};

StringTable TableWith(int id, const std::string& text) {
  (void)StringTable::FromProgramResources();  // registers the resources
  QFile file(":/KvSettings/strings.txt");
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  std::string content;
  std::istringstream lines(file.readAll().toStdString());
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(std::to_string(id) + "=", 0) != 0) content += line + "\n";
  auto table = StringTable::Parse(content + std::to_string(id) + "=" + text + "\n", "test table");
  EXPECT_TRUE(table) << table.error().message;
  return *table;
}

TEST(Localisation, FillsTheListsKeepsTheirPositionsWidensThemAndStopsAtBadTexts) {
  auto table = StringTable::FromProgramResources();
  ASSERT_TRUE(table);
  for (std::int32_t language : {100, 300}) {
    Lists lists;
    ASSERT_TRUE(ApplyLocalisation(lists.Controls(), *table, language)) << language;
    EXPECT_EQ((QStringList{lists.various->currentText(), lists.pages[4], lists.frequency->currentText(),
                           lists.vertical->currentText(), lists.horizontal->currentText(), lists.mode->currentText(),
                           lists.window.windowTitle()}),
              (QStringList{"Effects", "Position", "Hour", "Random", "Random", "Tile", "Kvillo Setup"}));
    EXPECT_EQ(lists.frequency->width(), 100) << "[0|0] widens nothing";
  }
  // A second run keeps the positions chosen, and widens again.
  Lists lists;
  StringTable wide = TableWith(
      124, "Minute///Five minutes///Fifteen minutes///Half hour///Hour///Day///Week///Month///Time I boot[0|200]");
  ASSERT_TRUE(ApplyLocalisation(lists.Controls(), wide, 100));
  EXPECT_EQ(std::pair(lists.frequency->width(), lists.mode->width()), std::pair(113, 100)) << "200 twips are 13 pixels";
  lists.frequency->setCurrentIndex(7);
  lists.various->setCurrentIndex(2);
  lists.vertical->setCurrentIndex(0);
  ASSERT_TRUE(ApplyLocalisation(lists.Controls(), wide, 100));
  EXPECT_EQ((QStringList{lists.frequency->currentText(), lists.various->currentText(), lists.vertical->currentText()}),
            (QStringList{"Month", "Font", "Top"})) << "the first position is kept too, not the default";
  EXPECT_EQ(lists.frequency->width(), 126) << "the widening adds up with each run";
  for (auto [id, text, message] : {std::tuple{113, "A///B///C///D///E///F[0|0]", "more than 5 pages"},
                                    {124, "Minute///Hour[0|0]", "too few for position 4"},
                                    {114, "Tile///Stretch///Center", "suffix"},
                                    {114, "Tile///Stretch///Center[0|0", "does not end in"},
                                    {125, "Top///Bottom///Center///Random[0|x]", "whole numbers"}}) {
    Lists failing;
    auto result = ApplyLocalisation(failing.Controls(), TableWith(id, text), 100);
    ASSERT_FALSE(result) << text;
    EXPECT_NE(result.error().message.find(message), std::string::npos) << result.error().message;
  }
  // Fewer than five page names leave the other pages' names empty.
  Lists few;
  ASSERT_TRUE(ApplyLocalisation(few.Controls(), TableWith(113, "One///Two[0|0]"), 100));
  EXPECT_EQ((std::tuple(few.various->count(), few.various->itemText(1), few.various->itemText(4))), std::tuple(5, "Two", ""));
}

QImage Render(QWidget& widget) {
  QImage image(widget.size(), QImage::Format_RGB32);
  image.fill(Qt::magenta);
  widget.render(&image);
  return image;
}

TEST(LineControl, KeepsItsPropertiesAndDrawsAnEtchedLineThatTheCaptionInterrupts) {
  QWidget host;
  host.resize(300, 40);
  axLine line(&host);
  line.setGeometry(0, 0, 300, 20);
  QSignalSpy changed(&line, &axLine::PropertyChanged);
  EXPECT_EQ(line.Label()->text(), " Caption ") << "the default caption";
  EXPECT_EQ(line.Label()->pos(), QPoint(6, 0));
  line.Caption("  Padded  ");
  EXPECT_EQ(line.Label()->text(), "   Padded   ");
  EXPECT_EQ(line.Caption(), "Padded") << "every blank around it is removed on reading";
  line.ForeColor(0x123456), line.Enabled(true), line.BorderStyle(-2);
  EXPECT_TRUE(line.isEnabled()) << "the stored Enabled does not disable the control";
  EXPECT_EQ(changed.count(), 4);
  // Saved and read back by name; values equal to their defaults left out.
  QFont hostFont = host.font();
  QVariantMap bag;
  line.WriteProperties(bag, hostFont);
  EXPECT_EQ(QSet<QString>(bag.keyBegin(), bag.keyEnd()),
            (QSet<QString>{"Caption", "ForeColor", "Enabled", "BorderStyle"}));
  axLine restored(&host);
  restored.ReadProperties(bag, hostFont);
  EXPECT_EQ(restored.Label()->text(), "   Padded   ") << "exactly as saved, no blanks added";
  EXPECT_EQ(std::tuple(restored.ForeColor(), restored.BorderStyle()), std::tuple(0x123456u, -2));
  EXPECT_EQ(restored.Font(), hostFont) << "a missing font is the host's";
  restored.InitProperties();
  QVariantMap initial;
  restored.WriteProperties(initial, hostFont);
  EXPECT_EQ(initial.keys(), QStringList{"Caption"}) << "a new control's values are the defaults, left out";
  // Two lines, dark over white, from edge to edge, but under the caption.
  const QRgb dark = line.palette().color(QPalette::Dark).rgb(), white = QColor(Qt::white).rgb();
  line.Caption("Alignment");
  int y = line.LineY();
  int height = line.Label()->height();
  EXPECT_EQ(y, height / 2 + ((height % 2 == 1 && (height / 2) % 2 == 1) ? 1 : 0)) << "half the label, halves to even";
  QImage image = Render(line);
  int right = line.Label()->geometry().right() + 5;
  EXPECT_EQ((std::vector{image.pixel(right, y), image.pixel(right, y + 1), image.pixel(2, y), image.pixel(299, y + 1)}),
            (std::vector{dark, white, dark, white})) << "from the left edge to the right one";
  EXPECT_NE(image.pixel(line.Label()->x() + 1, y), dark) << "the caption covers the line";
  line.BackColor(0x00FF00);
  EXPECT_EQ(Render(line), image) << "the colour properties leave the drawing as it is";
  line.Caption("");
  line.Label()->setText("");
  EXPECT_EQ(line.LineY(), 0);
  QImage bare = Render(line);
  EXPECT_EQ(std::pair(bare.pixel(150, 0), bare.pixel(150, 1)), std::pair(dark, white)) << "no caption: at the top";
}

TEST(CheckLists, HundredsOfNamesWithDuplicatesAndBlanks) {
  Names available, selected;
  for (int i = 0; i < 600; ++i) available.push_back("Family " + std::to_string(i % 500));  // 100 doubled
  available.insert(available.end(), {"   ", ""});
  for (int i = 0; i < 600; i += 2) selected.push_back("Family " + std::to_string(i % 500));
  selected.push_back("Not there");
  QListWidget list;
  FillCheckedList(&list, available, selected);
  ASSERT_EQ(list.count(), 600) << "blank names are skipped";
  EXPECT_EQ(list.currentItem(), nullptr);
  EXPECT_EQ(list.item(500)->checkState(), Qt::Unchecked) << "a second \"Family 0\" is never checked";
  Names collected;
  CollectCheckedItems(&list, collected, "Arial");
  ASSERT_EQ(collected.size(), 250u) << "each selected name once, at its first entry";
  EXPECT_EQ(collected[1], "Family 2");
  FillCheckedList(&list, {"beta", "Alpha", "alpha", "Gamma"}, {}, ListOrder::Alphabetical);
  Names order;
  for (int row = 0; row < list.count(); ++row) order.push_back(EntryName(list.item(row)));
  EXPECT_EQ(order, (Names{"Alpha", "alpha", "beta", "Gamma"})) << "letter case ignored, ties as given";
}

}  // namespace
