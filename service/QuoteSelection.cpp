#include "QuoteSelection.h"

#include <cmath>
#include <cstring>

#include "kvplatform/base/DirectoryList.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/base/Random.h"
#include "kvplatform/base/Text.h"
#include "kvshared/CStatics.h"

namespace kv::service {
namespace {

constexpr std::size_t kBlockBytes = 64 * 1024;

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
  return platform::ResolveListedFile(dataFolder + "/" + std::string(CStatics::FOLDERQUOTESFILES), name, ".txt")
      .string();
}

Result<QuotesFile> QuotesFile::Open(const std::string& path) {
  KV_TRY_ASSIGN(platform::InputFile file, platform::InputFile::Open(path, "the quotes file", kMaxQuotesFileBytes));
  QuotesFile quotes(std::move(file));
  quotes.buffer_ = std::make_unique<char[]>(kBlockBytes);
  return quotes;
}

Result<std::string_view> QuotesFile::NextBlock() {
  KV_TRY_ASSIGN(std::size_t got, file_.Read(buffer_.get(), kBlockBytes));
  return std::string_view(buffer_.get(), got);
}

Result<QuotesFileScan> QuotesFile::Scan() {
  KV_TRY(file_.Rewind());
  QuotesFileScan scan;
  LineScanner counter;
  std::string tail;  // an incomplete UTF-8 sequence carried across blocks
  // The size was checked at opening, but a file may grow while it is read:
  // the scan never reads more than the limit.
  std::int64_t total = 0;
  while (true) {
    KV_TRY_ASSIGN(std::string_view block, NextBlock());
    if (block.empty()) break;
    total += static_cast<std::int64_t>(block.size());
    if (total > kMaxQuotesFileBytes) {
      return Fail(ErrorCode::Corrupt, Name() + " grew past " + std::to_string(kMaxQuotesFileBytes >> 20) +
                                          " MiB while it was read");
    }
    // A NUL byte never occurs in text: the file is something else, and a
    // binary file (or a sparse one of gigabytes) is refused at once.
    if (block.find('\0') != std::string_view::npos) {
      return Fail(ErrorCode::Corrupt, Name() + " is not a text file");
    }
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
  return scan;
}

Result<QuoteLine> QuotesFile::ReadLine(long long number) {
  KV_TRY(file_.Rewind());
  QuoteLine result;
  long long line = 1;
  LineScanner picker;
  std::int64_t total = 0;
  while (total <= kMaxQuotesFileBytes) {
    KV_TRY_ASSIGN(std::string_view block, NextBlock());
    if (block.empty()) break;
    total += static_cast<std::int64_t>(block.size());
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
  return result;
}

namespace {

// Line `choose(lines)` of the file at `path` as UTF-8; "" for an empty line.
template <class Choose>
Result<std::string> ChosenLine(const std::string& path, Choose choose) {
  KV_TRY_ASSIGN(QuotesFile file, QuotesFile::Open(path));
  KV_TRY_ASSIGN(QuotesFileScan scan, file.Scan());
  long long number = choose(scan.lines);
  KV_TRY_ASSIGN(QuoteLine quote, file.ReadLine(number));
  if (quote.tooLong) {
    return Fail(ErrorCode::Corrupt, "a line of " + file.Name() + " is too long to show (over " +
                                        std::to_string(kMaxQuoteBytes) + " bytes)");
  }
  // Editors that mark UTF-8 with a byte-order mark put it before line 1;
  // it is not part of the quote.
  if (number == 1 && scan.utf8 && quote.text.starts_with("\xEF\xBB\xBF")) quote.text.erase(0, 3);
  if (scan.utf8) return std::move(quote.text);
  return platform::EncodeUtf8(platform::DecodeWindows1252(quote.text));
}

// The line, or "" when there is none; a file that is there but cannot be
// used is reported once. A missing file is not: an empty selection names
// no file, and the fallback quote itself tells the user what to do.
std::string Usable(Result<std::string> line) {
  if (line) return std::move(*line);
  if (line.error().code != ErrorCode::NotFound) platform::LogErrorOnce(line.error().message + "; it is skipped");
  return {};
}

}  // namespace

std::string PickRandomQuote(const std::string& path) {
  std::string quote = Usable(ChosenLine(path, [](long long lines) {
    platform::Randomize();
    return static_cast<long long>(std::floor(static_cast<double>(lines) * platform::Rnd())) + 1;
  }));
  return quote.empty() ? Fallback() : quote;
}

std::string FirstQuote(const std::string& path) {
  return Usable(ChosenLine(path, [](long long) { return 1LL; }));
}

}  // namespace kv::service
