#pragma once

// The font sample: a read-only text box that shows its text centred, in its
// font. A sample too wide or too tall for the box is drawn smaller in the
// same face, so it is always seen whole; it is never shown selected or
// scrolled, however the focus came and went.

#include <QFont>
#include <QLineEdit>
#include <optional>

namespace kv::settings {

class FontPreview : public QLineEdit {
  Q_OBJECT

 public:
  explicit FontPreview(const QString& text, QWidget* parent = nullptr);

  // The font the sample is drawn in: font() itself when the sample fits,
  // else the same font at the largest size that fits.
  QFont DrawingFont() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QRectF TextArea() const;

  mutable std::optional<QFont> drawingFont_;
};

}  // namespace kv::settings
