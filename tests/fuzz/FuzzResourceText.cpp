// Resource texts -> text proper and the numbers of the "[a|b]" suffix: any text splits (into the text before the first
// "[") or fails cleanly, and every text built from a text proper and two numbers splits back into them.

#include <QString>
#include <cstdint>

#include "FuzzSupport.h"
#include "StringTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  auto split = kv::settings::SplitResourceText(input);
  if (split) Check(input.startsWith(split->text) && !split->text.contains(u'[') && input.endsWith(u']'));
  QString proper = input;
  proper.remove(u'[').remove(u'|');
  std::int32_t a = size > 0 ? static_cast<std::int8_t>(data[0]) * 1000003 : 0;
  std::int32_t b = size > 1 ? -static_cast<std::int32_t>(data[1]) : 0;
  QString built = proper + u'[' + QString::number(a) + u'|' + QString::number(b) + u']';
  auto again = kv::settings::SplitResourceText(built);
  Check(again && again->text == proper && again->a == a && again->b == b);
  return 0;
}
