// KvSettings: opens the settings window and ends when it is closed.

#include <QApplication>
#include <QLockFile>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <optional>
#include <string>

#include "frmSettings.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/base/Paths.h"

namespace {

using kv::platform::LogError;

bool HasDisplay() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return true;
  }
  return false;
}

// Qt ends the process with an abort when it cannot reach the display. While
// the application starts, its messages are held back, and a fatal one ends
// the program with one line that says what is wrong.
std::string& StartupWarning() {
  static std::string warning;
  return warning;
}

void StartupMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtFatalMsg) {
    if (message.contains(QStringLiteral("display"), Qt::CaseInsensitive)) StartupWarning() = message.toStdString();
    return;
  }
  std::string cause = StartupWarning().empty() ? message.section(u'\n', 0, 0).toStdString() : StartupWarning();
  LogError("cannot open the settings window: " + cause + "; check that DISPLAY names a running desktop");
  std::_Exit(1);
}

bool NobodyToClick() {
  QString platform = QGuiApplication::platformName();
  return platform == QStringLiteral("offscreen") || platform == QStringLiteral("minimal");
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay()) {
    LogError(
        "cannot open the settings window: no display; set DISPLAY to the desktop's display (for example "
        "DISPLAY=:0), or QT_QPA_PLATFORM=offscreen to run without one");
    return 1;
  }

  QtMessageHandler previous = qInstallMessageHandler(StartupMessages);
  QApplication app(argc, argv);
  qInstallMessageHandler(previous);
  QApplication::setApplicationName(QStringLiteral("KvSettings"));
  QApplication::setDesktopFileName(QStringLiteral("KvSettings"));

  // Two windows would each save their own copy of every setting, the later
  // one undoing the other's edits; the second start points to the first.
  std::optional<QLockFile> lock;
  if (auto folder = kv::platform::RuntimeDirectory()) {
    lock.emplace(QString::fromStdString((*folder / "KvSettings.lock").string()));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0) && lock->error() == QLockFile::LockFailedError) {
      const QString text = QStringLiteral("The Kvillo settings window is already open; use that window.");
      LogError(text.toStdString());
      if (!NobodyToClick()) QMessageBox::information(nullptr, QStringLiteral("Kvillo Setup is already open"), text);
      return 1;
    }
  } else {
    LogError("cannot tell whether the settings window is already open: " + folder.error().message);
  }

  kv::settings::SettingsDialogs dialogs;
  if (NobodyToClick()) {
    // Without a screen nobody could dismiss a message box.
    dialogs.warn = [](QWidget*, const QString&, const QString& text) { LogError(text.simplified().toStdString()); };
  }
  kv::settings::frmSettings window(std::move(dialogs));
  kv::Status loaded = window.Load();
  window.show();
  if (!loaded) {
    QTimer::singleShot(0, &window, [&window, error = loaded.error()] {
      window.ReportProblem(QStringLiteral("The settings window could not load everything:"), error);
    });
  }
  return app.exec();
}
