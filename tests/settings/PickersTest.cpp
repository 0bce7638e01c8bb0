// The colour swatches, the font preview, and the keyboard shortcuts with the
// hidden about box.

#include <QColorDialog>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include "SettingsFixture.h"
#include "AboutBox.h"
#include "EditingRules.h"

namespace {

using kvtest::Names;
using kvtest::StoredSetting;
using kvtest::StoredSettings;
using kvtest::StoreSetting;

class Pickers : public kvtest::SettingsWindowTest {
 protected:
  void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center()); }
  // Runs `check` on the modal window that `action` opens, once it shows, and
  // closes it; answers whether one showed.
  template <class Check>
  bool WithModal(std::function<void()> action, Check check) {
    bool shown = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        shown = true;
        poll.stop();
        check(modal);
      }
    });
    poll.start();
    QTimer::singleShot(3000, &poll, &QTimer::stop);
    action();
    poll.stop();
    // The window is active again, as after a person closed the box.
    window_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    return shown;
  }

  QWidget* KeyTarget() { return QApplication::focusWidget() ? QApplication::focusWidget() : window_.get(); }
  void ReleaseKey(int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyRelease(KeyTarget(), static_cast<Qt::Key>(key), modifiers);
  }
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
    EXPECT_EQ(box->windowTitle(), kv::settings::AboutTitle());
    EXPECT_TRUE(box->windowTitle().endsWith(u'.'));
    EXPECT_EQ(box->text().count(u'\n'), 4) << "five lines";
    EXPECT_TRUE(box->text().contains(QStringLiteral("\n\n"))) << "an empty line before the credit";
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    EXPECT_EQ(box->buttons().size(), 1);
    box->accept();
  });
  ASSERT_TRUE(shown) << "Alt+C shows the about box";
  EXPECT_EQ(offeredColors_.size(), 2u) << "the about box comes first: Alt+C is not the font colour";
  // Other shift states, C alone, and a key press show nothing.
  auto close = [](QWidget* modal) { modal->close(); };
  for (auto modifiers : {Qt::AltModifier | Qt::ShiftModifier, Qt::AltModifier | Qt::ControlModifier, Qt::KeyboardModifiers()}) {
    EXPECT_FALSE(WithModal([&] { ReleaseKey(Qt::Key_C, modifiers); }, close));
  }
  EXPECT_FALSE(WithModal([&] { QTest::keyPress(KeyTarget(), Qt::Key_C, Qt::AltModifier); }, close));
  // Alt+B opens the background colour's dialog from another page, on its
  // own colour; cancelled, it changes nothing.
  ReleaseKey(Qt::Key_B, Qt::AltModifier);
  ASSERT_EQ(offeredColors_.size(), 3u);
  EXPECT_EQ(offeredColors_, std::vector<QColor>(3, QColor(0, 0, 0))) << "every dialog opened on the swatch's colour";
  EXPECT_FALSE(ApplyEnabled());
  answers_.push_back(QColor(0, 0, 128));
  ReleaseKey(Qt::Key_B, Qt::AltModifier | Qt::ShiftModifier);
  EXPECT_EQ(offeredColors_.size(), 3u) << "Alt+Shift+B is nothing";
  ReleaseKey(Qt::Key_B, Qt::AltModifier);
  EXPECT_EQ(Swatch("txtBackgroundColor")->Color(), 0x800000u);
  EXPECT_TRUE(ApplyEnabled());
  // Alt+V moves to the page selector; other letters do nothing.
  ReleaseKey(Qt::Key_V, Qt::AltModifier);
  EXPECT_TRUE(List("cboVarious")->hasFocus());
  ReleaseKey(Qt::Key_X, Qt::AltModifier);
  EXPECT_TRUE(List("cboVarious")->hasFocus());
  // A new colour, stored as the decimal 0x00BBGGRR; the text's colour may
  // not become the background's either.
  ShowPage(2);
  kv::settings::ColorSwatch* font = Swatch("txtColor");
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
  kv::settings::SettingsDialogs real = Dialogs();
  real.chooseColor = kv::settings::StandardColorChooser();
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

// Where the sample's ink lies in the preview: the gaps between the ink and
// the box's edges, left, right, top, bottom, counted inside the frame.
struct InkGaps {
  int left = -1, right = -1, top = -1, bottom = -1;
};
InkGaps FindInk(QWidget* preview) {
  QImage image = preview->grab().toImage().convertToFormat(QImage::Format_RGB32);
  constexpr int kFrame = 3;
  QRgb base = image.pixel(kFrame, kFrame);
  int left = image.width(), right = -1, top = image.height(), bottom = -1;
  for (int y = kFrame; y < image.height() - kFrame; ++y) {
    for (int x = kFrame; x < image.width() - kFrame; ++x) {
      if (std::abs(qGray(image.pixel(x, y)) - qGray(base)) < 96) continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  if (right < 0) return {};
  return {left - kFrame, image.width() - kFrame - 1 - right, top - kFrame, image.height() - kFrame - 1 - bottom};
}

TEST_F(Pickers, FontPreviewShowsTheHighlightedFontWholeAtTheChosenSizeAndPassesTheFocusOn) {
  StoreSetting("FontSize", "24");
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
  // The whole sample shows, centred, at every size: one too large for the
  // box is drawn smaller, the chosen size staying the preview's.
  for (int size : {70, 40, 8}) {
    List("cboFontSize")->setCurrentIndex(size - kv::settings::kSmallestFontSize);
    EXPECT_EQ(preview->font().pointSize(), size);
    EXPECT_EQ(preview->font().family(), fonts->currentItem()->text());
    InkGaps gaps = FindInk(preview);
    ASSERT_GE(gaps.left, 1) << "size " << size << ": the sample is cut at the left";
    EXPECT_GE(gaps.right, 1) << "size " << size << ": the sample is cut at the right";
    EXPECT_GE(std::min(gaps.top, gaps.bottom), 1) << "size " << size << ": the sample is cut at the top or bottom";
    EXPECT_LE(std::abs(gaps.left - gaps.right), 2) << "size " << size << ": the sample is not centred";
    if (size > 8) {
      EXPECT_LE(gaps.left + gaps.right, preview->width() / 3) << "size " << size << ": shrunk more than needed";
    }
  }
  // The focus passing through the preview leaves it as it was: nothing
  // selected, nothing scrolled.
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

}  // namespace
