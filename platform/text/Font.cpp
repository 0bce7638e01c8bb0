#include "kvplatform/text/Font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>

#include "FontInternal.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/base/Text.h"

namespace kv::platform {
namespace fs = std::filesystem;

std::int32_t RoundToInt32(double value) {
  if (std::isnan(value)) return 0;
  double lower = std::floor(value);
  double fraction = value - lower;
  double rounded = fraction > 0.5 ? lower + 1 : fraction < 0.5 ? lower : (std::fmod(lower, 2.0) == 0 ? lower : lower + 1);
  if (rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (rounded <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(rounded);
}

std::string FreeTypeError(FT_Error error) {
  const char* text = FT_Error_String(error);
  return text ? text : "FreeType error " + std::to_string(error);
}

// fontconfig loads its configuration once per process and keeps it; that
// is the one thing kept from one font to the next.
bool FontConfigReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    NoteFontConfigLoading();
    ready = FcInit() == FcTrue;
  });
  return ready;
}

FacePattern NewFacePattern(std::string_view faceName, std::int32_t weight) {
  FacePattern pattern(FcPatternCreate(), FcPatternDestroy);
  if (!pattern) return pattern;
  std::string name(faceName.substr(0, faceName.find('\0')));
  if (!name.empty()) FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  FcPatternAddInteger(pattern.get(), FC_WEIGHT, FcWeightFromOpenType(std::clamp(weight, 1, 1000)));
  FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  return pattern;
}

namespace {

// Generic names stand for whatever the configuration prefers; finding
// another family for them is what they ask for.
bool IsGenericName(std::string_view name) {
  constexpr std::array<std::string_view, 10> kGeneric = {"sans-serif", "sans", "serif",  "monospace", "mono",
                                                         "cursive",    "fantasy", "system-ui", "emoji", "math"};
  return std::any_of(kGeneric.begin(), kGeneric.end(), [&](std::string_view g) { return EqualsIgnoreCase(g, name); });
}

// Whether the configuration binds `family` strongly to the name asked for
// (a metric-compatible alias such as Liberation Sans for Arial), as
// opposed to offering it as a mere substitute (a weak binding).
bool BoundAsAlias(FcPattern* substituted, const std::string& family) {
  FcValue value;
  FcValueBinding binding = FcValueBindingWeak;
  for (int i = 0; FcPatternGetWithBinding(substituted, FC_FAMILY, i, &value, &binding) == FcResultMatch; ++i) {
    if (value.type == FcTypeString && binding != FcValueBindingWeak &&
        EqualsIgnoreCase(reinterpret_cast<const char*>(value.u.s), family)) {
      return true;
    }
  }
  return false;
}

Result<FontChoice> MatchFace(std::string_view faceName, std::int32_t weight) {
  std::string name(faceName.substr(0, faceName.find('\0')));
  auto warn = [&name](const KeptMatch& match) {
    if (match.substituted) {
      LogErrorOnce("the font \"" + name + "\" is not installed; \"" + match.choice.family + "\" is used instead");
    }
  };
  if (std::optional<KeptMatch> kept = FindKeptMatch(name, weight)) {
    warn(*kept);
    return std::move(kept->choice);
  }
  if (!FontConfigReady()) return Fail("the font configuration (fontconfig) cannot be loaded");
  FacePattern pattern = NewFacePattern(faceName, weight);
  if (!pattern) return Fail("out of memory while looking for a font");
  FcResult result = FcResultNoMatch;
  std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> match(FcFontMatch(nullptr, pattern.get(), &result),
                                                                FcPatternDestroy);
  FcChar8* file = nullptr;
  if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !file) {
    return Fail(ErrorCode::NotFound, "no font is installed for \"" + name + "\" nor any substitute; install a font "
                                     "package such as fonts-dejavu");
  }
  KeptMatch found;
  FontChoice& choice = found.choice;
  choice.file = reinterpret_cast<const char*>(file);
  FcPatternGetInteger(match.get(), FC_INDEX, 0, &choice.index);
  bool named = false;
  FcChar8* family = nullptr;
  for (int i = 0; FcPatternGetString(match.get(), FC_FAMILY, i, &family) == FcResultMatch; ++i) {
    if (i == 0) choice.family = reinterpret_cast<const char*>(family);
    named = named || EqualsIgnoreCase(reinterpret_cast<const char*>(family), name);
  }
  found.substituted = !name.empty() && !named && !IsGenericName(name) && !BoundAsAlias(pattern.get(), choice.family);
  warn(found);
  KeepMatch(name, weight, found);
  return choice;
}

