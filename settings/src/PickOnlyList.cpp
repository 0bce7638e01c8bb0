#include "PickOnlyList.h"

#include <QEvent>
#include <QProxyStyle>

namespace kv::settings {
namespace {

// The application's style, except that a drop-down opens as a scrolling
// list of limited height: some styles open it over the whole list instead,
// as tall as the screen for a long one.
class LimitedDropDownStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_ComboBox_Popup) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// Swallows the wheel over a list without the focus: the list would show a
// new item that nothing commits.
class WheelOnlyWithFocus : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Wheel) return false;
    auto* list = qobject_cast<QWidget*>(watched);
    if (!list || list->hasFocus()) return false;
    event->ignore();
    return true;
  }
};

}  // namespace

void MakePickOnly(QComboBox* list) {
  list->setEditable(false);
  // The wheel never gives the focus: a list the pointer only passes over
  // keeps its item.
  list->setFocusPolicy(Qt::StrongFocus);
  list->setMaxVisibleItems(kVisibleRows);
  auto* style = new LimitedDropDownStyle;
  style->setParent(list);
  list->setStyle(style);
  list->installEventFilter(new WheelOnlyWithFocus(list));
}

}  // namespace kv::settings
