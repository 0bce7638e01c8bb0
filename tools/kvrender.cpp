// kvrender: renders one wallpaper with the service's own renderer, so that
// a user can preview a setting and scripts can make a wallpaper on demand.
//
//   kvrender [--background NAME] [--background-color N] [--mode N]
//            [--font NAME] [--size N] [--font-color N] [--quote TEXT]
//            [--output PATH] [--top N] [--bottom N] [--left N] [--right N]
//            [--halign N] [--valign N] [--allow-violation 0|1]
//            [--effects NAME,NAME,...]
//
// Exit status: 0 the wallpaper was written (its path is printed), 1 the
// quote does not fit (nothing was written), 2 bad usage, 3 any other
// failure (its message is printed).

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvplatform/base/Log.h"
#include "kvplatform/base/Paths.h"
#include "kvplatform/base/Text.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"
#include "kvshared/CStatics.h"
#include "kvshared/Convert.h"
#include "kvshared/Enums.h"
#include "kvshared/Funcs.h"
#include "QuoteSelection.h"
#include "ReadSettings.h"
#include "render/RenderWallpaper.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitDoesNotFit = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 3;

// The quote when the data folder has no quotes file to take one from.
constexpr std::string_view kSampleQuote = "A quiet hour is worth more than a loud day.";

constexpr std::string_view kUsage =
    "usage: kvrender [--background NAME] [--background-color N] [--mode N]\n"
    "                [--font NAME] [--size N] [--font-color N] [--quote TEXT]\n"
    "                [--output PATH] [--top N] [--bottom N] [--left N] [--right N]\n"
    "                [--halign N] [--valign N] [--allow-violation 0|1]\n"
    "                [--effects NAME,NAME,...]\n"
    "Renders one wallpaper as the service would and makes it the desktop wallpaper.\n"
    "Options not given take the stored settings: the first selected background and font,\n"
    "the first line of the first quotes file; a random alignment previews as centre (2)\n"
    "and a random margin (outside 0..100) as 10. Colours are decimal 0x00BBGGRR values;\n"
    "--mode is 0 tile, 1 stretch, 2 centre; --halign 0 left, 1 right, 2 centre;\n"
    "--valign 0 top, 1 bottom, 2 centre. --effects names the effects to draw, from\n"
    "Shadow, Outline, Box, Contrast and Smooth (\"\" for none). The wallpaper is written to --output, by\n"
    "default the Kvillo.bmp the service writes, and its path is printed.\n"
    "Exit status: 0 written, 1 the quote does not fit, 2 bad usage, 3 failure.\n";

struct Options {
  std::optional<std::string> background, font, quote, output;
  std::optional<std::int32_t> backgroundColor, mode, size, fontColor, top, bottom, left, right, halign, valign;
  std::optional<bool> allowViolation;
  std::optional<kv::render::Effects> effects;
  bool help = false;

  bool AllGiven() const {
    return background && font && quote && output && backgroundColor && mode && size && fontColor && top && bottom &&
           left && right && halign && valign && allowViolation && effects;
  }
};

kv::Result<std::int32_t> Number(std::string_view option, const std::string& value) {
  auto parsed = kv::TextToInt32(value);
  if (!parsed) return kv::Fail("--" + std::string(option) + " needs a whole number, not \"" + value + "\"");
  return *parsed;
}

kv::Result<std::int32_t> InRange(std::string_view option, const std::string& value, std::int32_t low,
                                 std::int32_t high) {
  KV_TRY_ASSIGN(std::int32_t number, Number(option, value));
  if (number < low || number > high) {
    return kv::Fail("--" + std::string(option) + " must be from " + std::to_string(low) + " to " +
                    std::to_string(high) + ", not " + value);
  }
  return number;
}

// Sets one option from its text; fails with what is wrong with it.
kv::Status SetOption(Options& options, std::string_view name, const std::string& value) {
  auto number = [&](std::optional<std::int32_t>& field) -> kv::Status {
    KV_TRY_ASSIGN(field, Number(name, value));
    return kv::Ok();
  };
  auto ranged = [&](std::optional<std::int32_t>& field, std::int32_t low, std::int32_t high) -> kv::Status {
    KV_TRY_ASSIGN(field, InRange(name, value, low, high));
    return kv::Ok();
  };
  auto text = [&](std::optional<std::string>& field) -> kv::Status {
    field = value;
    return kv::Ok();
  };
  if (name == "background") return text(options.background);
  if (name == "font") return text(options.font);
  if (name == "quote") return text(options.quote);
  if (name == "output") return text(options.output);
  if (name == "background-color") return number(options.backgroundColor);
  if (name == "size") return number(options.size);
  if (name == "font-color") return number(options.fontColor);
  if (name == "top") return number(options.top);
  if (name == "bottom") return number(options.bottom);
  if (name == "left") return number(options.left);
  if (name == "right") return number(options.right);
  if (name == "mode") return ranged(options.mode, 0, 2);
  if (name == "halign") return ranged(options.halign, 0, 3);
  if (name == "valign") return ranged(options.valign, 0, 3);
  if (name == "effects") {
    KV_TRY_ASSIGN(options.effects, kv::render::ParseEffectList(value));
    return kv::Ok();
  }
  if (name == "allow-violation") {
    if (value != "0" && value != "1") return kv::Fail("--allow-violation must be 0 or 1, not \"" + value + "\"");
    options.allowViolation = value == "1";
    return kv::Ok();
  }
  return kv::Fail("unknown option --" + std::string(name));
}

