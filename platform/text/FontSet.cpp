#include "kvplatform/text/FontSet.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "FontInternal.h"

namespace kv::platform {

// One font of the configuration's ranking, opened only when chosen.
struct FontSet::Candidate {
  std::filesystem::path file;
  int index = 0;
  FcCharSet* charset = nullptr;  // owned
  std::size_t opened = 0;        // index into fonts_, 0 while not opened
  bool colour = false;
  bool unusable = false;

  Candidate() = default;
  Candidate(Candidate&& other) noexcept
      : file(std::move(other.file)), index(other.index), charset(std::exchange(other.charset, nullptr)),
        opened(other.opened), colour(other.colour), unusable(other.unusable) {}
  Candidate& operator=(Candidate&& other) noexcept {
    std::swap(file, other.file), std::swap(index, other.index), std::swap(charset, other.charset);
    std::swap(opened, other.opened), std::swap(colour, other.colour), std::swap(unusable, other.unusable);
    return *this;
  }
  ~Candidate() {
    if (charset) FcCharSetDestroy(charset);
  }
};

FontSet::FontSet(FontSet&&) noexcept = default;
FontSet& FontSet::operator=(FontSet&&) noexcept = default;
FontSet::~FontSet() = default;

Result<FontSet> FontSet::Open(std::string_view faceName, std::int32_t height, std::int32_t weight) {
  KV_TRY_ASSIGN(Font primary, Font::Open(faceName, height, weight));
  FontSet set;
  set.faceName_ = std::string(faceName);
  set.weight_ = weight;
  set.fonts_.push_back(std::make_unique<Font>(std::move(primary)));
  return set;
}

void FontSet::LoadCandidates() {
  candidatesLoaded_ = true;
  if (!FontConfigReady()) return;
  FacePattern pattern = NewFacePattern(faceName_, weight_);
  if (!pattern) return;
  // The ranking for the chosen face, trimmed to the fonts that add
  // characters the ones before them lack.
  FcResult result = FcResultNoMatch;
  std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> sorted(
      FcFontSort(nullptr, pattern.get(), FcTrue, nullptr, &result), FcFontSetDestroy);
  if (!sorted) return;
  for (int i = 0; i < sorted->nfont; ++i) {
    FcPattern* font = sorted->fonts[i];
    FcChar8* file = nullptr;
    FcCharSet* charset = nullptr;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || !file ||
        FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch || !charset) {
      continue;
    }
    Candidate candidate;
    candidate.file = reinterpret_cast<const char*>(file);
    FcPatternGetInteger(font, FC_INDEX, 0, &candidate.index);
    candidate.charset = FcCharSetCopy(charset);
    FcBool colour = FcFalse;
    candidate.colour = FcPatternGetBool(font, FC_COLOR, 0, &colour) == FcResultMatch && colour == FcTrue;
    candidates_.push_back(std::move(candidate));
  }
}

bool FontSet::IsEmojiByDefault(char32_t code) {
  // The pictographs of the supplementary planes and the older symbols
  // that Unicode gives emoji presentation.
  if (code >= 0x1F000 && code <= 0x1FAFF) return true;
  constexpr std::pair<char32_t, char32_t> kRanges[] = {
      {0x231A, 0x231B}, {0x23E9, 0x23EC}, {0x23F0, 0x23F0}, {0x23F3, 0x23F3}, {0x25FD, 0x25FE}, {0x2614, 0x2615},
      {0x2648, 0x2653}, {0x267F, 0x267F}, {0x2693, 0x2693}, {0x26A1, 0x26A1}, {0x26AA, 0x26AB}, {0x26BD, 0x26BE},
      {0x26C4, 0x26C5}, {0x26CE, 0x26CE}, {0x26D4, 0x26D4}, {0x26EA, 0x26EA}, {0x26F2, 0x26F3}, {0x26F5, 0x26F5},
      {0x26FA, 0x26FA}, {0x26FD, 0x26FD}, {0x2705, 0x2705}, {0x270A, 0x270B}, {0x2728, 0x2728}, {0x274C, 0x274C},
      {0x274E, 0x274E}, {0x2753, 0x2755}, {0x2757, 0x2757}, {0x2795, 0x2797}, {0x27B0, 0x27B0}, {0x27BF, 0x27BF},
      {0x2B1B, 0x2B1C}, {0x2B50, 0x2B50}, {0x2B55, 0x2B55}};
  return std::any_of(std::begin(kRanges), std::end(kRanges),
                     [code](const auto& range) { return code >= range.first && code <= range.second; });
}

std::size_t FontSet::FontFor(char32_t code, bool emojiStyle) {
  const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0);
  const bool primaryHasIt = Primary().GlyphIndex(code) != 0;
  if (control || (primaryHasIt && (!emojiStyle || Primary().HasColor()))) return 0;
  const std::uint64_t key = (std::uint64_t{emojiStyle} << 32) | code;
  if (auto known = chosen_.find(key); known != chosen_.end()) return known->second;
  if (!candidatesLoaded_) LoadCandidates();
  std::size_t found = 0;
  // An emoji looks first among the colour fonts, then, like any other
  // character, among all of them.
  for (int pass = emojiStyle ? 0 : 1; pass < 2 && found == 0; ++pass) {
    if (pass == 1 && primaryHasIt) break;
    for (Candidate& candidate : candidates_) {
      if (candidate.unusable || (pass == 0 && !candidate.colour) || !FcCharSetHasChar(candidate.charset, code)) continue;
      if (candidate.opened == 0) {
        auto font = Font::OpenFile(candidate.file, candidate.index, Primary().EmPixels());
        if (!font) {
          candidate.unusable = true;
          continue;
        }
        fonts_.push_back(std::make_unique<Font>(std::move(*font)));
        candidate.opened = fonts_.size() - 1;
      }
      // The configuration's character set can claim more than the font's
      // own table maps.
      if (fonts_[candidate.opened]->GlyphIndex(code) == 0) continue;
      found = candidate.opened;
      break;
    }
  }
  chosen_.emplace(key, found);
  return found;
}

}  // namespace kv::platform
