// The settings window's structure, its loading sequence, the check lists and
// OK, Cancel and Apply, against the real store of a fresh home.

#include <QLabel>
#include <QGroupBox>
#include <QTimer>

#include "SettingsFixture.h"

namespace {

using kvtest::StoredSetting;
using kvtest::StoreSetting;
using Names = std::vector<std::string>;

class Window : public kvtest::SettingsWindowTest {};

TEST_F(Window, ControlsSitWhereTheDesignPutsThem) {
  AddBackground("A");
  OpenCleanly();
  EXPECT_EQ(window_->size(), QSize(675, 416))
      << "5175 x 6240 twips at 15 twips a pixel, and the preview pane with its margin beside them";
  EXPECT_EQ(Find<QWidget>("fraPreview")->geometry().topLeft(), QPoint(345, 12));
  EXPECT_EQ(window_->windowTitle(), "Kvillo Setup");

  struct Place {
    const char* name;
    QRect at;
  };
  for (Place place : {Place{"imgIcon", {8, 8, 32, 32}}, Place{"lblExplanation", {56, 12, 243, 29}},
                      Place{"fraStartStop", {10, 50, 329, 81}}, Place{"fraFrequency", {10, 140, 329, 57}},
                      Place{"fraVarious", {8, 208, 329, 166}}, Place{"cboVarious", {8, 0, 105, 21}},
                      Place{"fraOptionPanel0", {8, 24, 313, 137}}, Place{"cmdOK", {104, 384, 73, 25}},
                      Place{"cmdCancel", {184, 384, 73, 25}}, Place{"cmdApply", {264, 384, 73, 25}}}) {
    EXPECT_EQ(Find<QWidget>(place.name)->geometry(), place.at) << place.name;
  }
  // No service runs: only Start is usable in the service frame.
  EXPECT_EQ(Find<QGroupBox>("fraStartStop")->title(), "Kvillo status: Stopped");
  EXPECT_TRUE(Find<QWidget>("cmdStart")->isEnabled());
  for (const char* name : {"cmdStop", "cmdPause", "cmdResume"}) {
    EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(Find<QWidget>("chkAutoStart")->isEnabled());
  EXPECT_TRUE(Find<QTimer>("tmrServiceWatch")->isActive());
  EXPECT_EQ(Find<QTimer>("tmrServiceWatch")->interval(), 500);

  EXPECT_TRUE(Button("cmdOK")->isDefault()) << "Enter presses OK";

  // Every caption fits its box: nothing is cut off.
  for (QLabel* label : window_->findChildren<QLabel*>()) {
    if (label->wordWrap() || label->text().isEmpty()) continue;
    EXPECT_LE(label->sizeHint().width(), label->width()) << label->objectName().toStdString() << " is cut off";
  }
  for (QCheckBox* box : window_->findChildren<QCheckBox*>()) {
    EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString() << " is cut off";
  }
}

TEST_F(Window, LoadingShowsPageZeroWithTheStoredSettingsAndNothingToApply) {
  AddBackground("Sea");
  AddBackground("Sky");
  AddQuotesFile("Craft");
  AddQuotesFile("Joys");
  StoreSetting("Frequency", "7");
  StoreSetting("HAlign", "0");
  StoreSetting("VAlign", "2");
  StoreSetting("BackgroundMode", "Center");  // the older form, read as 2
  StoreSetting("TopMargin", "-1");
  StoreSetting("BottomMargin", "-7");
  StoreSetting("LeftMargin", "25");
  StoreSetting("RightMargin", "100");
  StoreSetting("FontSize", "70");
  StoreSetting("AllowViolation", "0");
  StoreSetting("FontColor", "255");  // red
  StoreSetting("BackgroundColor", "16711680");  // blue
  StoreSetting("SelectedQuotesFiles0", "Joys");
  OpenCleanly();

  EXPECT_EQ(Items(List("cboVarious")), (Names{"Effects", "Quotes", "Font", "Background", "Position"}));
  EXPECT_EQ(List("cboVarious")->currentIndex(), 0);
  for (int page = 0; page < 5; ++page) {
    QWidget* panel = Find<QWidget>(("fraOptionPanel" + std::to_string(page)).c_str());
    EXPECT_EQ(panel->isEnabled(), page == 0) << "page " << page;
    EXPECT_EQ(panel->x(), page == 0 ? 8 : 352) << "page " << page << " at 120 or 5280 twips";
    EXPECT_EQ(panel->y(), 24) << "360 twips below the top of fraVarious";
  }
  EXPECT_FALSE(ApplyEnabled()) << "loading is no edit";
  EXPECT_EQ(CheckList("lstEffects")->count(), 5) << "the five effects, none ticked";

  EXPECT_EQ(Items(List("cboFrequency")).size(), 9u);
  EXPECT_EQ(List("cboFrequency")->currentText(), "Month");
  EXPECT_EQ(List("cboHAlign")->currentText(), "Left");
  EXPECT_EQ(List("cboVAlign")->currentText(), "Center");
  EXPECT_EQ(Items(List("cboBackgroundMode")), (Names{"Tile", "Stretch", "Center"}));
  EXPECT_EQ(List("cboBackgroundMode")->currentIndex(), 2);

  EXPECT_EQ(List("cboFontSize")->count(), 63);
  EXPECT_EQ(List("cboFontSize")->itemText(0), "8");
  EXPECT_EQ(List("cboFontSize")->currentText(), "70");
  EXPECT_EQ(List("cboMargin0")->count(), 102) << "Random, 0% ... 100%";
  EXPECT_EQ(List("cboMargin0")->currentText(), "Random") << "TopMargin -1";
  EXPECT_EQ(List("cboMargin1")->currentText(), "Random") << "BottomMargin -7";
  EXPECT_EQ(List("cboMargin2")->currentText(), "25%") << "LeftMargin 25";
  EXPECT_EQ(List("cboMargin3")->currentText(), "100%") << "RightMargin 100";
  EXPECT_FALSE(Box("chkAllowViolation")->isChecked());

  EXPECT_EQ(Swatch("txtColor")->Color(), 0x0000FFu);
  EXPECT_EQ(Swatch("txtBackgroundColor")->Color(), 0xFF0000u);

  // The check lists: every name of the catalog, the selection checked, and
  // no entry highlighted.
  EXPECT_EQ(Texts(CheckList("lstBackGrounds")), (Names{"Sea", "Sky"}));
  EXPECT_EQ(Checked(CheckList("lstBackGrounds")), (Names{"Sea", "Sky"})) << "the first run selects every picture";
  EXPECT_EQ(Texts(CheckList("lstQuotesFiles")), (Names{"Craft", "Joys"}));
  EXPECT_EQ(Checked(CheckList("lstQuotesFiles")), Names{"Joys"});
  EXPECT_GT(CheckList("lstFont")->count(), 5) << "the installed fonts";
  for (const char* name : {"lstBackGrounds", "lstQuotesFiles", "lstFont"}) {
    EXPECT_EQ(CheckList(name)->currentItem(), nullptr) << name << " has an entry highlighted";
  }
  QWidget* quotesPage = Find<QWidget>("fraOptionPanel1");
  EXPECT_TRUE(Box("chkUseQuotes")->isEnabledTo(quotesPage)) << "usable while the sibling is absent";
  EXPECT_FALSE(Box("chkUseQuotes")->isChecked());
  EXPECT_TRUE(CheckList("lstQuotesFiles")->isEnabledTo(quotesPage));

  // Choosing a page shows it, and only it.
  ShowPage(3);
  EXPECT_EQ(Find<QWidget>("fraOptionPanel3")->x(), 8);
  EXPECT_EQ(Find<QWidget>("fraOptionPanel0")->x(), 352);
  CheckList("lstEffects")->setFocus(Qt::OtherFocusReason);
  EXPECT_FALSE(CheckList("lstEffects")->hasFocus()) << "a hidden page's control takes no focus";
}

TEST_F(Window, CaseDifferingNamesAreMatchedExactlyAndOnePictureIsListedOnce) {
  NotFirstRun();
  // Two files of one name (the extension's case differs) are one picture,
  // and names that differ only in letter case are different pictures.
  AddBackground("Sea");
  kvtest::WriteFile(data_ / "Backgrounds" / "Sea.BMP", "");
  AddBackground("sky");
  AddBackground("Sky");
  AddBackground(" ");  // a blank name is no entry
  StoreSetting("SelectedBackgrounds0", "Sea");
  StoreSetting("SelectedBackgrounds1", "SKY");
  StoreSetting("SelectedBackgrounds2", "Sky");
  StoreSetting("SelectedBackgrounds3", "Gone");
  OpenCleanly();

  QListWidget* list = CheckList("lstBackGrounds");
  ASSERT_EQ(Texts(list), (Names{"Sea", "Sky", "sky"}));
  EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);
  EXPECT_EQ(list->item(2)->checkState(), Qt::Unchecked) << "\"SKY\" and \"Sky\" match no \"sky\"";
  EXPECT_FALSE(ApplyEnabled());

  Names selection;
  ASSERT_TRUE(window_->Settings()->GetSelectedBackgrounds(selection));
  EXPECT_EQ(selection, (Names{"Sea", "SKY", "Sky", "Gone"})) << "unchanged until a check mark changes";

  // A check mark selects in list order; the names the list does not show
  // are gone.
  ShowPage(3);
  SetChecked(list, 2, true);
  EXPECT_TRUE(ApplyEnabled());
  Button("cmdApply")->click();
  EXPECT_EQ(StoredList("SelectedBackgrounds"), (Names{"Sea", "Sky", "sky"}));
}

TEST_F(Window, UseQuotesDisablesTheQuotesListWithoutCountingAsAnEdit) {
  NotFirstRun();
  OpenCleanly();
  ShowPage(1);
  Box("chkUseQuotes")->setChecked(true);
  EXPECT_TRUE(window_->Settings()->UseQuotes());
  EXPECT_FALSE(CheckList("lstQuotesFiles")->isEnabled());
  EXPECT_FALSE(ApplyEnabled());
}

TEST_F(Window, EmptyDataFolderGivesEmptyListsAndKeepsTheSelection) {
  NotFirstRun();
  StoreSetting("SelectedBackgrounds0", "Gone");
  StoreSetting("SelectedQuotesFiles0", "Also gone");
  OpenCleanly();
  EXPECT_EQ(CheckList("lstBackGrounds")->count(), 0) << "the catalog's one empty name is no entry";
  EXPECT_EQ(CheckList("lstQuotesFiles")->count(), 0);
  Pick(List("cboFrequency"), 0);
  Button("cmdOK")->click();
  EXPECT_EQ(StoredList("SelectedBackgrounds"), Names{"Gone"}) << "an unseen selection is kept";
  EXPECT_EQ(StoredList("SelectedQuotesFiles"), Names{"Also gone"});
  EXPECT_EQ(StoredSetting("Frequency"), "0");
}

TEST_F(Window, SiblingInstalledClearsAndLocksUseQuotesUntilTheNextSave) {
  NotFirstRun();
  AddQuotesFile("Craft");
  kvtest::Store("software\\Classes\\Lexora.Data", "", "");
  kvtest::Store("software\\Classes\\Lexora.Settings", "LexoraPath", data_.string());
  StoreSetting("UseQuotes", "1");
  OpenCleanly();

  QWidget* quotesPage = Find<QWidget>("fraOptionPanel1");
  EXPECT_FALSE(Box("chkUseQuotes")->isChecked());
  EXPECT_FALSE(Box("chkUseQuotes")->isEnabledTo(quotesPage));
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

TEST_F(Window, CancelAndTheCloseButtonSaveNothing) {
  NotFirstRun();
  AddBackground("A");
  OpenCleanly();
  ShowPage(4);
  Pick(List("cboHAlign"), 1);
  Pick(List("cboMargin0"), 0);
  ShowPage(3);
  SetChecked(CheckList("lstBackGrounds"), 0, true);
  ASSERT_TRUE(ApplyEnabled());
  Button("cmdCancel")->click();
  EXPECT_FALSE(window_->isVisible()) << "Cancel closes the window";
  EXPECT_EQ(StoredSetting("HAlign"), "3");
  EXPECT_EQ(StoredSetting("TopMargin"), "10");
  EXPECT_EQ(StoredList("SelectedBackgrounds"), Names{""});

  // The title bar's close button, and Esc, are Cancel.
  for (bool escape : {false, true}) {
    OpenCleanly();
    Pick(List("cboFrequency"), 0);
    escape ? QTest::keyClick(Button("cmdCancel"), Qt::Key_Escape) : (void)window_->close();
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(StoredSetting("Frequency"), "4");
  }
}

TEST_F(Window, ApplyAndOkSaveExactlyTheEditedState) {
  NotFirstRun();
  AddBackground("A");
  AddBackground("B");
  OpenCleanly();

  // OK with nothing to apply closes without saving: a value changed behind
  // the window's back stays.
  StoreSetting("Frequency", "1");
  Button("cmdOK")->click();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(StoredSetting("Frequency"), "1");

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
  EXPECT_EQ(StoredSetting("HAlign"), "2");
  EXPECT_EQ(StoredSetting("BottomMargin"), "35");
  EXPECT_EQ(StoredSetting("BackgroundMode"), "0");
  EXPECT_EQ(StoredList("SelectedBackgrounds"), Names{"B"});
  // Everything else is the state loaded: written back unchanged.
  EXPECT_EQ(StoredSetting("Frequency"), "1");
  EXPECT_EQ(StoredSetting("FontColor"), "16777215");
  EXPECT_EQ(StoredSetting("TopMargin"), "10");
  EXPECT_EQ(StoredList("SelectedFonts"), Names{"Arial"});

  // OK saves the edits since, then closes.
  ShowPage(2);
  Pick(List("cboFontSize"), 4);  // "12"
  Button("cmdOK")->click();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(StoredSetting("FontSize"), "12");
}

TEST_F(Window, EnterOnAChangedListSavesItsChoice) {
  // Enter presses OK without moving the focus; the choice shown in the list
  // that has the focus is saved as if it had been left.
  NotFirstRun();
  OpenCleanly();
  QComboBox* frequency = List("cboFrequency");
  frequency->setFocus(Qt::TabFocusReason);
  frequency->setCurrentIndex(6);
  ASSERT_FALSE(ApplyEnabled()) << "not committed before it loses the focus";
  QTest::keyClick(frequency, Qt::Key_Return);
  EXPECT_FALSE(window_->isVisible()) << "Enter is OK";
  EXPECT_EQ(StoredSetting("Frequency"), "6");
}

}  // namespace
