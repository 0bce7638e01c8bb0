#pragma once

// The settings store colours as the decimal text of a colour reference
// 0x00BBGGRR (red in the low byte): white is "16777215", black "0".

#include <QColor>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

namespace kv::settings {

// The colour reference a stored text stands for, converted as every reader
// of the settings converts numbers; nullopt for a text that is no number or a
// number outside 0 .. 0xFFFFFF, which names no colour.
std::optional<std::uint32_t> ColorFromSetting(std::string_view text);

std::string ColorToSetting(std::uint32_t color);

QColor ToQColor(std::uint32_t color);
std::uint32_t FromQColor(const QColor& color);

// Shows a colour dialog opened on `initial`; answers the chosen colour, or an
// invalid QColor when the user cancelled.
using ColorChooser = std::function<QColor(const QColor& initial, QWidget* parent)>;

// The standard dialog: QColorDialog::getColor.
ColorChooser StandardColorChooser();

}  // namespace kv::settings
