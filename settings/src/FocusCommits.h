#pragma once

// The window's lists and check boxes commit their value into the settings
// when the keyboard focus leaves them, not at every change: what a control
// shows counts once the user has moved on. This object watches those
// controls and runs each one's commit.

#include <QObject>
#include <functional>
#include <map>

class QWidget;

namespace kv::settings {

class FocusCommits : public QObject {
 public:
  explicit FocusCommits(QObject* parent) : QObject(parent) {}

  // Runs `commit` whenever the focus leaves `control` for another control.
  void Watch(QWidget* control, std::function<void()> commit);

  // Commits the control that has the focus now, as leaving it would: Enter
  // presses OK without moving the focus.
  void CommitFocused();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::map<QObject*, std::function<void()>> commits_;
};

}  // namespace kv::settings
