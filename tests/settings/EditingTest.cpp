// What each control commits and when; and bad input, with which the window shows what it can and never writes over
// a value the user did not change.

#include <QAbstractItemView>
#include <QGroupBox>
#include <QScrollBar>
#include <QStyleOptionFrame>
#include <QWheelEvent>

#include "EditingRules.h"
#include "FontPreview.h"
#include "SettingsFixture.h"
#include "kvplatform/base/Paths.h"

namespace {

using kvtest::Names;
using kvtest::StoredSetting;
using kvtest::StoredSettings;
using kvtest::StoreSetting;

class Editing : public kvtest::SettingsWindowTest {};

TEST_F(Editing, ListsCommitTheirItemWhenTheyLoseTheFocusEvenUnchanged) {
  StoreSetting("HAlign", "2");
  OpenCleanly();
  const kv::CSettings* settings = window_->Settings();
  // Opening the drop-down and switching windows are no visits; leaving the list commits it even unchanged.
  ShowPage(4);
  QComboBox* horizontal = List("cboHAlign");
  horizontal->setFocus(Qt::TabFocusReason);
  for (Qt::FocusReason reason : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason}) {
    QFocusEvent away(QEvent::FocusOut, reason);
    QApplication::sendEvent(horizontal, &away);
  }
  EXPECT_FALSE(ApplyEnabled());
  Visit(horizontal);
  EXPECT_TRUE(ApplyEnabled()) << "leaving it commits";
  Button("cmdApply")->click();
  EXPECT_EQ(StoredSetting("HAlign"), "2") << "the same value rewritten";
  // A change is no commit until the list is left.
  QComboBox* frequency = List("cboFrequency");
  frequency->setFocus(Qt::TabFocusReason);
  frequency->setCurrentIndex(8);
  EXPECT_FALSE(ApplyEnabled());
  EXPECT_EQ(settings->Frequency(), "4");
  Button("cmdOK")->setFocus(Qt::TabFocusReason);
  EXPECT_TRUE(ApplyEnabled());
  EXPECT_EQ(settings->Frequency(), "8") << "\"Time I boot\" is wpBoot";
  for (auto [page, name, item] : {std::tuple{4, "cboVAlign", 1}, {4, "cboMargin1", 0}, {4, "cboMargin3", 36},
                                  {4, "cboMargin2", 1}, {4, "cboMargin0", 101}, {3, "cboBackgroundMode", 2},
                                  {2, "cboFontSize", 0}})
    ShowPage(page), Pick(List(name), item);
  EXPECT_EQ((Names{settings->VAlign(), settings->BottomMargin(), settings->RightMargin(), settings->LeftMargin(),
                   settings->TopMargin(), settings->BackgroundMode(), settings->FontSize()}),
            (Names{"1", "-1", "35", "0", "100", "2", "8"})) << "Random is -1";
  ShowPage(4);
  QCheckBox* allow = Box("chkAllowViolation");
  allow->setFocus(Qt::TabFocusReason);
  QTest::keyClick(allow, Qt::Key_Space);
  EXPECT_TRUE(settings->AllowViolation()) << "not before the box is left";
  Button("cmdOK")->setFocus(Qt::TabFocusReason);
  EXPECT_FALSE(settings->AllowViolation());
  EXPECT_EQ(StoredSetting("FontSize"), "40") << "nothing reaches the store before a save";
}

