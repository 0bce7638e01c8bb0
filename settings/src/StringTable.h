#pragma once

// The settings window's table of string resources: texts by numeric id, read
// from a file of the program (the resource ":/KvSettings/strings.txt"), and
// the split of a resource text into its text proper and its "[a|b]" suffix.

#include <QString>
#include <cstdint>
#include <map>
#include <string_view>

#include "kvplatform/base/Result.h"

namespace kv::settings {

struct ResourceText {
  QString text;  // the text before the suffix
  std::int32_t a = 0;
  std::int32_t b = 0;
};

// Splits "text[a|b]" at the first "[" and the first "|"; the last character
// must be the closing "]". A text without that suffix, or whose a or b is not
// a signed decimal integer, fails with a message that quotes it.
[[nodiscard]] Result<ResourceText> SplitResourceText(const QString& s);

class StringTable {
 public:
  // The table built into the program.
  [[nodiscard]] static Result<StringTable> FromProgramResources();

  // A table from text in the resource file's form: one "<id>=<text>" per
  // line, the text exactly as it stands to the end of the line; empty lines
  // and lines starting with "#" are skipped. `origin` names the source in
  // messages. A malformed line or an id given twice fails.
  [[nodiscard]] static Result<StringTable> Parse(std::string_view content, const QString& origin);

  // The text with `id`; a missing id fails, as a missing resource does.
  [[nodiscard]] Result<QString> Load(int id) const;

 private:
  QString origin_;
  std::map<int, QString> texts_;
};

}  // namespace kv::settings
