#pragma once

// The selections as joined lists, the random picks from them, and the pick
// of one line of a quotes file.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kvplatform/base/InputFile.h"
#include "kvplatform/base/Result.h"

namespace kv::service {

// The three characters that separate the items of a joined list.
inline constexpr std::string_view kListSeparator = "\\\\\\";

// Used whenever no usable quote could be read: an empty selection, a missing,
// unreadable or binary file, an empty line.
inline constexpr std::string_view kFallbackQuote = "Choose a quotes file in the Kvillo settings to see your own quotes here.";

// A line longer than this is not read whole (memory stays bounded) and the
// fallback quote stands in; below it, the layout decides what fits.
inline constexpr size_t kMaxQuoteBytes = size_t{1} << 20;

// A quotes file larger than this is not read at all: the scan of every
// render stays bounded.
inline constexpr std::int64_t kMaxQuotesFileBytes = std::int64_t{64} << 20;

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
// A file that cannot be used (no regular file, too large, binary, a line
// too long) gives the fallback quote and one line on stderr; a missing file
// gives the fallback alone.
std::string PickRandomQuote(const std::string& path);

// The first line of the file, as PickRandomQuote would give it, or "" when
// the file has no usable first line.
std::string FirstQuote(const std::string& path);

// What one pass over a quotes file learns.
struct QuotesFileScan {
  long long lines = 0;
  bool utf8 = true;  // valid UTF-8 throughout
};

// A line as bytes, cut at kMaxQuoteBytes.
struct QuoteLine {
  bool tooLong = false;
  std::string text;
};

// A quotes file, opened once: it is scanned and then read on the same
// descriptor, so the file counted is the file read.
class QuotesFile {
 public:
  // Opens without waiting on a FIFO or device; fails (NotFound for a
  // missing file) with a message naming the file for anything that is not
  // a regular file of at most kMaxQuotesFileBytes.
  [[nodiscard]] static Result<QuotesFile> Open(const std::string& path);

  // Counts the lines and learns the encoding. Fails at the first block
  // that holds a NUL byte (the file is no text) and on read errors.
  [[nodiscard]] Result<QuotesFileScan> Scan();

  // Line `number` (from 1), from the start of the file; "" past the end.
  [[nodiscard]] Result<QuoteLine> ReadLine(long long number);

  const std::string& Name() const { return file_.Name(); }

 private:
  explicit QuotesFile(platform::InputFile file) : file_(std::move(file)) {}
  [[nodiscard]] Result<std::string_view> NextBlock();

  platform::InputFile file_;
  std::unique_ptr<char[]> buffer_;
};

// The full path of the quotes file `name` in the data folder (its extension
// in whatever letter case the catalog found it), or "" when the name would
// lead outside it (it holds a "/" or is "." or "..").
std::string QuotesFilePath(const std::string& dataFolder, const std::string& name);

}  // namespace kv::service