// Both lists of names a newer version may extend: an unknown name is kept.
TEST_F(Editing, EffectsAndQuoteMonitorsSaveTheirNamesAndKeepUnknownOnes) {
  StoreList("SelectedEffects", {"Box", "Sparkle"});
  OpenCleanly();
  QListWidget* effects = CheckList("lstEffects");
  ASSERT_EQ(effects->count(), 5);
  EXPECT_EQ(std::pair(effects->item(0)->text(), effects->item(3)->text()),
            std::pair(QString("Shadow behind the text"), QString("Readable on any picture")));
  EXPECT_EQ(Checked(effects), Names{"Box behind the text"});
  EXPECT_FALSE(ApplyEnabled());
  for (auto [row, checked] : {std::pair{2, false}, {4, true}, {0, true}}) SetChecked(effects, row, checked);
  EXPECT_TRUE(ApplyEnabled());
  Button("cmdApply")->click();
  EXPECT_EQ(StoredList("SelectedEffects"), (Names{"Shadow", "Smooth", "Sparkle"}))
      << "the list's order, the unknown name kept at the end";
  SetChecked(effects, 0, false);
  SetChecked(effects, 4, false);
  Button("cmdApply")->click();
  EXPECT_EQ(StoredList("SelectedEffects"), Names{"Sparkle"});
  QComboBox* monitors = List("cboQuoteMonitors");
  EXPECT_FALSE(monitors->isVisible()) << "it belongs to the Position page";
  ShowPage(4);
  ASSERT_TRUE(monitors->isVisible());
  EXPECT_EQ(Items(monitors), (Names{"Primary monitor", "Every monitor"}));
  EXPECT_EQ(monitors->currentIndex(), 0) << "a store without the value shows the primary monitor";
  Visit(monitors);
  Button("cmdApply")->click();
  EXPECT_FALSE(StoredSetting("QuoteMonitors")) << "the default is not stored";
  Pick(monitors, 1);
  EXPECT_TRUE(ApplyEnabled());
  Button("cmdOK")->click();
  EXPECT_EQ(StoredSetting("QuoteMonitors"), "each");
  // A value of a newer version shows no item and is saved back unchanged.
  StoreSetting("QuoteMonitors", "largest");
  OpenCleanly();
  ShowPage(4);
  EXPECT_EQ(List("cboQuoteMonitors")->currentIndex(), -1);
  Visit(List("cboQuoteMonitors"));
  Button("cmdOK")->click();
  EXPECT_EQ(StoredSetting("QuoteMonitors"), "largest");
}

void TurnWheel(QComboBox* list) {
  QPointF at = list->rect().center();
  QWheelEvent wheel(at, list->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(list, &wheel);
}

TEST_F(Editing, DropDownsTurnOnlyWithTheFocusAndOpenAFewRowsHigh) {
  OpenCleanly();
  QComboBox* frequency = List("cboFrequency");
  Button("cmdCancel")->setFocus(Qt::TabFocusReason);
  // The pointer resting on a list that has no focus changes nothing.
  TurnWheel(frequency);
  EXPECT_EQ(frequency->currentText(), "Hour") << "the list shows a value nothing would save";
  ShowPage(4);
  TurnWheel(List("cboMargin0"));
  EXPECT_EQ(List("cboMargin0")->currentText(), "10%");
  EXPECT_FALSE(ApplyEnabled());
  // A long list opens twelve rows high, with a scroll bar; a short one whole.
  for (QComboBox* list : {List("cboMargin0"), frequency}) {
    list->setFocus(Qt::TabFocusReason);
    list->showPopup();
    QAbstractItemView* rows = list->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rows->window()));
    EXPECT_EQ(rows->viewport()->height() / rows->sizeHintForRow(0), std::min(list->count(), 12))
        << list->objectName().toStdString() << ": rows in view at once";
    EXPECT_EQ(rows->verticalScrollBar()->isVisible(), list->count() > 12) << list->objectName().toStdString();
    list->hidePopup();
  }
  // With the focus, the wheel picks, and leaving the list commits the pick.
  frequency->setFocus(Qt::TabFocusReason);
  TurnWheel(frequency);
  EXPECT_EQ(frequency->currentText(), "Day");
  Button("cmdOK")->click();
  EXPECT_EQ(StoredSetting("Frequency"), "5");
}

class BadInput : public kvtest::SettingsWindowTest {};

