#include "ColorSwatch.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>

#include "Colors.h"

namespace kv::settings {

ColorSwatch::ColorSwatch(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
}

void ColorSwatch::SetColor(std::optional<std::uint32_t> color) {
  color_ = color;
  setToolTip(QString());
  update();
}

void ColorSwatch::SetUnreadable(const QString& storedText) {
  color_.reset();
  setToolTip(tr("The stored colour \"%1\" is not a colour; click to choose one.").arg(storedText));
  update();
}

void ColorSwatch::ShowSetting(const std::string& setting) {
  if (auto color = ColorFromSetting(setting)) {
    SetColor(color);
  } else {
    SetUnreadable(QString::fromStdString(setting));
  }
}

void ColorSwatch::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    QRect inside = contentsRect();
    if (color_) {
      painter.fillRect(inside, ToQColor(*color_));
    } else {
      painter.fillRect(inside, palette().color(QPalette::Window));
      painter.fillRect(inside, QBrush(palette().color(QPalette::Mid), Qt::BDiagPattern));
    }
  }
  QFrame::paintEvent(event);
}

void ColorSwatch::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) pressed_ = true;
  QFrame::mousePressEvent(event);
}

void ColorSwatch::mouseReleaseEvent(QMouseEvent* event) {
  bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QFrame::mouseReleaseEvent(event);
  if (click) emit Clicked();
}

void ColorSwatch::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  emit FocusReceived(event->reason());
}

}  // namespace kv::settings
