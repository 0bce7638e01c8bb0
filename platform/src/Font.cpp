#include "kvplatform/Font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_BITMAP_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

// Nearest integer, an exact half to the even neighbour, saturated to int32.
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

struct FontChoice {
  fs::path file;
  int index = 0;
  std::string family;
};

// fontconfig loads its configuration once per process and keeps it; that
// is the one thing kept from one font to the next.
bool FontConfigReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = FcInit() == FcTrue; });
  return ready;
}

Result<FontChoice> MatchFace(std::string_view faceName, std::int32_t weight) {
  if (!FontConfigReady()) return Fail("the font configuration (fontconfig) cannot be loaded");
  std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternCreate(), FcPatternDestroy);
  if (!pattern) return Fail("out of memory while looking for a font");
  std::string name(faceName.substr(0, faceName.find('\0')));
  if (!name.empty()) FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  FcPatternAddInteger(pattern.get(), FC_WEIGHT, FcWeightFromOpenType(std::clamp(weight, 1, 1000)));
  FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> match(FcFontMatch(nullptr, pattern.get(), &result),
                                                                FcPatternDestroy);
  FcChar8* file = nullptr;
  if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !file) {
    return Fail(ErrorCode::NotFound, "no font is installed for \"" + name + "\" nor any substitute; install a font "
                                     "package such as fonts-dejavu");
  }
  FontChoice choice;
  choice.file = reinterpret_cast<const char*>(file);
  FcPatternGetInteger(match.get(), FC_INDEX, 0, &choice.index);
  FcChar8* family = nullptr;
  if (FcPatternGetString(match.get(), FC_FAMILY, 0, &family) == FcResultMatch && family) {
    choice.family = reinterpret_cast<const char*>(family);
  }
  return choice;
}

struct Glyph {
  std::int32_t left = 0;  // from the pen position to the coverage's left edge
  std::int32_t top = 0;   // from the baseline up to the coverage's top edge
  std::int32_t width = 0;
  std::int32_t rows = 0;
  std::vector<std::uint8_t> coverage;  // rows x width, 0..255
};

// Blends `value` (0..255) of `color` over `target`: exact to the nearest
// level, without a division.
inline std::uint8_t Blend(std::uint8_t target, std::uint8_t color, unsigned value) {
  unsigned mixed = color * value + target * (255 - value) + 128;
  return static_cast<std::uint8_t>((mixed + (mixed >> 8)) >> 8);
}

}  // namespace

struct Font::Impl {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  FontChoice choice;
  FontMetrics metrics;
  bool scalable = true;
  bool symbolCodes = false;  // a symbol font maps 0x20..0xFF at 0xF020..0xF0FF
  double emPixels = 0;       // pixels per em
  double unitScale = 0;      // pixels per font unit
  bool sizeSet = false;
  std::unordered_map<char32_t, Glyph> glyphs;

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }

  FT_UInt GlyphIndex(char32_t code) const {
    FT_UInt index = FT_Get_Char_Index(face, code);
    if (index == 0 && symbolCodes && code < 0x100) index = FT_Get_Char_Index(face, 0xF000 + code);
    return index;
  }

  Status SetDrawingSize() {
    if (sizeSet) return Ok();
    if (scalable) {
      double size = emPixels * 64.0;
      if (!(size >= 1.0) || size > 65535.0 * 64.0) {
        return Fail(ErrorCode::InvalidArgument, "the font " + choice.family + " cannot be drawn " +
                                                    std::to_string(metrics.height) + " pixels high");
      }
      if (FT_Error error = FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::llround(size)), 72, 72)) {
        return Fail("the font " + choice.family + " cannot be sized: " + FreeTypeError(error));
      }
    }
    sizeSet = true;
    return Ok();
  }

  Result<const Glyph*> Render(char32_t code) {
    if (auto found = glyphs.find(code); found != glyphs.end()) return &found->second;
    KV_TRY(SetDrawingSize());
    Glyph glyph;
    FT_UInt index = GlyphIndex(code);
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) == 0 &&
        (face->glyph->format == FT_GLYPH_FORMAT_BITMAP || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) == 0)) {
      FT_GlyphSlot slot = face->glyph;
      FT_Bitmap converted;
      FT_Bitmap_Init(&converted);
      const FT_Bitmap* source = &slot->bitmap;
      bool grey = source->pixel_mode == FT_PIXEL_MODE_GRAY && source->num_grays == 256;
      if (!grey && FT_Bitmap_Convert(library, &slot->bitmap, &converted, 1) == 0) source = &converted;
      if (grey || source == &converted) {
        glyph.left = slot->bitmap_left;
        glyph.top = slot->bitmap_top;
        glyph.width = static_cast<std::int32_t>(source->width);
        glyph.rows = static_cast<std::int32_t>(source->rows);
        glyph.coverage.resize(static_cast<std::size_t>(glyph.width) * static_cast<std::size_t>(glyph.rows));
        unsigned levels = source->num_grays > 1 ? source->num_grays - 1 : 1;
        for (std::int32_t row = 0; row < glyph.rows; ++row) {
          const unsigned char* in = source->buffer + static_cast<std::ptrdiff_t>(row) * source->pitch;
          std::uint8_t* out = glyph.coverage.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(glyph.width);
          for (std::int32_t column = 0; column < glyph.width; ++column) {
            out[column] = levels == 255 ? in[column] : static_cast<std::uint8_t>(std::min(255u, in[column] * 255u / levels));
          }
        }
      }
      FT_Bitmap_Done(library, &converted);
    }
    // A glyph that cannot be rendered draws nothing, like a blank.
    return &glyphs.emplace(code, std::move(glyph)).first->second;
  }
};

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Font::Font(Font&&) noexcept = default;
Font& Font::operator=(Font&&) noexcept = default;
Font::~Font() = default;

