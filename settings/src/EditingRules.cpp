#include "EditingRules.h"

#include "kvshared/Convert.h"

namespace kv::settings {

QStringList FontSizeItems() {
  QStringList items;
  for (int size = kSmallestFontSize; size <= kLargestFontSize; ++size) items << QString::number(size);
  return items;
}

QStringList MarginItems() {
  QStringList items{kRandomMargin};
  for (int margin = 0; margin <= kLargestMargin; ++margin) items << QString::number(margin) + u'%';
  return items;
}

int ItemForNumber(std::string_view setting, int count) {
  auto value = TextToInt32(setting);
  if (!value || *value < 0 || *value >= count) return -1;
  return *value;
}

int FontSizeItemForSetting(std::string_view setting) {
  auto value = TextToInt32(setting);
  if (!value || *value < kSmallestFontSize || *value > kLargestFontSize) return -1;
  return *value - kSmallestFontSize;
}

int MarginItemForSetting(std::string_view setting) {
  auto value = TextToInt32(setting);
  if (!value) return -1;
  if (*value < 0 || *value > kLargestMargin) return 0;
  return *value + 1;
}

std::string MarginSetting(const QString& itemText) {
  if (itemText == kRandomMargin) return "-1";
  return itemText.left(itemText.size() - 1).toStdString();
}

}  // namespace kv::settings
