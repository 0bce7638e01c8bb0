#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kvplatform/base/Result.h"
#include "kvshared/Export.h"

namespace kv {

class CSettings;

// The catalog of what a wallpaper can be made of on this machine: the
// installed fonts and the background pictures and quotes files of the data
// folder, listed once at creation. Bound to a settings object it also makes
// the random picks of a wallpaper and converts the numeric settings.
class KV_EXPORT CResources {
 public:
  // Lists the fonts and the data folder's files. Fails when the data folder
  // cannot be found (the sibling application is half installed).
  [[nodiscard]] static Result<CResources> Create();

  // Binds the catalog to `NewSettings`, replacing an earlier binding.
  [[nodiscard]] Status Init(CSettings* NewSettings);

  [[nodiscard]] Result<std::int32_t> GetBackgroundColor() const;
  [[nodiscard]] Result<std::int32_t> GetFontColor() const;
  [[nodiscard]] Result<std::int32_t> GetFrequency() const;
  [[nodiscard]] Result<std::int32_t> GetBackgroundMode() const;
  // A random name of the font selection (an empty name stays empty).
  [[nodiscard]] Result<std::string> GetFontName() const;
  [[nodiscard]] Result<std::int32_t> GetFontSize() const;
  // The full path of a random picture of the background selection, or "".
  [[nodiscard]] Result<std::string> GetBackground() const;

  [[nodiscard]] Status GetAvailableFonts(std::vector<std::string>& FontNames) const;
  [[nodiscard]] Status GetAvailableBackgrounds(std::vector<std::string>& BackgroundNames) const;
  [[nodiscard]] Status GetAvailableQuotesFiles(std::vector<std::string>& QuotesFileNames) const;

 private:
  CResources() = default;
  [[nodiscard]] Result<const CSettings*> Bound() const;

  CSettings* settings_ = nullptr;
  std::vector<std::string> QuotesFileNames_;
  // Listed at the first question: listing every installed family costs the
  // font configuration's whole load, which a caller that never asks skips.
  mutable std::optional<std::vector<std::string>> FontNames_;
  std::vector<std::string> BackgroundNames_;
};

}  // namespace kv
