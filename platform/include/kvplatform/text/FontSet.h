#pragma once

// The chosen font and the fonts that stand in for it: a character the
// chosen face has no glyph for is drawn with the installed font that the
// font configuration ranks first among those that have it, at the same em
// size, so that no script shows boxes where a font for it is installed.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kvplatform/text/Font.h"
#include "kvplatform/base/Result.h"

namespace kv::platform {

class FontSet {
 public:
  // Opens the chosen font as Font::Open does; the others are found and
  // opened when a character first needs them.
  [[nodiscard]] static Result<FontSet> Open(std::string_view faceName, std::int32_t height, std::int32_t weight);

  FontSet(FontSet&&) noexcept;
  FontSet& operator=(FontSet&&) noexcept;
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;
  ~FontSet();

  // The chosen font: index 0.
  Font& Primary() { return *fonts_.front(); }
  const Font& Primary() const { return *fonts_.front(); }
  // The font at an index FontFor answered; it lives as long as the set.
  Font& At(std::size_t index) { return *fonts_.at(index); }
  std::size_t Count() const { return fonts_.size(); }

  // The index of the font that draws `code`: the chosen one when it has
  // the glyph, otherwise the first installed font that has it. Control
  // characters, and characters that no font has, stay with the chosen one
  // (and draw as its missing-glyph box). A character shown as an emoji
  // (`emojiStyle`: by default, or asked for by a variation selector) is
  // drawn with a colour font that has it where one is installed, and
  // otherwise as any other character.
  std::size_t FontFor(char32_t code, bool emojiStyle);
  std::size_t FontFor(char32_t code) { return FontFor(code, IsEmojiByDefault(code)); }

  // Whether `code` is shown as a colourful emoji when nothing asks otherwise.
  static bool IsEmojiByDefault(char32_t code);

 private:
  struct Candidate;
  FontSet() = default;
  void LoadCandidates();

  std::string faceName_;
  std::int32_t weight_ = 0;
  std::vector<std::unique_ptr<Font>> fonts_;
  std::vector<Candidate> candidates_;
  bool candidatesLoaded_ = false;
  std::unordered_map<std::uint64_t, std::size_t> chosen_;  // by code and emoji style
};

}  // namespace kv::platform