Result<Font> Font::Open(std::string_view faceName, std::int32_t height, std::int32_t weight) {
  KV_TRY_ASSIGN(FontChoice choice, MatchFace(faceName, weight));
  auto impl = std::make_unique<Impl>();
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

  FontMetrics& metrics = impl->metrics;
  if (FT_IS_SCALABLE(face) && face->units_per_EM > 0) {
    // The Windows cell is the OS/2 table's win ascent plus win descent;
    // without that table, the face's own ascender and descender.
    double ascentUnits = face->ascender;
    double descentUnits = -face->descender;
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
      ascentUnits = os2->usWinAscent;
      descentUnits = os2->usWinDescent;
    }
    double units = face->units_per_EM;
    if (ascentUnits + descentUnits <= 0) ascentUnits = units * 0.8, descentUnits = units * 0.2;
    double cellUnits = ascentUnits + descentUnits;
    // Computed in 64 bits: INT32_MIN has no 32-bit magnitude.
    double wanted = static_cast<double>(height);
    if (height > 0) {
      impl->emPixels = wanted * units / cellUnits;
    } else if (height < 0) {
      impl->emPixels = -wanted;
    } else {
      impl->emPixels = kDefaultCellHeight * units / cellUnits;
    }
    impl->unitScale = impl->emPixels / units;
    metrics.ascent = RoundToInt32(ascentUnits * impl->unitScale);
    if (height > 0) {
      metrics.height = height;
      metrics.descent = height - metrics.ascent;
    } else {
      metrics.descent = RoundToInt32(descentUnits * impl->unitScale);
      metrics.height = static_cast<std::int32_t>(
          std::min<std::int64_t>(std::int64_t{metrics.ascent} + metrics.descent, std::numeric_limits<std::int32_t>::max()));
    }
    metrics.maxCharWidth = RoundToInt32(face->max_advance_width * impl->unitScale);
  } else if (face->num_fixed_sizes > 0) {
    // A face of bitmap strikes only: the strike nearest to the wanted height.
    impl->scalable = false;
    std::int64_t wanted = height == 0 ? kDefaultCellHeight : height < 0 ? -std::int64_t{height} : height;
    int best = 0;
    for (int i = 1; i < face->num_fixed_sizes; ++i) {
      if (std::llabs(face->available_sizes[i].height - wanted) < std::llabs(face->available_sizes[best].height - wanted)) {
        best = i;
      }
    }
    if (FT_Error error = FT_Select_Size(face, best)) {
      return Fail("the font file " + impl->choice.file.string() + " has no usable size: " + FreeTypeError(error));
    }
    impl->sizeSet = true;
    metrics.ascent = static_cast<std::int32_t>(face->size->metrics.ascender >> 6);
    metrics.descent = static_cast<std::int32_t>(-face->size->metrics.descender >> 6);
    metrics.height = metrics.ascent + metrics.descent;
    metrics.maxCharWidth = static_cast<std::int32_t>(face->size->metrics.max_advance >> 6);
  } else {
    return Fail("the font file " + impl->choice.file.string() + " holds neither outlines nor bitmaps");
  }
  return Font(std::move(impl));
}

const std::string& Font::Family() const { return impl_->choice.family; }
const fs::path& Font::File() const { return impl_->choice.file; }
const FontMetrics& Font::Metrics() const { return impl_->metrics; }

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

Status Font::Draw(Bitmap& target, char32_t code, std::int32_t x, std::int32_t y, ColorRef color) {
  KV_TRY_ASSIGN(const Glyph* glyph, impl_->Render(code));
  if (glyph->coverage.empty()) return Ok();
  const std::int64_t left = std::int64_t{x} + glyph->left;
  const std::int64_t top = std::int64_t{y} + impl_->metrics.ascent - glyph->top;
  const std::int64_t x0 = std::max<std::int64_t>(left, 0);
  const std::int64_t x1 = std::min<std::int64_t>(left + glyph->width, target.Width());
  const std::int64_t y0 = std::max<std::int64_t>(top, 0);
  const std::int64_t y1 = std::min<std::int64_t>(top + glyph->rows, target.Height());
  const std::uint8_t blue = BlueOf(color), green = GreenOf(color), red = RedOf(color);
  for (std::int64_t row = y0; row < y1; ++row) {
    const std::uint8_t* in = glyph->coverage.data() + static_cast<std::size_t>(row - top) * static_cast<std::size_t>(glyph->width);
    std::uint8_t* out = target.Row(static_cast<std::int32_t>(row));
    for (std::int64_t column = x0; column < x1; ++column) {
      unsigned value = in[column - left];
      if (value == 0) continue;
      std::uint8_t* pixel = out + column * 3;
      if (value == 255) {
        pixel[0] = blue, pixel[1] = green, pixel[2] = red;
      } else {
        pixel[0] = Blend(pixel[0], blue, value);
        pixel[1] = Blend(pixel[1], green, value);
        pixel[2] = Blend(pixel[2], red, value);
      }
    }
  }
  return Ok();
}

}  // namespace kv::platform