TEST_F(BadInput, ValuesThatFitNoItemShowNoneAndStayUntilTheUserChooses) {
  // "stretch": only the exact older names are converted; 150 is outside 0..100: random; " 25 " reads as 25.
  const std::vector<std::pair<std::string, std::string>> stored{
      {"Frequency", "99"}, {"HAlign", "left"}, {"VAlign", ""}, {"BackgroundMode", "stretch"}, {"FontSize", "71"},
      {"TopMargin", "ten"}, {"FontColor", "blue"}, {"BackgroundColor", "-5"}, {"BottomMargin", "150"},
      {"LeftMargin", " 25 "}};
  for (const auto& [name, value] : stored) StoreSetting(name, value);
  AddQuotesFile("Craft");
  OpenCleanly();
  for (const char* name : {"cboFrequency", "cboHAlign", "cboVAlign", "cboBackgroundMode", "cboFontSize", "cboMargin0"}) {
    EXPECT_EQ(List(name)->currentIndex(), -1) << name << " shows no item";
    EXPECT_GT(List(name)->count(), 0) << name << " still offers its items";
  }
  EXPECT_EQ(std::pair(List("cboMargin1")->currentText(), List("cboMargin2")->currentText()),
            std::pair(QString("Random"), QString("25%")));
  EXPECT_EQ(std::pair(Swatch("txtColor")->Color(), Swatch("txtBackgroundColor")->Color()),
            std::pair(std::optional<std::uint32_t>(), std::optional<std::uint32_t>())) << "neutral swatches";
  EXPECT_NE(Swatch("txtColor")->toolTip().indexOf("blue"), -1) << "which says what was stored";
  EXPECT_EQ(Find<QLineEdit>("txtFontPreview")->font().pixelSize(), window_->font().pixelSize())
      << "no size chosen: the window's own";
  // Passing through a list without an item commits nothing.
  for (auto [page, name] : {std::pair{0, "cboFrequency"}, {4, "cboHAlign"}, {4, "cboVAlign"}, {4, "cboMargin0"},
                            {3, "cboBackgroundMode"}, {2, "cboFontSize"}})
    ShowPage(page), Visit(List(name));
  EXPECT_FALSE(ApplyEnabled());
  // A save for another edit writes the unshown values back as they were.
  ShowPage(1);
  SetChecked(CheckList("lstQuotesFiles"), 0, true);
  Button("cmdApply")->click();
  ASSERT_TRUE(warnings_.empty()) << warnings_.front();
  for (const auto& [name, value] : stored)
    if (name != "LeftMargin") { EXPECT_EQ(StoredSetting(name), value) << name; }
  // Choosing replaces them; a neutral swatch takes any colour.
  Pick(List("cboFrequency"), 5);
  ShowPage(2);
  answers_.push_back(QColor(0, 0, 0));
  QTest::mouseClick(Swatch("txtColor"), Qt::LeftButton);
  EXPECT_EQ(offeredColors_.back(), QColor(255, 255, 255)) << "a neutral swatch opens the dialog on white";
  Button("cmdOK")->click();
  EXPECT_EQ(StoredSettings({"Frequency", "FontColor"}), (Names{"5", "0"}));
  // Sizes run from 8 to 70: one just outside shows no item and is saved back as it was.
  for (auto [size, item] : {std::pair{"7", -1}, {"8", 0}, {"70", 62}, {"71", -1}}) {
    StoreSetting("FontSize", size);
    OpenCleanly();
    QComboBox* sizes = List("cboFontSize");
    ASSERT_EQ(sizes->count(), 63);
    EXPECT_EQ(sizes->currentIndex(), item) << "stored " << size;
    EXPECT_EQ(sizes->itemText(item < 0 ? 0 : item), item < 0 ? "8" : size);
    ShowPage(2);
    Visit(sizes);
    Pick(List("cboFrequency"), 1);
    Button("cmdOK")->click();
    EXPECT_EQ(StoredSetting("FontSize"), size);
  }
  for (const char* outside : {"0", "71", "400"}) EXPECT_EQ(kv::settings::FontSizeItemForSetting(outside), -1) << outside;
}

TEST_F(BadInput, AStoreThatIsNoDatabaseOpensWithDefaultsAndRefusesToSave) {
  std::filesystem::path file = kv::platform::StoreFile();
  const std::string garbage = "this is no settings store, just some text\n";
  kvtest::WriteFile(file, garbage);
  AddBackground("A");
  kv::Status loaded = Open();
  ASSERT_FALSE(loaded) << "the load tells what went wrong";
  EXPECT_NE(loaded.error().message.find(file.string()), std::string::npos) << loaded.error().message;
  EXPECT_NE(loaded.error().message.find("defaults"), std::string::npos) << loaded.error().message;
  EXPECT_EQ(std::pair(List("cboFrequency")->currentText(), List("cboMargin0")->currentText()),
            std::pair(QString("Hour"), QString("10%")));
  EXPECT_EQ(Swatch("txtColor")->Color(), 0xFFFFFFu);
  EXPECT_GT(CheckList("lstBackGrounds")->count(), 0)
      << "without a readable \"Path\" the data folder is the library's, with its sample pictures";
  EXPECT_TRUE(Find<QWidget>("fraVarious")->isEnabled());
  // A save fails, says why, and keeps the edits and Apply.
  Pick(List("cboFrequency"), 0);
  Button("cmdApply")->click();
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find("The settings were not saved"), std::string::npos) << warnings_[0];
  EXPECT_NE(warnings_[0].find(file.string()), std::string::npos) << warnings_[0];
  EXPECT_TRUE(ApplyEnabled());
  EXPECT_EQ(window_->Settings()->Frequency(), "0");
  Button("cmdOK")->click();
  EXPECT_EQ(warnings_.size(), 2u);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(kvtest::ReadFile(file), garbage) << "the file is left exactly as it was";
}

