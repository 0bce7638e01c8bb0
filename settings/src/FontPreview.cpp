#include "FontPreview.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

namespace kv::settings {
namespace {

// The room a text box leaves between its contents' edge and its text.
constexpr qreal kHorizontalMargin = 2;
constexpr qreal kVerticalMargin = 1;
constexpr qreal kSmallestPointSize = 1;

// The space `text` takes in `font`: its advance and its ink, whichever is larger.
QSizeF Extent(const QFont& font, const QString& text) {
  QFontMetricsF metrics(font);
  QRectF ink = metrics.boundingRect(text);
  return {std::max(metrics.horizontalAdvance(text), ink.width()), std::max(metrics.height(), ink.height())};
}

bool Fits(const QSizeF& extent, const QSizeF& room) {
  return extent.width() <= room.width() && extent.height() <= room.height();
}

}  // namespace

FontPreview::FontPreview(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
  setReadOnly(true);
  setAlignment(Qt::AlignCenter);
  // A sample is only looked at: a selection made by the mouse is dropped.
  connect(this, &QLineEdit::selectionChanged, this, [this] {
    if (hasSelectedText()) deselect();
  });
}

QRectF FontPreview::TextArea() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  QRectF contents = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
  return contents.adjusted(kHorizontalMargin, kVerticalMargin, -kHorizontalMargin, -kVerticalMargin);
}

QFont FontPreview::DrawingFont() const {
  if (drawingFont_) return *drawingFont_;
  QFont drawing = font();
  QSizeF room = TextArea().size();
  QSizeF extent = Extent(drawing, text());
  if (!Fits(extent, room) && extent.width() > 0 && extent.height() > 0) {
    // Sizes do not scale quite linearly (hinting), so the first guess is
    // refined downwards until the sample fits.
    qreal size = drawing.pointSizeF() > 0 ? drawing.pointSizeF() : QFontInfo(drawing).pointSizeF();
    size *= std::min(room.width() / extent.width(), room.height() / extent.height());
    while (true) {
      drawing.setPointSizeF(std::max(size, kSmallestPointSize));
      if (size <= kSmallestPointSize || Fits(Extent(drawing, text()), room)) break;
      size -= 0.5;
    }
  }
  drawingFont_ = drawing;
  return drawing;
}

void FontPreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  painter.setFont(DrawingFont());
  painter.setPen(palette().color(QPalette::Text));
  painter.drawText(TextArea(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

void FontPreview::focusInEvent(QFocusEvent* event) {
  // Coming by the Tab key, a text box selects its text and moves to its end.
  QLineEdit::focusInEvent(event);
  deselect();
  setCursorPosition(0);
}

void FontPreview::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) drawingFont_.reset();
  QLineEdit::changeEvent(event);
}

void FontPreview::resizeEvent(QResizeEvent* event) {
  drawingFont_.reset();
  QLineEdit::resizeEvent(event);
}

}  // namespace kv::settings
