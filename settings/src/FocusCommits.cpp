#include "FocusCommits.h"

#include <QApplication>
#include <QFocusEvent>
#include <QWidget>

namespace kv::settings {

void FocusCommits::Watch(QWidget* control, std::function<void()> commit) {
  commits_[control] = std::move(commit);
  control->installEventFilter(this);
}

void FocusCommits::CommitFocused() {
  if (auto found = commits_.find(QApplication::focusWidget()); found != commits_.end()) found->second();
}

bool FocusCommits::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::FocusOut) return false;
  auto reason = static_cast<QFocusEvent*>(event)->reason();
  // Opening a list's drop-down or switching to another window is no move to
  // another control of the window.
  if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason || reason == Qt::MenuBarFocusReason) {
    return false;
  }
  if (auto found = commits_.find(watched); found != commits_.end()) found->second();
  return false;
}

}  // namespace kv::settings
