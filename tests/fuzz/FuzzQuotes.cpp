// Quotes file bytes -> line count and pick: the count matches a plain count of the line ends, a binary file is refused,
// every line read is one bounded line, and every pick a non-empty UTF-8 quote without line breaks.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "QuoteSelection.h"
#include "kvplatform/base/Text.h"

namespace {

// CR, LF and CR LF each end a line; text after the last end is a line too.
long long ReferenceLines(const std::string& bytes) {
  long long lines = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    ++lines;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
  }
  return lines + (!bytes.empty() && bytes.back() != '\r' && bytes.back() != '\n');
}

const std::string& File() {
  static const std::string name = (FuzzFolder("quotes") / "quotes.txt").string();
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  WriteBytes(File(), bytes);
  using namespace kv::service;
  auto file = QuotesFile::Open(File());
  Check(file.has_value());
  auto scan = file->Scan();
  // A file with a NUL byte is no text and is refused; any other is read.
  Check(scan.has_value() == (bytes.find('\0') == std::string::npos));
  if (scan) {
    Check(scan->lines == ReferenceLines(bytes));
    Check(scan->utf8 == kv::platform::IsValidUtf8(bytes));
    for (long long number : {1LL, scan->lines / 2 + 1, scan->lines, scan->lines + 1}) {
      auto line = file->ReadLine(number);
      Check(line && line->text.find_first_of("\r\n") == std::string::npos && line->text.size() <= kMaxQuoteBytes);
      Check(number <= scan->lines || line->text.empty());
    }
  }
  std::string quote = PickRandomQuote(File());
  Check(!quote.empty() && kv::platform::IsValidUtf8(quote) && quote.find_first_of("\r\n") == std::string::npos);
  return 0;
}