// The em in pixels for a Windows font height: a positive height is the
// cell (win ascent + win descent), a negative one the em, 0 the default cell.
double EmForHeight(std::int32_t height, double units, double cellUnits) {
  double wanted = static_cast<double>(height);  // computed in double: INT32_MIN has no 32-bit magnitude
  if (height > 0) return wanted * units / cellUnits;
  if (height < 0) return -wanted;
  return Font::kDefaultCellHeight * units / cellUnits;
}

// Sizes `impl` for `height`, or for an em of `emPixels` when that is positive.
Status SizeFace(Font::Impl& impl, std::int32_t height, double emPixels) {
  FT_Face face = impl.face;
  FontMetrics& metrics = impl.metrics;
  // A face of colour bitmaps only (emoji) reports no design units of its
  // own; its tables still have them.
  double units = face->units_per_EM;
  double ascentUnits = face->ascender;
  double descentUnits = -face->descender;
  auto* head = static_cast<TT_Header*>(FT_Get_Sfnt_Table(face, FT_SFNT_HEAD));
  auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
  if (units <= 0 && head) units = head->Units_Per_EM;
  if (ascentUnits + descentUnits <= 0 && hhea) ascentUnits = hhea->Ascender, descentUnits = -hhea->Descender;
  impl.colorStrikes = !FT_IS_SCALABLE(face) && FT_HAS_COLOR(face) && face->num_fixed_sizes > 0;
  if ((FT_IS_SCALABLE(face) || impl.colorStrikes) && units > 0) {
    // The Windows cell is the OS/2 table's win ascent plus win descent;
    // without that table, the face's own ascender and descender.
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
      ascentUnits = os2->usWinAscent;
      descentUnits = os2->usWinDescent;
    }
    if (ascentUnits + descentUnits <= 0) ascentUnits = units * 0.8, descentUnits = units * 0.2;
    impl.emPixels = emPixels > 0 ? emPixels : EmForHeight(height, units, ascentUnits + descentUnits);
    impl.unitScale = impl.emPixels / units;
    metrics.ascent = RoundToInt32(ascentUnits * impl.unitScale);
    if (emPixels <= 0 && height > 0) {
      metrics.height = height;
      metrics.descent = height - metrics.ascent;
    } else {
      metrics.descent = RoundToInt32(descentUnits * impl.unitScale);
      metrics.height = static_cast<std::int32_t>(
          std::min<std::int64_t>(std::int64_t{metrics.ascent} + metrics.descent, std::numeric_limits<std::int32_t>::max()));
    }
    metrics.maxCharWidth =
        RoundToInt32((face->max_advance_width > 0 ? face->max_advance_width : hhea ? hhea->advance_Width_Max : 0) *
                     impl.unitScale);
    if (impl.colorStrikes) {
      // Colour bitmaps come in a few fixed sizes: the largest is scaled to
      // the size asked for, so that an emoji font measures like any other.
      int best = 0;
      for (int i = 1; i < face->num_fixed_sizes; ++i) {
        if (face->available_sizes[i].y_ppem > face->available_sizes[best].y_ppem) best = i;
      }
      if (FT_Error error = FT_Select_Size(face, best)) {
        return Fail("the font file " + impl.choice.file.string() + " has no usable size: " + FreeTypeError(error));
      }
      double strikeEm = face->available_sizes[best].y_ppem / 64.0;
      impl.strikeScale = strikeEm > 0 ? impl.emPixels / strikeEm : 1.0;
      impl.sizeSet = true;
    }
    return Ok();
  }
  if (face->num_fixed_sizes > 0) {
    // A face of bitmap strikes only: the strike nearest to the wanted height.
    impl.scalable = false;
    std::int64_t wanted = emPixels > 0 ? std::llround(emPixels)
                          : height == 0 ? Font::kDefaultCellHeight
                          : height < 0  ? -std::int64_t{height}
                                        : height;
    int best = 0;
    for (int i = 1; i < face->num_fixed_sizes; ++i) {
      if (std::llabs(face->available_sizes[i].height - wanted) < std::llabs(face->available_sizes[best].height - wanted)) {
        best = i;
      }
    }
    if (FT_Error error = FT_Select_Size(face, best)) {
      return Fail("the font file " + impl.choice.file.string() + " has no usable size: " + FreeTypeError(error));
    }
    impl.sizeSet = true;
    impl.emPixels = face->size->metrics.y_ppem;
    impl.unitScale = face->units_per_EM > 0 ? impl.emPixels / face->units_per_EM : 1.0;
    metrics.ascent = static_cast<std::int32_t>(face->size->metrics.ascender >> 6);
    metrics.descent = static_cast<std::int32_t>(-face->size->metrics.descender >> 6);
    metrics.height = metrics.ascent + metrics.descent;
    metrics.maxCharWidth = static_cast<std::int32_t>(face->size->metrics.max_advance >> 6);
    return Ok();
  }
  return Fail("the font file " + impl.choice.file.string() + " holds neither outlines nor bitmaps");
}

