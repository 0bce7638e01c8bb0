#pragma once

// One update cycle: the status gate, then up to 51 render attempts with
// fresh random choices, and the failure path when none fits.

#include <cstdint>
#include <functional>
#include <string>

#include "ReadSettings.h"
#include "kvplatform/base/Result.h"

namespace kv::service {

// The fifteen values one attempt hands to the renderer, and the effects.
struct RenderArguments {
  std::string BackgroundName;
  std::int32_t BackgroundColor = 0;
  std::int32_t BackgroundMode = 0;
  std::string FontName;
  std::int32_t FontSize = 0;
  std::int32_t FontColor = 0;
  std::string Quote;
  std::string OutputPath;
  std::int32_t TopMargin = 0;
  std::int32_t BottomMargin = 0;
  std::int32_t LeftMargin = 0;
  std::int32_t RightMargin = 0;
  std::int32_t HAlign = 0;
  std::int32_t VAlign = 0;
  bool AllowViolation = true;
  render::Effects Effects;
  // Where the choices came from, for the picks of further monitors; null
  // for arguments made by hand (the other monitors then show the same
  // background alone). Lives through the update cycle that drew them.
  const SettingsSnapshot* Snapshot = nullptr;
};

// 1 when the wallpaper was produced and published, 0 when the text did not
// fit; an error for anything else.
using RenderFunction = std::function<Result<std::int32_t>(const RenderArguments&)>;

// What the cycle's caller does next.
enum class CycleOutcome {
  Rendered,    // a wallpaper was published
  Skipped,     // paused: stay resident
  Failed,      // an error other than "does not fit": reported, stay resident
  EndProgram,  // end at once, without the close handler
  SessionEnded,  // the X session ended (log-off): end as a close request would
};

inline constexpr int kAttemptLimit = 51;

// The stored values that name what the last wallpaper shows.
inline constexpr std::string_view kLastQuoteKey = "LastQuote";
inline constexpr std::string_view kLastBackgroundKey = "LastBackground";
inline constexpr std::string_view kLastFontKey = "LastFont";
inline constexpr std::string_view kFailureTitle = "Kvillo";
inline constexpr std::string_view kFailureMessage =
    "Kvillo is not able to render a new wallpaper using the current settings. Please adjust your settings and "
    "restart Kvillo.";

// One attempt's random choices from the snapshot.
RenderArguments DrawChoices(const SettingsSnapshot& snapshot);

// The real renderer.
Result<std::int32_t> RenderWithRenderer(const RenderArguments& arguments);

// Tells the user, starts the settings program from this program's folder.
void GiveUp();

// How the cycle learns whether to render.
enum class StatusGate {
  Read,          // the stored status decides
  AssumeRunning  // the service could not store its own "Running" yet, so
                 // the stored status does not speak for it
};

// Runs one cycle. `render` and `giveUp` default to the real renderer and
// failure path; tests pass their own.
CycleOutcome UpdateWallpaper(const SettingsSnapshot& snapshot, const RenderFunction& render = RenderWithRenderer,
                             const std::function<void()>& giveUp = GiveUp, StatusGate gate = StatusGate::Read);

}  // namespace kv::service