TEST_F(BadInput, SettingsThatCannotBeLoadedAreShownAsNothingAndNeverSaved) {
  // The sibling is half installed: its data folder cannot be read.
  kvtest::Store("software\\Classes\\Lexora.Data", "", "");
  StoreSetting("FontColor", "255");
  kv::Status loaded = Open();
  ASSERT_FALSE(loaded);
  EXPECT_NE(loaded.error().message.find("Lexora"), std::string::npos) << loaded.error().message;
  EXPECT_FALSE(Find<QGroupBox>("fraVarious")->isEnabled() || Find<QGroupBox>("fraFrequency")->isEnabled()) << "nothing to edit";
  EXPECT_EQ(std::pair(List("cboFrequency")->currentIndex(), Swatch("txtColor")->Color()),
            std::pair(-1, std::optional<std::uint32_t>()));
  EXPECT_TRUE(Button("cmdCancel")->isEnabled());
  Button("cmdOK")->click();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(StoredSettings({"FontColor", "Frequency"}), (Names{"255", "(none)"})) << "nothing was stored";
}

TEST_F(BadInput, MissingStringTableTextLeavesItsListsEmptyAndTheRestWorking) {
  std::string_view partial =
      "113=Effects///Quotes///Font///Background///Position[0|0]\n114=Tile///Stretch///Center[0|0]\n";
  kv::Status loaded = Open(Dialogs(), kv::settings::StringTable::Parse(partial, "a partial table"));
  ASSERT_FALSE(loaded);
  EXPECT_NE(loaded.error().message.find("124"), std::string::npos) << loaded.error().message;
  EXPECT_EQ(std::tuple(List("cboVarious")->count(), List("cboBackgroundMode")->currentText(),
                       List("cboFrequency")->count()), std::tuple(5, "Stretch", 0));
  Visit(List("cboFrequency"));
  EXPECT_FALSE(ApplyEnabled()) << "an empty list commits nothing";
  ShowPage(4);
  Pick(List("cboMargin0"), 0);
  Button("cmdOK")->click();
  EXPECT_EQ(StoredSettings({"TopMargin", "Frequency"}), (Names{"-1", "4"}));
}

TEST_F(BadInput, NamesWithOddCharactersArrivePerByteAsTheFilesAreNamed) {
  const Names names{"Caf\xc3\xa9 & Co", "caf\xe9 latin", "<b>bold", "tab\there", " padded "};
  for (const std::string& name : names) AddBackground(name);
  OpenCleanly();
  QListWidget* list = CheckList("lstBackGrounds");
  auto sorted = [](Names unsorted) { std::sort(unsorted.begin(), unsorted.end()); return unsorted; };
  EXPECT_EQ(sorted(Texts(list)), sorted({" padded ", "<b>bold", "Caf\xc3\xa9 & Co", "caf\xc3\xa9 latin", "tab\there"}))
      << "shown readably, the Latin-1 name decoded";
  ShowPage(3);
  for (int row = 0; row < list->count(); ++row) SetChecked(list, row, true);
  Button("cmdOK")->click();
  EXPECT_EQ(sorted(StoredList("SelectedBackgrounds")), sorted(names)) << "saved byte for byte, so the service finds them";
  OpenCleanly();
  EXPECT_EQ(Checked(CheckList("lstBackGrounds")).size(), names.size()) << "and checked again";
}

// A sample exactly as tall as the box's text room is drawn at its own size; one pixel less and it is drawn smaller.
TEST(FontPreview, ASampleThatFitsExactlyKeepsItsSize) {
  struct Sample : kv::settings::FontPreview {
    using FontPreview::FontPreview;
    qreal RoomHeight() const {  // the contents of the frame less a pixel of margin above and below
      QStyleOptionFrame panel;
      initStyleOption(&panel);
      return style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).height() - 2;
    }
  };
  Sample sample("aAbByYzZ");
  QFont font("DejaVu Sans");
  font.setPixelSize(128);  // a line of the face is 2 384 / 2 048 of the size: 149 pixels
  sample.setFont(font);
  const QFontMetricsF metrics(font);
  const qreal tall = std::max(metrics.height(), metrics.boundingRect(sample.text()).height());
  ASSERT_EQ(tall, 149);
  sample.resize(1500, 200);
  sample.show();  // so that each resize reaches the sample at once
  sample.resize(1500, 200 + static_cast<int>(tall - sample.RoomHeight()));
  ASSERT_EQ(sample.RoomHeight(), tall);
  EXPECT_EQ(sample.DrawingFont(), font);
  sample.resize(1500, sample.height() - 1);
  EXPECT_LT(QFontInfo(sample.DrawingFont()).pixelSize(), 128);
}

}  // namespace
