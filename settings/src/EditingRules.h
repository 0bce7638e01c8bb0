#pragma once

// How the window's lists show the stored settings and what they write back.
// The stored texts are converted as every reader of the settings converts
// them (kv::TextToInt32), so a list shows what the service makes of a value;
// a value that no item stands for shows no item at all.

#include <QString>
#include <QStringList>
#include <string>
#include <string_view>

namespace kv::settings {

inline constexpr int kSmallestFontSize = 8;
inline constexpr int kLargestFontSize = 70;
inline constexpr int kLargestMargin = 100;
inline const QString kRandomMargin = QStringLiteral("Random");

// "8", "9", ... "70".
QStringList FontSizeItems();
// "Random", then "0%", "1%", ... "100%".
QStringList MarginItems();

// The position of the item numbered by `setting` in a list of `count` items
// whose position is the stored number, or -1.
int ItemForNumber(std::string_view setting, int count);
// The position in FontSizeItems() of the stored size, or -1.
int FontSizeItemForSetting(std::string_view setting);
// The position in MarginItems(): "Random" for any number outside 0 .. 100
// (which the service treats as random), "n%" for a whole n inside, -1 for a
// text that is no number.
int MarginItemForSetting(std::string_view setting);

// What a margin list stores for its item: "-1" for "Random" (compared
// exactly), else the item without its percent sign.
std::string MarginSetting(const QString& itemText);

}  // namespace kv::settings
