#include "Controls.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>

#include "PickOnlyList.h"
#include "Twips.h"

namespace kv::settings {
namespace {

constexpr int kListHeight = 315;
constexpr int kLabelHeight = 240;

// A widget the keyboard focus can move to.
bool TakesFocus(const QWidget* widget) {
  return widget->isEnabled() && widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus) &&
         widget->focusProxy() == nullptr;
}

}  // namespace

void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(TwipsRect(left, top, width, height));
}

QLabel* CreateLabel(int index, const QString& caption, QWidget* parent, int left, int top, int width) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QStringLiteral("lblLabel%1").arg(index));
  Place(label, left, top, width, kLabelHeight);
  return label;
}

QComboBox* CreateList(const char* name, QWidget* parent, int left, int top, int width) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  MakePickOnly(list);
  Place(list, left, top, width, kListHeight);
  return list;
}

QListWidget* CreateCheckList(const char* name, QWidget* parent, int left, int top, int width, int height) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setUniformItemSizes(true);
  Place(list, left, top, width, height);
  return list;
}

void PassFocusOn(QWidget* from, QWidget* to, Qt::FocusReason reason) {
  if (reason == Qt::BacktabFocusReason) {
    for (QWidget* before = from->previousInFocusChain(); before && before != from;
         before = before->previousInFocusChain()) {
      if (before->window() == from->window() && TakesFocus(before)) {
        before->setFocus(Qt::BacktabFocusReason);
        return;
      }
    }
  }
  to->setFocus(Qt::OtherFocusReason);
}

}  // namespace kv::settings
