#pragma once

// A small box filled with a colour, clicked to change it. A stored text that
// names no colour leaves it neutral: hatched grey, saying so in its tooltip.

#include <QFrame>
#include <cstdint>
#include <optional>
#include <string>

namespace kv::settings {

class ColorSwatch : public QFrame {
  Q_OBJECT

 public:
  explicit ColorSwatch(QWidget* parent = nullptr);

  std::optional<std::uint32_t> Color() const { return color_; }
  void SetColor(std::optional<std::uint32_t> color);
  // Makes the swatch neutral and tells in its tooltip which text was stored.
  void SetUnreadable(const QString& storedText);
  // Shows the colour a stored text names, or the text as no colour.
  void ShowSetting(const std::string& setting);

 signals:
  void Clicked();
  // The keyboard focus arrived; `reason` says how.
  void FocusReceived(Qt::FocusReason reason);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  std::optional<std::uint32_t> color_;
  bool pressed_ = false;
};

}  // namespace kv::settings
