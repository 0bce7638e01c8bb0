#pragma once

// Text helpers shared by every part: trimming, ASCII case-insensitive
// comparison (the store's and the file lists' rule), and decoding of text
// files, which are UTF-8 when they are valid UTF-8 and Windows-1252 otherwise.

#include <string>
#include <string_view>

namespace kv::platform {

// Removes leading and trailing blanks (spaces only, as the callers' rules say).
std::string_view TrimSpaces(std::string_view text);

// Removes leading and trailing ASCII white space (space, tab, CR, LF, VT, FF).
std::string_view TrimWhitespace(std::string_view text);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);
std::string ToLowerAscii(std::string_view text);

bool IsValidUtf8(std::string_view bytes);

// The code points of `bytes`: decoded as UTF-8 when valid, else as Windows-1252.
std::u32string DecodeText(std::string_view bytes);

// The code points of `bytes` read as Windows-1252.
std::u32string DecodeWindows1252(std::string_view bytes);

// The code points of `text` read as UTF-8; invalid bytes become U+FFFD.
std::u32string DecodeUtf8(std::string_view text);

std::string EncodeUtf8(std::u32string_view text);
void AppendUtf8(std::string& out, char32_t code);

}  // namespace kv::platform
