#include "QuoteSelection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "kvplatform/Log.h"
#include "kvplatform/Random.h"
#include "kvplatform/Text.h"
#include "kvshared/CStatics.h"

namespace kv::service {
namespace {

// Reads a file in blocks, so a 50 MB quotes file costs a fixed buffer.
class BlockReader {
 public:
  explicit BlockReader(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~BlockReader() {
    if (fd_ >= 0) close(fd_);
  }
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  bool Rewind() { return lseek(fd_, 0, SEEK_SET) == 0; }
  // The next block; empty at the end or on a read error (`failed` tells).
  std::string_view Next() {
    ssize_t got;
    do {
      got = read(fd_, buffer_, sizeof buffer_);
    } while (got < 0 && errno == EINTR);
    if (got < 0) failed_ = true;
    return got > 0 ? std::string_view(buffer_, static_cast<size_t>(got)) : std::string_view();
  }
  bool Failed() const { return failed_; }

 private:
  int fd_;
  bool failed_ = false;
  char buffer_[64 * 1024];
};

// Walks the lines of a file block by block. A line ends at CR, LF or CR LF;
// the pair is one end even when a block boundary falls between them.
class LineScanner {
 public:
  // Feeds one block; calls onLineEnd() at every line end and onByte(c)
  // for every byte of a line. Returns false once onLineEnd asks to stop.
  template <class OnByte, class OnLineEnd>
  bool Feed(std::string_view block, OnByte onByte, OnLineEnd onLineEnd) {
    for (char c : block) {
      if (afterCr_ && c == '\n') {
        afterCr_ = false;
        continue;
      }
      afterCr_ = false;
      if (c == '\r' || c == '\n') {
        afterCr_ = c == '\r';
        inLine_ = false;
        if (!onLineEnd()) return false;
        continue;
      }
      inLine_ = true;
      onByte(c);
    }
    return true;
  }
  // True when the data ended inside a line, which then counts as a line.
  bool EndedInLine() const { return inLine_; }

 private:
  bool afterCr_ = false;
  bool inLine_ = false;
};

std::string Fallback() { return std::string(kFallbackQuote); }

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string JoinList(const std::vector<std::string>& items) {
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    joined += items[i];
    if (i + 1 < items.size()) joined += kListSeparator;
  }
  return joined;
}

std::vector<std::string> SplitList(std::string_view joined) {
  std::vector<std::string> items;
  if (joined.empty()) return items;
  size_t start = 0;
  while (true) {
    size_t at = joined.find(kListSeparator, start);
    if (at == std::string_view::npos) {
      items.emplace_back(joined.substr(start));
      return items;
    }
    items.emplace_back(joined.substr(start, at - start));
    start = at + kListSeparator.size();
  }
}

std::string PickRandomItem(const std::string& joined) {
  if (joined.empty()) return std::string();
  std::vector<std::string> items = SplitList(joined);
  auto index = static_cast<size_t>(std::floor(static_cast<double>(items.size()) * platform::Rnd()));
  return items[std::min(index, items.size() - 1)];
}

std::string QuotesFilePath(const std::string& dataFolder, const std::string& name) {
  if (name.find('/') != std::string::npos || name == "." || name == "..") return std::string();
  return dataFolder + "/" + std::string(CStatics::FOLDERQUOTESFILES) + "/" + name + ".txt";
}

QuotesFileScan ScanQuotesFile(const std::string& path) {
  QuotesFileScan scan;
  // A directory opens fine on this platform but holds no lines.
  if (path.empty() || !IsRegularFile(path)) return scan;
  BlockReader reader(path);
  if (!reader.IsOpen()) return scan;

  // Count the lines, and learn whether the file is UTF-8 and whether it is
  // text at all (a NUL byte means it is not).
  LineScanner counter;
  std::string tail;  // an incomplete UTF-8 sequence carried across blocks
  for (std::string_view block = reader.Next(); !block.empty(); block = reader.Next()) {
    if (block.find('\0') != std::string_view::npos) scan.binary = true;
    if (scan.utf8) {
      std::string joined = tail + std::string(block);
      size_t cut = joined.size();
      // Hold back the bytes of a sequence the next block may complete.
      for (size_t back = 1; back <= 3 && back <= joined.size(); ++back) {
        auto byte = static_cast<unsigned char>(joined[joined.size() - back]);
        if ((byte & 0xC0) == 0xC0) {
          size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
          if (back < length) cut = joined.size() - back;
          break;
        }
        if ((byte & 0xC0) != 0x80) break;
      }
      scan.utf8 = platform::IsValidUtf8(std::string_view(joined).substr(0, cut));
      tail = joined.substr(cut);
    }
    counter.Feed(block, [](char) {}, [&] {
      ++scan.lines;
      return true;
    });
  }
  if (!tail.empty()) scan.utf8 = false;
  if (counter.EndedInLine()) ++scan.lines;
  scan.readable = !reader.Failed();
  return scan;
}

QuoteLine ReadQuoteLine(const std::string& path, long long number) {
  QuoteLine result;
  BlockReader reader(path);
  if (!reader.IsOpen()) return result;
  long long line = 1;
  LineScanner picker;
  for (std::string_view block = reader.Next(); !block.empty(); block = reader.Next()) {
    bool more = picker.Feed(
        block,
        [&](char c) {
          if (line != number) return;
          if (result.text.size() < kMaxQuoteBytes) {
            result.text += c;
          } else {
            result.tooLong = true;
          }
        },
        [&] { return ++line <= number; });
    if (!more) break;
  }
  result.readable = !reader.Failed();
  return result;
}

namespace {

// Line `number` of a scanned file as UTF-8, or "" when it cannot be shown
// (unreadable, not text, too long); the problem is reported once.
std::string DecodedLine(const std::string& path, const QuotesFileScan& scan, long long number) {
  if (!scan.readable) return {};
  if (scan.binary) {
    platform::LogErrorOnce("the quotes file " + path + " is not a text file; it is skipped");
    return {};
  }
  QuoteLine quote = ReadQuoteLine(path, number);
  if (!quote.readable) return {};
  if (quote.tooLong) {
    platform::LogErrorOnce("a line of the quotes file " + path + " is too long to show (over " +
                           std::to_string(kMaxQuoteBytes) + " bytes); it is skipped");
    return {};
  }
  // Editors that mark UTF-8 with a byte-order mark put it before line 1;
  // it is not part of the quote.
  if (number == 1 && scan.utf8 && quote.text.starts_with("\xEF\xBB\xBF")) quote.text.erase(0, 3);
  if (scan.utf8) return quote.text;
  return platform::EncodeUtf8(platform::DecodeWindows1252(quote.text));
}

}  // namespace

std::string PickRandomQuote(const std::string& path) {
  QuotesFileScan scan = ScanQuotesFile(path);
  platform::Randomize();
  long long chosen = static_cast<long long>(std::floor(static_cast<double>(scan.lines) * platform::Rnd())) + 1;
  std::string quote = DecodedLine(path, scan, chosen);
  return quote.empty() ? Fallback() : quote;
}

std::string FirstQuote(const std::string& path) { return DecodedLine(path, ScanQuotesFile(path), 1); }

}  // namespace kv::service
