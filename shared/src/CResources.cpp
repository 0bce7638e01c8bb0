#include "kvshared/CResources.h"

#include <cmath>
#include <span>

#include "kvplatform/base/DirectoryList.h"
#include "kvplatform/text/FontCatalog.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/image/Picture.h"
#include "kvplatform/base/Random.h"
#include "kvshared/CSettings.h"
#include "kvshared/CStatics.h"
#include "kvshared/Convert.h"
#include "kvshared/Funcs.h"

namespace kv {
namespace {

// A list of the catalog is never empty: nothing found is one empty name.
std::vector<std::string> NonEmpty(std::vector<std::string> names) {
  if (names.empty()) names.emplace_back();
  return names;
}

// The service hands a selection around as one text whose names are parted
// by these three characters; a name that holds them would come back as two.
constexpr std::string_view kListSeparator = "\\\\\\";

// The names without those that hold the separator, each reported once.
std::vector<std::string> Selectable(std::vector<std::string> names, std::string_view what) {
  std::erase_if(names, [&](const std::string& name) {
    if (name.find(kListSeparator) == std::string::npos) return false;
    platform::LogErrorOnce(std::string(what) + " \"" + name + "\" is left out: its name holds \"" +
                           std::string(kListSeparator) + "\", which parts the names of a selection; rename it");
    return true;
  });
  return names;
}

Result<std::vector<std::string>> FileList(std::string_view folder, std::span<const std::string_view> extensions,
                                          std::string_view what) {
  // The data folder is asked anew for each list.
  KV_TRY_ASSIGN(std::string path, GetApplicationPath());
  std::string files = path + "/" + std::string(folder);
  return NonEmpty(Selectable(platform::ListFileNames(files, extensions), std::string(what) + " in " + files));
}

Result<std::int32_t> Converted(const std::string& text, std::string_view setting) {
  auto value = TextToInt32(text);
  if (!value) return Fail(value.error(), "the setting " + std::string(setting));
  return *value;
}

}  // namespace

Result<CResources> CResources::Create() {
  CResources catalog;
  platform::Randomize();
  // The sibling's data object has nothing to hold on this platform; its
  // presence is probed where it matters (the data folder).
  constexpr std::string_view kQuotesExtension = ".txt";
  KV_TRY_ASSIGN(catalog.QuotesFileNames_,
                FileList(CStatics::FOLDERQUOTESFILES, {&kQuotesExtension, 1}, "the quotes file"));
  // Pictures of every format read; a name shared by several files is listed once.
  KV_TRY_ASSIGN(catalog.BackgroundNames_,
                FileList(CStatics::FOLDERBACKGROUNDS, platform::kPictureExtensions, "the picture"));
  return catalog;
}

Status CResources::Init(CSettings* NewSettings) {
  if (NewSettings == nullptr) return Fail(ErrorCode::InvalidArgument, "the catalog was given no settings object");
  settings_ = NewSettings;
  return Ok();
}

Result<const CSettings*> CResources::Bound() const {
  if (settings_ == nullptr) {
    return Fail(ErrorCode::InvalidArgument, "the catalog was used before Init bound it to the settings");
  }
  return settings_;
}

Result<std::int32_t> CResources::GetBackgroundColor() const {
  KV_TRY_ASSIGN(const CSettings* settings, Bound());
  return Converted(settings->BackgroundColor(), "BackgroundColor");
}

Result<std::int32_t> CResources::GetFontColor() const {
  KV_TRY_ASSIGN(const CSettings* settings, Bound());
  return Converted(settings->FontColor(), "FontColor");
}

Result<std::int32_t> CResources::GetFrequency() const {
  KV_TRY_ASSIGN(const CSettings* settings, Bound());
  return Converted(settings->Frequency(), "Frequency");
}

Result<std::int32_t> CResources::GetBackgroundMode() const {
  KV_TRY_ASSIGN(const CSettings* settings, Bound());
  return Converted(settings->BackgroundMode(), "BackgroundMode");
}

Result<std::int32_t> CResources::GetFontSize() const {
  KV_TRY_ASSIGN(const CSettings* settings, Bound());
  return Converted(settings->FontSize(), "FontSize");
}

Result<std::string> CResources::GetFontName() const {
  KV_TRY_ASSIGN(const CSettings* settings, Bound());
  std::vector<std::string> names;
  KV_TRY(settings->GetSelectedFonts(names));
  // The index is a 16-bit number; a selection too long for it fails rather
  // than wrapping to a wrong entry.
  double index = std::floor(platform::Rnd() * static_cast<double>(names.size()));
  if (index > 32767.0) {
    return Fail(ErrorCode::InvalidArgument, "the font selection holds more names (" + std::to_string(names.size()) +
                                                ") than a pick can reach (32768)");
  }
  return names[static_cast<size_t>(index)];
}

Result<std::string> CResources::GetBackground() const {
  KV_TRY_ASSIGN(const CSettings* settings, Bound());
  std::vector<std::string> names;
  KV_TRY(settings->GetSelectedBackgrounds(names));
  auto index = static_cast<size_t>(platform::Rnd() * static_cast<double>(names.size()));
  const std::string& name = names[index];
  if (name.empty()) return std::string();
  KV_TRY_ASSIGN(std::string folder, GetApplicationPath());
  return platform::ResolveListedFile(folder + "/" + std::string(CStatics::FOLDERBACKGROUNDS), name,
                                     platform::kPictureExtensions)
      .string();
}

Status CResources::GetAvailableFonts(std::vector<std::string>& FontNames) const {
  if (!FontNames_) FontNames_ = NonEmpty(Selectable(platform::ListFontFamilies(), "the font"));
  return CopyNameList(*FontNames_, FontNames);
}

Status CResources::GetAvailableBackgrounds(std::vector<std::string>& BackgroundNames) const {
  return CopyNameList(BackgroundNames_, BackgroundNames);
}

Status CResources::GetAvailableQuotesFiles(std::vector<std::string>& QuotesFileNames) const {
  return CopyNameList(QuotesFileNames_, QuotesFileNames);
}

}  // namespace kv
