#pragma once

// An etched horizontal separator line with an optional caption sitting on
// its left end, 6 pixels in (a group heading such as " Alignment "). It draws
// nothing else; BackColor, ForeColor, Enabled, BackStyle and BorderStyle are
// only kept, saved and answered, and change neither the drawing nor the
// caption.

#include <QFont>
#include <QString>
#include <QVariantMap>
#include <QWidget>
#include <cstdint>

class QLabel;

namespace kv::settings {

class axLine : public QWidget {
  Q_OBJECT

 public:
  explicit axLine(QWidget* parent = nullptr);

  // The caption without its surrounding blanks.
  QString Caption() const;
  // Shows `s` with one blank on each side.
  void Caption(const QString& s);
  QFont Font() const;
  void Font(const QFont& NewFont);

  std::uint32_t BackColor() const { return backColor_; }
  void BackColor(std::uint32_t NewColor);
  std::uint32_t ForeColor() const { return foreColor_; }
  void ForeColor(std::uint32_t NewColor);
  bool Enabled() const { return enabled_; }
  void Enabled(bool NewValue);
  std::int16_t BackStyle() const { return backStyle_; }
  void BackStyle(std::int16_t NewStyle);
  std::int16_t BorderStyle() const { return borderStyle_; }
  void BorderStyle(std::int16_t NewStyle);

  void Refresh() {}

  // Persistence by property name. A new control starts from InitProperties;
  // one saved before is restored by ReadProperties, which takes the caption
  // exactly as saved (no blanks added). WriteProperties leaves out every
  // value equal to its default; `hostFont` is the font of the hosting window,
  // the default of "Font".
  void InitProperties();
  void ReadProperties(const QVariantMap& bag, const QFont& hostFont);
  void WriteProperties(QVariantMap& bag, const QFont& hostFont) const;

  // The inner label carrying the caption and the font.
  QLabel* Label() const { return lblLabel_; }
  // Where the upper of the two lines lies: half the label's height, or 0
  // without a caption.
  int LineY() const;

 signals:
  // A property was set; `name` is its persisted name.
  void PropertyChanged(const QString& name);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void SetLabelText(const QString& text);

  QLabel* lblLabel_ = nullptr;
  std::uint32_t backColor_ = 0;
  std::uint32_t foreColor_ = 0;
  bool enabled_ = false;
  std::int16_t backStyle_ = 0;
  std::int16_t borderStyle_ = 0;
};

}  // namespace kv::settings
