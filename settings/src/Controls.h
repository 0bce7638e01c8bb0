#pragma once

// How the settings window makes and places its controls: every place and
// size in twips, every control named by its Qt object name, as the window
// and its pages share them.

#include <QString>
#include <Qt>

class QComboBox;
class QLabel;
class QListWidget;
class QWidget;

namespace kv::settings {

// Where an option page sits inside fraVarious: shown, or beyond the window's
// right edge; and its size.
inline constexpr int kPageShownLeft = 120;
inline constexpr int kPageHiddenLeft = 5280;
inline constexpr int kPageTop = 360;
inline constexpr int kPageWidth = 4695;
inline constexpr int kPageHeight = 2055;

void Place(QWidget* widget, int left, int top, int width, int height);

// A caption named lblLabel<index>.
QLabel* CreateLabel(int index, const QString& caption, QWidget* parent, int left, int top, int width);
// A pick-only drop-down list of the window's height for lists.
QComboBox* CreateList(const char* name, QWidget* parent, int left, int top, int width);
// A list of entries with check boxes, one entry highlighted at a time.
QListWidget* CreateCheckList(const char* name, QWidget* parent, int left, int top, int width, int height);

// Hands the keyboard focus from `from`, a control that never keeps it, on to
// `to`; coming backwards with Shift+Tab it goes on backwards instead, so the
// keyboard can always leave such a control.
void PassFocusOn(QWidget* from, QWidget* to, Qt::FocusReason reason);

}  // namespace kv::settings