Result<std::unique_ptr<Font::Impl>> LoadFace(FontChoice choice, std::int32_t height, double emPixels) {
  auto impl = std::make_unique<Font::Impl>();
  impl->choice = std::move(choice);
  if (FT_Error error = FT_Init_FreeType(&impl->library)) {
    return Fail("the font renderer (FreeType) cannot start: " + FreeTypeError(error));
  }
  if (FT_Error error = FT_New_Face(impl->library, impl->choice.file.c_str(), impl->choice.index, &impl->face)) {
    return Fail("the font file " + impl->choice.file.string() + " cannot be loaded: " + FreeTypeError(error));
  }
  FT_Face face = impl->face;
  if (impl->choice.family.empty() && face->family_name) impl->choice.family = face->family_name;
  if (!face->charmap && FT_Select_Charmap(face, FT_ENCODING_MS_SYMBOL) == 0) impl->symbolCodes = true;
  KV_TRY(SizeFace(*impl, height, emPixels));
  return impl;
}

}  // namespace

Font::Impl::~Impl() {
  if (face) FT_Done_Face(face);
  if (library) FT_Done_FreeType(library);
}

FT_UInt Font::Impl::GlyphIndex(char32_t code) const {
  FT_UInt index = FT_Get_Char_Index(face, code);
  if (index == 0 && symbolCodes && code < 0x100) index = FT_Get_Char_Index(face, 0xF000 + code);
  return index;
}

Status Font::Impl::SetDrawingSize() {
  if (sizeSet) return Ok();
  if (scalable) {
    double size = emPixels * 64.0;
    if (!(size >= 1.0) || size > 65535.0 * 64.0) {
      return Fail(ErrorCode::InvalidArgument,
                  "the font " + choice.family + " cannot be drawn " + std::to_string(metrics.height) + " pixels high");
    }
    if (FT_Error error = FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::llround(size)), 72, 72)) {
      return Fail("the font " + choice.family + " cannot be sized: " + FreeTypeError(error));
    }
  }
  sizeSet = true;
  return Ok();
}

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Font::Font(Font&&) noexcept = default;
Font& Font::operator=(Font&&) noexcept = default;
Font::~Font() = default;

Result<Font> Font::Open(std::string_view faceName, std::int32_t height, std::int32_t weight) {
  KV_TRY_ASSIGN(FontChoice choice, MatchFace(faceName, weight));
  KV_TRY_ASSIGN(std::unique_ptr<Impl> impl, LoadFace(std::move(choice), height, 0));
  return Font(std::move(impl));
}

Result<Font> Font::OpenFile(const fs::path& file, int index, double emPixels) {
  if (!(emPixels > 0)) return Fail(ErrorCode::InvalidArgument, "a font was asked for without a size");
  KV_TRY_ASSIGN(std::unique_ptr<Impl> impl, LoadFace(FontChoice{file, index, {}}, 0, emPixels));
  return Font(std::move(impl));
}

const std::string& Font::Family() const { return impl_->choice.family; }
const fs::path& Font::File() const { return impl_->choice.file; }
const FontMetrics& Font::Metrics() const { return impl_->metrics; }
std::uint32_t Font::GlyphIndex(char32_t code) const { return impl_->GlyphIndex(code); }
double Font::PixelsPerUnit() const { return impl_->unitScale; }
double Font::EmPixels() const { return impl_->emPixels; }
bool Font::HasColor() const { return impl_->colorStrikes; }

std::int32_t Font::AdvanceWidth(char32_t code) const {
  FT_UInt index = impl_->GlyphIndex(code);
  FT_Fixed advance = 0;
  if (impl_->scalable) {
    // Unscaled advances come straight from the metrics table, at any size.
    if (FT_Get_Advance(impl_->face, index, FT_LOAD_NO_SCALE, &advance) != 0) return 0;
    return RoundToInt32(static_cast<double>(advance) * impl_->unitScale);
  }
  if (FT_Get_Advance(impl_->face, index, FT_LOAD_DEFAULT, &advance) != 0) return 0;
  return RoundToInt32(static_cast<double>(advance) / 65536.0);
}

}  // namespace kv::platform
