#include "Colors.h"

#include <QColorDialog>

#include "kvshared/Convert.h"

namespace kv::settings {

std::optional<std::uint32_t> ColorFromSetting(std::string_view text) {
  auto value = TextToInt32(text);
  if (!value || *value < 0 || *value > 0xFFFFFF) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::string ColorToSetting(std::uint32_t color) { return std::to_string(color); }

QColor ToQColor(std::uint32_t color) {
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

std::uint32_t FromQColor(const QColor& color) {
  QColor rgb = color.toRgb();
  return static_cast<std::uint32_t>(rgb.red()) | (static_cast<std::uint32_t>(rgb.green()) << 8) |
         (static_cast<std::uint32_t>(rgb.blue()) << 16);
}

ColorChooser StandardColorChooser() {
  return [](const QColor& initial, QWidget* parent) { return QColorDialog::getColor(initial, parent); };
}

}  // namespace kv::settings
