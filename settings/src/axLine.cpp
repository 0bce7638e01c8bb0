#include "axLine.h"

#include <QLabel>
#include <QPainter>

#include "Twips.h"

namespace kv::settings {
namespace {

const QString kDefaultCaption = QStringLiteral(" Caption ");
constexpr int kLabelLeft = 6;

QString TrimBlanks(const QString& text) {
  qsizetype begin = 0, end = text.size();
  while (begin < end && text[begin] == u' ') ++begin;
  while (end > begin && text[end - 1] == u' ') --end;
  return text.mid(begin, end - begin);
}

}  // namespace

axLine::axLine(QWidget* parent) : QWidget(parent) {
  lblLabel_ = new QLabel(this);
  lblLabel_->setObjectName(QStringLiteral("lblLabel"));
  lblLabel_->setTextFormat(Qt::PlainText);
  // The label paints its own background, so the caption interrupts the line.
  lblLabel_->setAutoFillBackground(true);
  lblLabel_->move(kLabelLeft, 0);
  SetLabelText(kDefaultCaption);
}

void axLine::SetLabelText(const QString& text) {
  lblLabel_->setText(text);
  lblLabel_->adjustSize();
  update();
}

QString axLine::Caption() const { return TrimBlanks(lblLabel_->text()); }

void axLine::Caption(const QString& s) {
  SetLabelText(QStringLiteral(" ") + s + QStringLiteral(" "));
  emit PropertyChanged(QStringLiteral("Caption"));
}

QFont axLine::Font() const { return lblLabel_->font(); }

void axLine::Font(const QFont& NewFont) {
  lblLabel_->setFont(NewFont);
  lblLabel_->adjustSize();
  update();
  emit PropertyChanged(QStringLiteral("Font"));
}

void axLine::BackColor(std::uint32_t NewColor) {
  backColor_ = NewColor;
  emit PropertyChanged(QStringLiteral("BackColor"));
}

void axLine::ForeColor(std::uint32_t NewColor) {
  foreColor_ = NewColor;
  emit PropertyChanged(QStringLiteral("ForeColor"));
}

void axLine::Enabled(bool NewValue) {
  enabled_ = NewValue;
  emit PropertyChanged(QStringLiteral("Enabled"));
}

void axLine::BackStyle(std::int16_t NewStyle) {
  backStyle_ = NewStyle;
  emit PropertyChanged(QStringLiteral("BackStyle"));
}

void axLine::BorderStyle(std::int16_t NewStyle) {
  borderStyle_ = NewStyle;
  emit PropertyChanged(QStringLiteral("BorderStyle"));
}

void axLine::InitProperties() {
  backColor_ = 0;
  foreColor_ = 0;
  enabled_ = false;
  backStyle_ = 0;
  borderStyle_ = 0;
}

void axLine::ReadProperties(const QVariantMap& bag, const QFont& hostFont) {
  backColor_ = bag.value(QStringLiteral("BackColor"), 0u).toUInt();
  foreColor_ = bag.value(QStringLiteral("ForeColor"), 0u).toUInt();
  enabled_ = bag.value(QStringLiteral("Enabled"), false).toBool();
  lblLabel_->setFont(bag.value(QStringLiteral("Font"), hostFont).value<QFont>());
  backStyle_ = static_cast<std::int16_t>(bag.value(QStringLiteral("BackStyle"), 0).toInt());
  borderStyle_ = static_cast<std::int16_t>(bag.value(QStringLiteral("BorderStyle"), 0).toInt());
  SetLabelText(bag.value(QStringLiteral("Caption"), kDefaultCaption).toString());
}

void axLine::WriteProperties(QVariantMap& bag, const QFont& hostFont) const {
  auto write = [&](const char* name, const QVariant& value, const QVariant& defaultValue) {
    if (value != defaultValue) bag.insert(QString::fromLatin1(name), value);
  };
  write("BackColor", backColor_, 0u);
  write("ForeColor", foreColor_, 0u);
  write("Enabled", enabled_, false);
  write("Font", lblLabel_->font(), hostFont);
  write("BackStyle", static_cast<int>(backStyle_), 0);
  write("BorderStyle", static_cast<int>(borderStyle_), 0);
  write("Caption", lblLabel_->text(), kDefaultCaption);
}

int axLine::LineY() const {
  if (lblLabel_->text().isEmpty()) return 0;
  return RoundHalfEven(lblLabel_->height(), 2);
}

void axLine::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  int y = LineY();
  // The etched look: the button-shadow colour with a white line under it.
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawLine(0, y, width(), y);
  painter.setPen(QColor(0xFF, 0xFF, 0xFF));
  painter.drawLine(0, y + 1, width(), y + 1);
}

}  // namespace kv::settings
