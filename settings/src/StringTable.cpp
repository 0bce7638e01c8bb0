#include "StringTable.h"

#include <QFile>
#include <charconv>

// Resources compiled into a static library register only when asked to; the
// call has to be made outside any namespace.
static void RegisterSettingsResources() { Q_INIT_RESOURCE(KvSettings); }

namespace kv::settings {
namespace {

constexpr const char* kResourcePath = ":/KvSettings/strings.txt";

// A signed decimal integer and nothing else: no blanks, no fraction.
bool ParseInt32(const QString& digits, std::int32_t& value) {
  QByteArray ascii = digits.toLatin1();
  const char* begin = ascii.constData();
  const char* end = begin + ascii.size();
  if (begin != end && *begin == '+') ++begin;
  if (begin == end) return false;
  auto [stop, error] = std::from_chars(begin, end, value);
  return error == std::errc() && stop == end;
}

std::string Quoted(const QString& text) { return "\"" + text.toStdString() + "\""; }

}  // namespace

Result<ResourceText> SplitResourceText(const QString& s) {
  qsizetype p = s.indexOf(u'[');
  qsizetype q = s.indexOf(u'|');
  if (p < 0 || q < p || !s.endsWith(u']')) {
    return Fail(ErrorCode::Corrupt, "the resource text " + Quoted(s) + " does not end in a \"[a|b]\" suffix");
  }
  ResourceText split;
  if (!ParseInt32(s.mid(p + 1, q - p - 1), split.a) || !ParseInt32(s.mid(q + 1, s.size() - q - 2), split.b)) {
    return Fail(ErrorCode::Corrupt, "the suffix of the resource text " + Quoted(s) + " does not hold two whole numbers");
  }
  split.text = s.left(p);
  return split;
}

Result<StringTable> StringTable::FromProgramResources() {
  static const bool registered = (RegisterSettingsResources(), true);
  (void)registered;
  QFile file(QString::fromLatin1(kResourcePath));
  if (!file.open(QIODevice::ReadOnly)) {
    return Fail(ErrorCode::NotFound, "the program's string table " + std::string(kResourcePath) + " is missing");
  }
  QByteArray content = file.readAll();
  return Parse(std::string_view(content.constData(), static_cast<size_t>(content.size())),
               QString::fromLatin1(kResourcePath));
}

Result<StringTable> StringTable::Parse(std::string_view content, const QString& origin) {
  StringTable table;
  table.origin_ = origin;
  int lineNumber = 0;
  while (!content.empty()) {
    size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;

    auto where = [&] { return origin.toStdString() + " line " + std::to_string(lineNumber); };
    size_t equals = line.find('=');
    int id = 0;
    auto [stop, error] = std::from_chars(line.data(), line.data() + (equals == std::string_view::npos ? 0 : equals), id);
    if (equals == std::string_view::npos || equals == 0 || error != std::errc() || stop != line.data() + equals) {
      return Fail(ErrorCode::Corrupt, where() + " is not of the form <id>=<text>");
    }
    QString text = QString::fromUtf8(line.data() + equals + 1, static_cast<qsizetype>(line.size() - equals - 1));
    if (!table.texts_.emplace(id, std::move(text)).second) {
      return Fail(ErrorCode::Corrupt, where() + " gives the id " + std::to_string(id) + " a second time");
    }
  }
  return table;
}

Result<QString> StringTable::Load(int id) const {
  auto found = texts_.find(id);
  if (found == texts_.end()) {
    return Fail(ErrorCode::NotFound, "the string table " + origin_.toStdString() + " has no text with the id " +
                                         std::to_string(id));
  }
  return found->second;
}

}  // namespace kv::settings
