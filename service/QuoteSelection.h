#pragma once

// The selections as joined lists, the random picks from them, and the pick
// of one line of a quotes file.

#include <string>
#include <string_view>
#include <vector>

namespace kv::service {

// The three characters that separate the items of a joined list.
inline constexpr std::string_view kListSeparator = "\\\\\\";

// Used whenever no usable quote could be read: an empty selection, a missing,
// unreadable or binary file, an empty line.
inline constexpr std::string_view kFallbackQuote = "Choose a quotes file in the Kvillo settings to see your own quotes here.";

// Lines longer than this cannot be shown on any screen; such a line is not
// read whole (memory stays bounded) and the fallback quote stands in.
inline constexpr size_t kMaxQuoteBytes = 4096;

// The items in order, separated by kListSeparator; the empty list is "".
std::string JoinList(const std::vector<std::string>& items);

// The items of a joined list; "" is the empty list, and an empty text
// between two separators is an item.
std::vector<std::string> SplitList(std::string_view joined);

// One item chosen uniformly at random, or "" for the empty list.
std::string PickRandomItem(const std::string& joined);

// A uniformly chosen line of the file at `path`, as UTF-8; never empty.
// CR, LF and CR LF each end a line, and a last line without an end counts.
// The file is read as UTF-8 when it is valid UTF-8, else as Windows-1252.
std::string PickRandomQuote(const std::string& path);

// The first line of the file, as PickRandomQuote would give it, or "" when
// the file has no usable first line.
std::string FirstQuote(const std::string& path);

// What one pass over a quotes file learns.
struct QuotesFileScan {
  bool readable = false;  // a regular file that could be read to its end
  long long lines = 0;
  bool utf8 = true;       // valid UTF-8 throughout
  bool binary = false;    // holds a NUL byte, so it is no text file
};
QuotesFileScan ScanQuotesFile(const std::string& path);

// Line `number` (from 1) of the file, as bytes, cut at kMaxQuoteBytes.
struct QuoteLine {
  bool readable = false;
  bool tooLong = false;
  std::string text;
};
QuoteLine ReadQuoteLine(const std::string& path, long long number);

// The full path of the quotes file `name` in the data folder, or "" when the
// name would lead outside it (it holds a "/" or is "." or "..").
std::string QuotesFilePath(const std::string& dataFolder, const std::string& name);

}  // namespace kv::service
