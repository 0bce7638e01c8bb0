#include "AboutBox.h"

#include <QMessageBox>
#include <QStringList>

namespace kv::settings {

QString AboutTitle() { return QStringLiteral("Lexora Studio, makers of the Lexora Quote Screensaver."); }

QString AboutText() {
  return QStringList{
      QStringLiteral("Lexora Studio: Kvillo Quote Wallpaper"),
      QStringLiteral("Version 1.0, 2024-2025"),
      QString(),
      QStringLiteral("Developed by Ilse Marovic (ilse.marovic@lexora.example)."),
      QStringLiteral("Visit our web site: https://lexora.example/"),
  }
      .join(u'\n');
}

std::unique_ptr<QMessageBox> MakeAboutBox(QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Information, AboutTitle(), AboutText(), QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("AboutBox"));
  box->setTextFormat(Qt::PlainText);
  return box;
}

void ShowAboutBox(QWidget* parent) { MakeAboutBox(parent)->exec(); }

QChar AccessCharacter(const QString& caption) {
  qsizetype ampersand = caption.indexOf(u'&');
  if (ampersand >= 0) return ampersand + 1 < caption.size() ? caption[ampersand + 1] : QChar();
  return caption.isEmpty() ? QChar() : caption[0];
}

ShortcutAction ShortcutFor(int key, Qt::KeyboardModifiers modifiers, QChar backgroundKey, QChar fontColorKey) {
  // A key of the number pad carries its own flag, which is no shift state.
  if ((modifiers & ~Qt::KeypadModifier) != Qt::AltModifier) return ShortcutAction::None;
  if (key == backgroundKey.unicode()) return ShortcutAction::BackgroundColor;
  if (key == Qt::Key_C) return ShortcutAction::AboutBox;
  if (key == fontColorKey.toUpper().unicode()) return ShortcutAction::FontColor;
  if (key == Qt::Key_V) return ShortcutAction::PageSelector;
  return ShortcutAction::None;
}

}  // namespace kv::settings
