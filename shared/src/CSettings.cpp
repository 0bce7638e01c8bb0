#include "kvshared/CSettings.h"

#include <algorithm>
#include <optional>

#include "DeferredDefaults.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/store/Store.h"
#include "kvshared/CResources.h"
#include "kvshared/CStatics.h"
#include "kvshared/Funcs.h"

namespace kv {
namespace {

constexpr std::string_view kApp = CStatics::REGAPPLICATION;
constexpr std::string_view kSection = CStatics::REGSECTION;

std::string Flag(bool value) { return value ? "1" : "0"; }

Status SetList(std::vector<std::string>& field, const std::vector<std::string>& names, std::string_view what) {
  if (names.empty()) {
    return Fail(ErrorCode::InvalidArgument, "the " + std::string(what) + " list given has no elements; nothing was changed");
  }
  field = names;
  return Ok();
}

Status GetList(const std::vector<std::string>& field, std::vector<std::string>& names) { return CopyNameList(field, names); }

}  // namespace

void CSettings::UseQuotes(bool NewValue) { UseQuotes_ = Flag(NewValue), Edited("UseQuotes"); }
void CSettings::AllowViolation(bool NewValue) { AllowViolation_ = Flag(NewValue), Edited("AllowViolation"); }
void CSettings::FontColor(std::string_view NewColor) { FontColor_ = NewColor, Edited("FontColor"); }
void CSettings::VAlign(std::string_view NewAlign) { VAlign_ = NewAlign, Edited("VAlign"); }
void CSettings::HAlign(std::string_view NewAlign) { HAlign_ = NewAlign, Edited("HAlign"); }
void CSettings::TopMargin(std::string_view NewMargin) { TopMargin_ = NewMargin, Edited("TopMargin"); }
void CSettings::BottomMargin(std::string_view NewMargin) { BottomMargin_ = NewMargin, Edited("BottomMargin"); }
void CSettings::LeftMargin(std::string_view NewMargin) { LeftMargin_ = NewMargin, Edited("LeftMargin"); }
void CSettings::RightMargin(std::string_view NewMargin) { RightMargin_ = NewMargin, Edited("RightMargin"); }
void CSettings::Frequency(std::string_view NewFrequency) { Frequency_ = NewFrequency, Edited("Frequency"); }
void CSettings::BackgroundColor(std::string_view NewColor) { BackgroundColor_ = NewColor, Edited("BackgroundColor"); }
void CSettings::BackgroundMode(std::string_view NewMode) { BackgroundMode_ = NewMode, Edited("BackgroundMode"); }
void CSettings::FontSize(std::string_view NewSize) { FontSize_ = NewSize, Edited("FontSize"); }
void CSettings::QuoteMonitors(std::string_view NewValue) { QuoteMonitors_ = NewValue, Edited("QuoteMonitors"); }

Status CSettings::GetSelectedQuotesFiles(std::vector<std::string>& Names) const { return GetList(SelectedQuotesFiles_, Names); }
Status CSettings::GetSelectedFonts(std::vector<std::string>& Names) const { return GetList(SelectedFonts_, Names); }
Status CSettings::GetSelectedBackgrounds(std::vector<std::string>& Names) const { return GetList(SelectedBackgrounds_, Names); }

Status CSettings::GetSelectedEffects(std::vector<std::string>& Names) const { return GetList(SelectedEffects_, Names); }

Status CSettings::SetSelectedEffects(const std::vector<std::string>& Names) {
  KV_TRY(SetList(SelectedEffects_, Names, "effects"));
  Edited("SelectedEffects");
  return Ok();
}

Status CSettings::SetSelectedQuotesFiles(const std::vector<std::string>& Names) {
  KV_TRY(SetList(SelectedQuotesFiles_, Names, "quotes files"));
  Edited("SelectedQuotesFiles");
  return Ok();
}

Status CSettings::SetSelectedFonts(const std::vector<std::string>& Names) {
  KV_TRY(SetList(SelectedFonts_, Names, "fonts"));
  Edited("SelectedFonts");
  return Ok();
}

Status CSettings::SetSelectedBackgrounds(const std::vector<std::string>& Names) {
  KV_TRY(SetList(SelectedBackgrounds_, Names, "backgrounds"));
  Edited("SelectedBackgrounds");
  return Ok();
}

std::string CSettings::Read(std::string_view name, std::string_view defaultValue) {
  auto value = ReadRegistryValue(kApp, kSection, name, defaultValue);
  if (value) return std::move(*value);
  unreadable_.emplace(name);
  return std::string(defaultValue);
}

std::vector<std::string> CSettings::ReadList(std::string_view stem, std::string_view defaultValue) {
  auto list = ReadNameList(stem, defaultValue);
  if (list) return std::move(*list);
  unreadable_.emplace(stem);
  return {std::string(defaultValue)};
}

void CSettings::ReadEffects() {
  // Unlike the other lists, a missing list is not stored: a user who never
  // ticks an effect keeps exactly the store he had.
  SelectedEffects_.clear();
  effectsStored_ = false;
  for (std::size_t index = 0;; ++index) {
    auto value = QueryRegistryValue(kApp, kSection, "SelectedEffects" + std::to_string(index));
    if (!value) {
      unreadable_.emplace("SelectedEffects");
      break;
    }
    if (!*value || **value == "Not found") break;
    effectsStored_ = true;
    SelectedEffects_.push_back(std::move(**value));
  }
  if (SelectedEffects_.empty()) SelectedEffects_.emplace_back();
}

void CSettings::ReadQuoteMonitors() {
  // Like the effects, a missing value is not stored: a user who keeps the
  // quote on the primary monitor keeps exactly the store he had.
  QuoteMonitors_ = "primary";
  quoteMonitorsStored_ = false;
  auto value = QueryRegistryValue(kApp, kSection, "QuoteMonitors");
  if (!value) {
    unreadable_.emplace("QuoteMonitors");
    return;
  }
  if (!*value || **value == "Not found") return;
  quoteMonitorsStored_ = true;
  QuoteMonitors_ = std::move(**value);
}

Status CSettings::LoadValues() {
  unreadable_.clear();
  KV_TRY_ASSIGN(ApplicationPath_, GetApplicationPath());
  FontColor_ = Read("FontColor", "16777215");
  Frequency_ = Read("Frequency", "4");
  HAlign_ = Read("HAlign", "3");
  VAlign_ = Read("VAlign", "3");
  TopMargin_ = Read("TopMargin", "10");
  BottomMargin_ = Read("BottomMargin", "10");
  LeftMargin_ = Read("LeftMargin", "10");
  RightMargin_ = Read("RightMargin", "10");
  BackgroundColor_ = Read("BackgroundColor", "0");
  BackgroundMode_ = Read("BackgroundMode", "1");
  AllowViolation_ = Read("AllowViolation", "1");

  // Older versions stored the mode's name; the number reaches the store
  // with the next save.
  if (BackgroundMode_ == "Tile") {
    BackgroundMode_ = "0";
  } else if (BackgroundMode_ == "Stretch") {
    BackgroundMode_ = "1";
  } else if (BackgroundMode_ == "Center") {
    BackgroundMode_ = "2";
  }

  FontSize_ = Read("FontSize", "40");
  UseQuotes_ = IsLexoraInstalled() ? Read("UseQuotes", "1") : "0";
  Language_ = IsLexoraInstalled() ? ReadSiblingLanguage() : "100";

  SelectedFonts_ = ReadList("SelectedFonts", "Arial");
  SelectedBackgrounds_ = ReadList("SelectedBackgrounds", "");
  SelectedQuotesFiles_ = ReadList("SelectedQuotesFiles", "");
  ReadEffects();
  ReadQuoteMonitors();
  return Ok();
}

Status CSettings::RunFirstTimeSetup(CResources* Resources) {
  auto firstTime = ReadRegistryValue(kApp, kSection, "FirstTime", "0");
  // A store that cannot be read says nothing about a first run; the set-up
  // would otherwise overwrite the user's selection.
  if (!firstTime || *firstTime != "0") return Ok();
  if (Resources == nullptr) {
    return Fail(ErrorCode::InvalidArgument,
                "the first-run set-up needs the catalog of backgrounds, and none was given; it runs at the next load");
  }
  KV_TRY(Resources->GetAvailableBackgrounds(SelectedBackgrounds_));
  Edited("SelectedBackgrounds");
  // The selection and the mark that the set-up is done land together.
  KV_TRY_ASSIGN(platform::RegistryKey * key, OpenSettingsKey(kApp, kSection));
  KV_TRY_ASSIGN(platform::Transaction transaction, key->BeginTransaction());
  KV_TRY(SaveSettings());
  KV_TRY(WriteRegistryValue(kApp, kSection, "FirstTime", "1"));
  return transaction.Commit();
}

Status CSettings::LoadSettings(CResources* Resources) {
  // The whole load waits at most once for a store that another program
  // holds locked; after that every value falls back to its default at once.
  platform::StoreOperation operation;
  {
    // Every value is read from one snapshot, so a save by the other program
    // lands wholly before or wholly after this load and no list is ever
    // half old, half new. Reading never waits for a writer; the defaults
    // of missing values are stored afterwards, in one short write.
    DeferredDefaults deferred;
    auto key = OpenSettingsKey(kApp, kSection);
    std::optional<platform::Transaction> snapshot;
    if (key) {
      if (auto begun = (*key)->BeginRead()) snapshot.emplace(std::move(*begun));
    }
    KV_TRY(LoadValues());
    if (snapshot) (void)snapshot->Commit();
    if (auto flushed = deferred.Flush(); !flushed) {
      platform::LogErrorOnce("the defaults of missing settings could not be stored: " + flushed.error().message);
    }
  }
  return RunFirstTimeSetup(Resources);
}

Status CSettings::SaveSettings() {
  // Before a load every field is empty; saving that would wipe the store.
  if (SelectedFonts_.empty()) {
    return Fail(ErrorCode::InvalidArgument, "the settings were never loaded, so there is nothing to save");
  }
  platform::StoreOperation operation;
  KV_TRY_ASSIGN(platform::RegistryKey * key, OpenSettingsKey(kApp, kSection));
  KV_TRY_ASSIGN(platform::Transaction transaction, key->BeginTransaction());
  auto save = [&](std::string_view name, const std::string& value) -> Status {
    if (unreadable_.contains(std::string(name))) return Ok();
    return WriteRegistryValue(kApp, kSection, name, value);
  };
  auto saveList = [&](std::string_view stem, const std::vector<std::string>& names) -> Status {
    if (unreadable_.contains(std::string(stem))) return Ok();
    return WriteNameList(stem, names);
  };
  KV_TRY(save("FontColor", FontColor_));
  KV_TRY(save("Frequency", Frequency_));
  KV_TRY(save("TopMargin", TopMargin_));
  KV_TRY(save("HAlign", HAlign_));
  KV_TRY(save("VAlign", VAlign_));
  KV_TRY(save("BottomMargin", BottomMargin_));
  KV_TRY(save("LeftMargin", LeftMargin_));
  KV_TRY(save("RightMargin", RightMargin_));
  KV_TRY(save("UseQuotes", UseQuotes_));
  KV_TRY(save("AllowViolation", AllowViolation_));
  KV_TRY(save("BackgroundColor", BackgroundColor_));
  KV_TRY(save("BackgroundMode", BackgroundMode_));
  KV_TRY(save("FontSize", FontSize_));
  KV_TRY(saveList("SelectedFonts", SelectedFonts_));
  KV_TRY(saveList("SelectedBackgrounds", SelectedBackgrounds_));
  KV_TRY(saveList("SelectedQuotesFiles", SelectedQuotesFiles_));
  // An existing list is rewritten even when it now names nothing; a store
  // that never held one only gets it once something is ticked.
  bool anyEffect = std::any_of(SelectedEffects_.begin(), SelectedEffects_.end(),
                               [](const std::string& name) { return !name.empty(); });
  if (anyEffect || effectsStored_) {
    KV_TRY(saveList("SelectedEffects", SelectedEffects_));
    if (!unreadable_.contains("SelectedEffects")) effectsStored_ = true;
  }
  if (QuoteMonitors_ != "primary" || quoteMonitorsStored_) {
    KV_TRY(save("QuoteMonitors", QuoteMonitors_));
    if (!unreadable_.contains("QuoteMonitors")) quoteMonitorsStored_ = true;
  }
  return transaction.Commit();
}

}  // namespace kv
