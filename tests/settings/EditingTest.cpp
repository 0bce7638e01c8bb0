// The editing rules: what each control commits into the settings, when, and
// that every commit enables Apply.

#include <QAbstractItemView>
#include <QScrollBar>
#include <QWheelEvent>

#include "SettingsFixture.h"

namespace {

using kvtest::Names;
using kvtest::StoredSetting;
using kvtest::StoreSetting;

class Editing : public kvtest::SettingsWindowTest {};

TEST_F(Editing, ListsCommitTheirItemWhenTheyLoseTheFocusEvenUnchanged) {
  StoreSetting("HAlign", "2");
  OpenCleanly();
  const kv::CSettings* settings = window_->Settings();

  // Opening the drop-down and switching windows are no visits; leaving the
  // list is, and commits it even unchanged.
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
                                  {2, "cboFontSize", 0}}) {
    ShowPage(page);
    Pick(List(name), item);
  }
  EXPECT_EQ(settings->VAlign(), "1");
  EXPECT_EQ(settings->BottomMargin(), "-1") << "Random";
  EXPECT_EQ(settings->RightMargin(), "35");
  EXPECT_EQ(settings->LeftMargin(), "0");
  EXPECT_EQ(settings->TopMargin(), "100");
  EXPECT_EQ(settings->BackgroundMode(), "2");
  EXPECT_EQ(settings->FontSize(), "8");

  // The check box, too, commits when it is left.
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
  EXPECT_EQ(effects->item(0)->text(), "Shadow behind the text");
  EXPECT_EQ(effects->item(3)->text(), "Readable on any picture");
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
  ASSERT_EQ(monitors->count(), 2);
  EXPECT_EQ(monitors->itemText(0), "Primary monitor");
  EXPECT_EQ(monitors->itemText(1), "Every monitor");
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

// One notch of the mouse wheel, downwards, over `list`.
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

}  // namespace
