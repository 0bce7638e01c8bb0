#pragma once

// The about box, which no menu shows (Alt+C does), and the window's
// Alt-shortcuts that give the keyboard a way to the two colour swatches and
// the page selector.

#include <QString>
#include <Qt>
#include <memory>

class QMessageBox;
class QWidget;

namespace kv::settings {

QString AboutTitle();
// Five lines: the maker and the product, the version and years, an empty
// line, the developer's credit and the web site.
QString AboutText();

// The modal about box: information icon, one OK button.
std::unique_ptr<QMessageBox> MakeAboutBox(QWidget* parent);
void ShowAboutBox(QWidget* parent);

// The access character of a caption: the character after its first "&", or
// its first character without one; a null character when there is none.
QChar AccessCharacter(const QString& caption);

enum class ShortcutAction { None, BackgroundColor, AboutBox, FontColor, PageSelector };

// What the release of `key` does with `modifiers` held. Only Alt alone
// counts. `backgroundKey` is the access character of the background colour's
// caption, taken as it is; `fontColorKey` that of the font colour's caption,
// upper-cased. The about box is tested before the font colour, so while both
// use C the font colour's shortcut never fires.
ShortcutAction ShortcutFor(int key, Qt::KeyboardModifiers modifiers, QChar backgroundKey, QChar fontColorKey);

}  // namespace kv::settings
