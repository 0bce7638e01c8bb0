// The settings window's structure, its loading, the check lists, and OK, Cancel and Apply.

#include <QLabel>
#include <QTimer>

#include "SettingsFixture.h"

namespace {

using kvtest::Names;
using kvtest::StoredSetting;
using kvtest::StoredSettings;
using kvtest::StoreSetting;
using kvtest::StoreSettings;

class Window : public kvtest::SettingsWindowTest {};

TEST_F(Window, LoadingShowsPageZeroWithTheStoredSettingsWhereTheDesignPutsThem) {
  for (const char* name : {"Sea", "Sky"}) AddBackground(name);
  for (const char* name : {"Craft", "Joys"}) AddQuotesFile(name);
  StoreSettings({{"FirstTime", "0"}, {"Frequency", "7"}, {"HAlign", "0"}, {"VAlign", "2"},
                 {"BackgroundMode", "Center"},  // the older form, read as 2
                 {"TopMargin", "-1"}, {"BottomMargin", "-7"}, {"LeftMargin", "25"}, {"RightMargin", "100"},
                 {"FontSize", "70"}, {"AllowViolation", "0"}, {"FontColor", "255"}, {"BackgroundColor", "16711680"},
                 {"SelectedQuotesFiles0", "Joys"}});
  OpenCleanly();
  EXPECT_EQ(window_->size(), QSize(675, 416)) << "5175 x 6240 twips at 15 a pixel, and the preview pane beside them";
  EXPECT_EQ(window_->windowTitle(), "Kvillo Setup");
  for (auto [name, at] : {std::pair{"imgIcon", QRect(8, 8, 32, 32)}, {"lblExplanation", {56, 12, 243, 29}},
                          {"fraStartStop", {10, 50, 329, 81}}, {"fraFrequency", {10, 140, 329, 57}},
                          {"fraVarious", {8, 208, 329, 166}}, {"cboVarious", {8, 0, 105, 21}},
                          {"cmdOK", {104, 384, 73, 25}}, {"cmdCancel", {184, 384, 73, 25}},
                          {"cmdApply", {264, 384, 73, 25}}})
    EXPECT_EQ(Find<QWidget>(name)->geometry(), at) << name;
  EXPECT_EQ(Find<QWidget>("fraPreview")->geometry().topLeft(), QPoint(345, 12));
  EXPECT_EQ(std::pair(Find<QTimer>("tmrServiceWatch")->isActive(), Find<QTimer>("tmrServiceWatch")->interval()),
            std::pair(true, 500));
  EXPECT_TRUE(Button("cmdOK")->isDefault()) << "Enter presses OK";
  // Every caption fits its box, in the window's own fonts, none made smaller.
  for (QWidget* caption : window_->findChildren<QWidget*>()) {
    auto* label = qobject_cast<QLabel*>(caption);
    if (label ? label->wordWrap() || label->text().isEmpty() : !qobject_cast<QCheckBox*>(caption)) continue;
    EXPECT_LE(caption->sizeHint().width(), caption->width()) << caption->objectName().toStdString() << " is cut off";
    EXPECT_EQ(caption->font().pixelSize(), 11) << caption->objectName().toStdString() << " was made smaller";
  }
  EXPECT_EQ(Items(List("cboVarious")), (Names{"Effects", "Quotes", "Font", "Background", "Position"}));
  for (int page = 0; page < 5; ++page) {
    QWidget* panel = Find<QWidget>(("fraOptionPanel" + std::to_string(page)).c_str());
    EXPECT_EQ(panel->isEnabled(), page == 0) << "page " << page;
    EXPECT_EQ(panel->pos(), QPoint(page == 0 ? 8 : 352, 24)) << "page " << page << " at 120 or 5280, 360 twips";
  }
  EXPECT_FALSE(ApplyEnabled()) << "loading is no edit";
  EXPECT_EQ(Checked(CheckList("lstEffects")).size(), 0u);
  EXPECT_EQ(std::pair(List("cboFrequency")->count(), List("cboMargin0")->count()), std::pair(9, 102))
      << "Random, 0% ... 100%";
  for (auto [name, text] : {std::pair{"cboFrequency", "Month"}, {"cboHAlign", "Left"}, {"cboVAlign", "Center"},
                            {"cboBackgroundMode", "Center"}, {"cboFontSize", "70"}, {"cboMargin0", "Random"},
                            {"cboMargin1", "Random"}, {"cboMargin2", "25%"}, {"cboMargin3", "100%"}})
    EXPECT_EQ(List(name)->currentText(), text) << name;
  EXPECT_FALSE(Box("chkAllowViolation")->isChecked());
  EXPECT_EQ(std::pair(Swatch("txtColor")->Color(), Swatch("txtBackgroundColor")->Color()),
            std::pair(std::optional(0x0000FFu), std::optional(0xFF0000u)));
  // The check lists: every name of the catalog, the selection checked, no entry highlighted.
  EXPECT_EQ((std::vector{Texts(CheckList("lstBackGrounds")), Checked(CheckList("lstBackGrounds")),
                         Texts(CheckList("lstQuotesFiles")), Checked(CheckList("lstQuotesFiles"))}),
            (std::vector<Names>{{"Sea", "Sky"}, {"Sea", "Sky"}, {"Craft", "Joys"}, {"Joys"}}))
      << "the first run selects every picture";
  EXPECT_GT(CheckList("lstFont")->count(), 5) << "the installed fonts";
  for (const char* name : {"lstBackGrounds", "lstQuotesFiles", "lstFont"})
    EXPECT_EQ(CheckList(name)->currentItem(), nullptr) << name << " has an entry highlighted";
  ShowPage(3);
  EXPECT_EQ(std::pair(Find<QWidget>("fraOptionPanel3")->x(), Find<QWidget>("fraOptionPanel0")->x()),
            std::pair(8, 352));
  CheckList("lstEffects")->setFocus(Qt::OtherFocusReason);
  EXPECT_FALSE(CheckList("lstEffects")->hasFocus()) << "a hidden page's control takes no focus";
}

TEST_F(Window, CheckListsMatchNamesExactlySelectInListOrderAndKeepWhatTheyDoNotShow) {
  StoreSettings({{"SelectedBackgrounds0", "Gone"}, {"SelectedQuotesFiles0", "Also gone"}});
  OpenCleanly();
  EXPECT_EQ(CheckList("lstBackGrounds")->count() + CheckList("lstQuotesFiles")->count(), 0) << "an empty name is none";
  Pick(List("cboFrequency"), 0);
  Button("cmdOK")->click();
  EXPECT_EQ(StoredList("SelectedBackgrounds"), Names{"Gone"}) << "an unseen selection is kept";
  EXPECT_EQ(StoredList("SelectedQuotesFiles"), Names{"Also gone"});
  // Two files differing in the extension's case are one picture; names differing in case are different pictures.
  for (const char* name : {"Sea", "sky", "Sky", " "}) AddBackground(name);  // a blank name is no entry
  kvtest::WriteFile(data_ / "Backgrounds" / "Sea.BMP", "");
  AddQuotesFile("Q1");
  StoreList("SelectedBackgrounds", {"Sea", "SKY", "Sky", "Gone"});
  OpenCleanly();
  QListWidget* list = CheckList("lstBackGrounds");
  ASSERT_EQ(Texts(list), (Names{"Sea", "Sky", "sky"}));
  EXPECT_EQ(Checked(list), (Names{"Sea", "Sky"})) << "\"SKY\" and \"Sky\" match no \"sky\"";
  Names selection;
  ASSERT_TRUE(window_->Settings()->GetSelectedBackgrounds(selection));
  EXPECT_EQ(selection, (Names{"Sea", "SKY", "Sky", "Gone"})) << "unchanged until a check mark changes";
  // A check mark selects in list order, not in the order of the clicks; names the list does not show are gone.
  ShowPage(3);
  SetChecked(list, 2, true);
  EXPECT_TRUE(ApplyEnabled());
  ASSERT_TRUE(window_->Settings()->GetSelectedBackgrounds(selection));
  EXPECT_EQ(selection, (Names{"Sea", "Sky", "sky"}));
  for (auto [row, checked] : {std::pair{0, false}, {1, false}, {0, true}}) SetChecked(list, row, checked);
  ASSERT_TRUE(window_->Settings()->GetSelectedBackgrounds(selection));
  EXPECT_EQ(selection, (Names{"Sea", "sky"}));
  Button("cmdApply")->click();
  EXPECT_EQ(StoredList("SelectedBackgrounds"), (Names{"Sea", "sky"}));
  // With nothing ticked, pictures and quotes files are one empty name and the fonts "Arial", though no entry is so.
  for (int row : {0, 2}) SetChecked(list, row, false);
  ShowPage(2);
  QList<QListWidgetItem*> dejaVu = CheckList("lstFont")->findItems("DejaVu Sans", Qt::MatchExactly);
  ASSERT_EQ(dejaVu.size(), 1);
  dejaVu[0]->setCheckState(Qt::Checked);
  dejaVu[0]->setCheckState(Qt::Unchecked);
  EXPECT_TRUE(Checked(CheckList("lstFont")).empty());
  ShowPage(1);
  for (bool on : {true, false}) SetChecked(CheckList("lstQuotesFiles"), 0, on);
  Button("cmdApply")->click();
  EXPECT_EQ((std::vector{StoredList("SelectedFonts"), StoredList("SelectedBackgrounds"),
                         StoredList("SelectedQuotesFiles")}),
            (std::vector<Names>{{"Arial"}, {""}, {""}}));
}

TEST_F(Window, UseQuotesIsNoEditAndAnInstalledSiblingClearsAndLocksIt) {
  AddQuotesFile("Craft");
  OpenCleanly();
  EXPECT_TRUE(Box("chkUseQuotes")->isEnabledTo(Find<QWidget>("fraOptionPanel1"))) << "usable while the sibling is absent";
  ShowPage(1);
  Box("chkUseQuotes")->setChecked(true);
  EXPECT_TRUE(window_->Settings()->UseQuotes());
  EXPECT_FALSE(CheckList("lstQuotesFiles")->isEnabled());
  EXPECT_FALSE(ApplyEnabled());
  kvtest::Store("software\\Classes\\Lexora.Data", "", "");
  kvtest::Store("software\\Classes\\Lexora.Settings", "LexoraPath", data_.string());
  StoreSetting("UseQuotes", "1");  // an installed sibling
  OpenCleanly();
  QWidget* quotesPage = Find<QWidget>("fraOptionPanel1");
  EXPECT_FALSE(Box("chkUseQuotes")->isChecked() || Box("chkUseQuotes")->isEnabledTo(quotesPage)) << "cleared, locked";
  EXPECT_TRUE(CheckList("lstQuotesFiles")->isEnabledTo(quotesPage));
  EXPECT_FALSE(window_->Settings()->UseQuotes()) << "cleared in memory";
  EXPECT_FALSE(ApplyEnabled());
  EXPECT_EQ(StoredSetting("UseQuotes"), "1") << "not yet saved";
  ShowPage(1);
  SetChecked(CheckList("lstQuotesFiles"), 0, true);
  Button("cmdApply")->click();
  EXPECT_EQ(StoredSetting("UseQuotes"), "0") << "stored by the next save";
  EXPECT_EQ(StoredList("SelectedQuotesFiles"), Names{"Craft"});
}

TEST_F(Window, CancelCloseAndEscapeSaveNothingApplyOkAndEnterSaveTheEditedState) {
  for (const char* name : {"A", "B"}) AddBackground(name);
  OpenCleanly();
  ShowPage(4);
  Pick(List("cboHAlign"), 1);
  Pick(List("cboMargin0"), 0);
  ShowPage(3);
  SetChecked(CheckList("lstBackGrounds"), 0, true);
  ASSERT_TRUE(ApplyEnabled());
  Button("cmdCancel")->click();
  EXPECT_FALSE(window_->isVisible()) << "Cancel closes the window";
  EXPECT_EQ(StoredSettings({"HAlign", "TopMargin", "SelectedBackgrounds0", "SelectedBackgrounds1"}),
            (Names{"3", "10", "", "(none)"}));
  for (bool escape : {false, true}) {
    OpenCleanly();
    Pick(List("cboFrequency"), 0);
    escape ? QTest::keyClick(Button("cmdCancel"), Qt::Key_Escape) : (void)window_->close();
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(StoredSetting("Frequency"), "4");
  }
  // OK with nothing to apply closes without saving: a value changed behind the window's back stays.
  OpenCleanly();
  StoreSetting("Frequency", "1");
  Button("cmdOK")->click();
  EXPECT_EQ(std::tuple(window_->isVisible(), StoredSetting("Frequency")), std::tuple(false, "1"));
  OpenCleanly();
  ShowPage(4);
  Pick(List("cboHAlign"), 2);
  Pick(List("cboMargin1"), 36);  // "35%"
  ShowPage(3);
  SetChecked(CheckList("lstBackGrounds"), 1, true);
  Pick(List("cboBackgroundMode"), 0);
  ASSERT_TRUE(ApplyEnabled());
  Button("cmdApply")->setFocus(Qt::MouseFocusReason);
  Button("cmdApply")->click();
  EXPECT_FALSE(ApplyEnabled()) << "nothing left to apply";
  EXPECT_TRUE(window_->isVisible()) << "Apply keeps the window open";
  EXPECT_TRUE(Button("cmdOK")->hasFocus()) << "the focus moved to OK as Apply was disabled";
  // Everything else is the state loaded, written back unchanged.
  EXPECT_EQ(StoredSettings({"HAlign", "BottomMargin", "BackgroundMode", "Frequency", "FontColor", "TopMargin"}),
            (Names{"2", "35", "0", "1", "16777215", "10"}));
  EXPECT_EQ(std::pair(StoredList("SelectedBackgrounds"), StoredList("SelectedFonts")),
            std::pair(Names{"B"}, Names{"Arial"}));
  // Enter presses OK without moving the focus: the focused list's choice is saved as if it had been left.
  ShowPage(2);
  QComboBox* size = List("cboFontSize");
  size->setFocus(Qt::TabFocusReason);
  size->setCurrentIndex(4);  // "12"
  ASSERT_FALSE(ApplyEnabled()) << "not committed before it loses the focus";
  QTest::keyClick(size, Qt::Key_Return);
  EXPECT_FALSE(window_->isVisible()) << "Enter is OK";
  EXPECT_EQ(StoredSetting("FontSize"), "12");
}

}  // namespace
