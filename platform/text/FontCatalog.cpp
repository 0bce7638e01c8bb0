#include "kvplatform/text/FontCatalog.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <memory>

#include "kvplatform/base/Text.h"

namespace kv::platform {

std::vector<std::string> ListFontFamilies() {
  std::vector<std::string> families;
  if (!FcInit()) return families;

  std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternCreate(), FcPatternDestroy);
  std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> objects(FcObjectSetBuild(FC_FAMILY, nullptr),
                                                                      FcObjectSetDestroy);
  if (!pattern || !objects) return families;
  FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
  std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts(FcFontList(nullptr, pattern.get(), objects.get()),
                                                                FcFontSetDestroy);
  if (!fonts) return families;

  for (int i = 0; i < fonts->nfont; ++i) {
    // The first family name is the font's own; later ones are other
    // languages' names or style-qualified names of the same family.
    FcChar8* family = nullptr;
    if (FcPatternGetString(fonts->fonts[i], FC_FAMILY, 0, &family) == FcResultMatch && family && family[0]) {
      families.emplace_back(reinterpret_cast<const char*>(family));
    }
  }
  auto lessIgnoringCase = [](const std::string& a, const std::string& b) {
    std::string la = ToLowerAscii(a), lb = ToLowerAscii(b);
    return la != lb ? la < lb : a < b;
  };
  std::sort(families.begin(), families.end(), lessIgnoringCase);
  families.erase(std::unique(families.begin(), families.end(),
                             [](const std::string& a, const std::string& b) { return EqualsIgnoreCase(a, b); }),
                 families.end());
  return families;
}

}  // namespace kv::platform
