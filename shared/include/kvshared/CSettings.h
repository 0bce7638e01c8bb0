#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "kvplatform/base/Result.h"
#include "kvshared/Export.h"

namespace kv {

class CResources;

// The user's settings in memory, loaded all at once from the settings key
// and saved all at once. Every setting is text, also numbers and flags; the
// class checks no ranges or formats.
class KV_EXPORT CSettings {
 public:
  CSettings() = default;
  CSettings(const CSettings&) = delete;
  CSettings& operator=(const CSettings&) = delete;

  const std::string& Language() const { return Language_; }
  bool UseQuotes() const { return UseQuotes_ == "1"; }
  void UseQuotes(bool NewValue);
  bool AllowViolation() const { return AllowViolation_ == "1"; }
  void AllowViolation(bool NewValue);
  const std::string& ApplicationPath() const { return ApplicationPath_; }

  const std::string& FontColor() const { return FontColor_; }
  void FontColor(std::string_view NewColor);
  const std::string& VAlign() const { return VAlign_; }
  void VAlign(std::string_view NewAlign);
  const std::string& HAlign() const { return HAlign_; }
  void HAlign(std::string_view NewAlign);
  const std::string& TopMargin() const { return TopMargin_; }
  void TopMargin(std::string_view NewMargin);
  const std::string& BottomMargin() const { return BottomMargin_; }
  void BottomMargin(std::string_view NewMargin);
  const std::string& LeftMargin() const { return LeftMargin_; }
  void LeftMargin(std::string_view NewMargin);
  const std::string& RightMargin() const { return RightMargin_; }
  void RightMargin(std::string_view NewMargin);
  const std::string& Frequency() const { return Frequency_; }
  void Frequency(std::string_view NewFrequency);
  const std::string& BackgroundColor() const { return BackgroundColor_; }
  void BackgroundColor(std::string_view NewColor);
  const std::string& BackgroundMode() const { return BackgroundMode_; }
  void BackgroundMode(std::string_view NewMode);
  const std::string& FontSize() const { return FontSize_; }
  void FontSize(std::string_view NewSize);

  // Writes every setting in one store transaction, so another program
  // saving at the same moment can never interleave its lists with these.
  // Settings that could not be read from the store at load time, and have
  // not been set since, are left as the store holds them.
  [[nodiscard]] Status SaveSettings();

  // Loads every setting, storing the default of each missing one. On the
  // first run it selects every available background (through `Resources`,
  // which must then not be null), saves, and marks the first run done.
  [[nodiscard]] Status LoadSettings(CResources* Resources);

  [[nodiscard]] Status GetSelectedQuotesFiles(std::vector<std::string>& Names) const;
  [[nodiscard]] Status SetSelectedQuotesFiles(const std::vector<std::string>& Names);
  [[nodiscard]] Status GetSelectedFonts(std::vector<std::string>& Names) const;
  [[nodiscard]] Status SetSelectedFonts(const std::vector<std::string>& Names);
  [[nodiscard]] Status GetSelectedBackgrounds(std::vector<std::string>& Names) const;
  [[nodiscard]] Status SetSelectedBackgrounds(const std::vector<std::string>& Names);
  // The ticked effects by their stable names ("Shadow", "Box", ...); one
  // empty name when none is ticked. A store without the list reads as none
  // and is left without it until effects are ticked; names this version does
  // not know are kept and saved unchanged.
  [[nodiscard]] Status GetSelectedEffects(std::vector<std::string>& Names) const;
  [[nodiscard]] Status SetSelectedEffects(const std::vector<std::string>& Names);

  // Where the quote goes on a screen of several monitors: "primary" (the
  // default: the primary monitor, the others show a background alone) or
  // "each" (every monitor its own quote). A store without the value reads
  // as "primary" and is left without it while the value stays "primary";
  // any other text is kept and saved unchanged.
  const std::string& QuoteMonitors() const { return QuoteMonitors_; }
  void QuoteMonitors(std::string_view NewValue);

  // The store's names of the settings that the last load could not read
  // (their defaults are shown instead); empty when the store answered.
  const std::set<std::string>& UnreadableSettings() const { return unreadable_; }

 private:
  [[nodiscard]] Status LoadValues();
  [[nodiscard]] Status RunFirstTimeSetup(CResources* Resources);
  std::string Read(std::string_view name, std::string_view defaultValue);
  std::vector<std::string> ReadList(std::string_view stem, std::string_view defaultValue);
  void ReadEffects();
  void ReadQuoteMonitors();
  void Edited(std::string_view name) { unreadable_.erase(std::string(name)); }

  std::vector<std::string> SelectedFonts_;
  std::vector<std::string> SelectedBackgrounds_;
  std::vector<std::string> SelectedQuotesFiles_;
  std::vector<std::string> SelectedEffects_;
  bool effectsStored_ = false;  // the store held an effects list at load
  std::string QuoteMonitors_ = "primary";
  bool quoteMonitorsStored_ = false;  // the store held QuoteMonitors at load
  std::string HAlign_;
  std::string VAlign_;
  std::string TopMargin_;
  std::string BottomMargin_;
  std::string LeftMargin_;
  std::string RightMargin_;
  std::string Frequency_;
  std::string Language_;
  std::string FontColor_;
  std::string FontSize_;
  std::string BackgroundColor_;
  std::string BackgroundMode_;
  std::string ApplicationPath_;
  std::string UseQuotes_;
  std::string AllowViolation_;
  std::set<std::string> unreadable_;
};

}  // namespace kv