kv::Result<Options> Parse(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      continue;
    }
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) return kv::Fail("unexpected argument \"" + arg + "\"");
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (auto equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.erase(equals);
    }
    if (!value) {
      if (i + 1 >= args.size()) return kv::Fail("--" + name + " needs a value");
      value = args[++i];
    }
    KV_TRY(SetOption(options, name, *value));
  }
  return options;
}

// Random settings preview as fixed values, so that a preview is the same
// every time.
std::int32_t PreviewMargin(std::int32_t margin) { return margin >= 0 && margin <= 100 ? margin : 10; }
std::int32_t PreviewAlign(std::int32_t align) { return align >= 0 && align <= 2 ? align : kv::kvphaCenter; }

int Render(Options options) {
  using kv::service::SettingNumber;
  kv::SettingsOperation operation;  // a locked store costs one wait, not one per value
  if (!options.AllGiven()) {
    // Loading performs the first-run set-up of a newcomer, as the service's
    // start does.
    auto catalog = kv::CResources::Create();
    if (!catalog) {
      kv::platform::LogError(catalog.error().message);
      return kExitFailed;
    }
    kv::CSettings settings;
    if (auto loaded = settings.LoadSettings(&*catalog); !loaded) {
      kv::platform::LogError(loaded.error().message);
      return kExitFailed;
    }
    if (auto bound = catalog->Init(&settings); !bound) {
      kv::platform::LogError(bound.error().message);
      return kExitFailed;
    }
    std::vector<std::string> names;
    if (!options.background) {
      options.background = settings.GetSelectedBackgrounds(names) && !names.empty() ? names[0] : std::string();
    }
    if (!options.font) options.font = settings.GetSelectedFonts(names) && !names.empty() ? names[0] : std::string();
    if (!options.quote) {
      std::string line;
      if (catalog->GetAvailableQuotesFiles(names) && !names.empty() && !names[0].empty()) {
        if (auto folder = kv::Statics().GetApplicationPath()) {
          line = kv::service::FirstQuote(kv::service::QuotesFilePath(*folder, names[0]));
        }
      }
      options.quote = line.empty() ? std::string(kSampleQuote) : line;
    }
    if (!options.backgroundColor) {
      options.backgroundColor = SettingNumber("BackgroundColor", settings.BackgroundColor(), 0);
    }
    if (!options.mode) options.mode = SettingNumber("BackgroundMode", settings.BackgroundMode(), kv::bgmStretch);
    if (!options.size) options.size = SettingNumber("FontSize", settings.FontSize(), 40);
    if (!options.fontColor) options.fontColor = SettingNumber("FontColor", settings.FontColor(), 16777215);
    if (!options.top) options.top = SettingNumber("TopMargin", settings.TopMargin(), 10);
    if (!options.bottom) options.bottom = SettingNumber("BottomMargin", settings.BottomMargin(), 10);
    if (!options.left) options.left = SettingNumber("LeftMargin", settings.LeftMargin(), 10);
    if (!options.right) options.right = SettingNumber("RightMargin", settings.RightMargin(), 10);
    if (!options.halign) options.halign = SettingNumber("HAlign", settings.HAlign(), kv::kvphaCenter);
    if (!options.valign) options.valign = SettingNumber("VAlign", settings.VAlign(), kv::kvpvaCenter);
    if (!options.allowViolation) options.allowViolation = settings.AllowViolation();
    if (!options.effects) {
      options.effects = settings.GetSelectedEffects(names) ? kv::render::EffectsFromNames(names) : kv::render::Effects{};
    }
    if (!options.output) {
      auto folder = kv::platform::WindowsDirectory();
      if (!folder) {
        kv::platform::LogError(folder.error().message);
        return kExitFailed;
      }
      options.output = (*folder / "Kvillo.bmp").string();
    }
  }

  auto result = kv::render::RenderWallpaper(
      *options.background, *options.backgroundColor, *options.mode, *options.font, *options.size, *options.fontColor,
      *options.quote, *options.output, PreviewMargin(*options.top), PreviewMargin(*options.bottom),
      PreviewMargin(*options.left), PreviewMargin(*options.right), PreviewAlign(*options.halign),
      PreviewAlign(*options.valign), *options.allowViolation, *options.effects);
  if (!result) {
    kv::platform::LogError(result.error().message);
    return kExitFailed;
  }
  if (*result == 0) {
    kv::platform::LogError("the quote does not fit on the screen with these settings (font \"" + *options.font +
                           "\" at " + std::to_string(*options.size) +
                           " pixels); nothing was written. Try a smaller size, smaller margins or a shorter quote");
    return kExitDoesNotFit;
  }
  std::cout << *options.output << '\n';
  return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  kv::platform::SetLogProgramName("kvrender");
  auto options = Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (!options) {
    kv::platform::LogError(options.error().message);
    std::fputs(kUsage.data(), stderr);
    return kExitUsage;
  }
  if (options->help) {
    std::fputs(kUsage.data(), stdout);
    return kExitDone;
  }
  return Render(std::move(*options));
}
