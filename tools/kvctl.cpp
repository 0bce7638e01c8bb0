// kvctl: controls the Kvillo service from a terminal or a menu's action.
//
//   kvctl next | pause | resume | stop | start | status [--json]
//
// Exit status: 0 done, 1 not possible now (no service to pause, one already
// running, a paused service asked for a wallpaper), 2 bad usage, 3 failure
// (its message is printed).

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ReadSettings.h"
#include "UpdateWallpaper.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/process/Process.h"
#include "kvplatform/base/Random.h"
#include "kvplatform/base/Text.h"
#include "kvshared/CStatics.h"
#include "kvshared/ServiceControl.h"

namespace kv::control {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitNotNow = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 3;

// A render now runs a whole update cycle of up to 51 attempts; only a
// service that hangs takes this long.
constexpr std::chrono::seconds kRenderTimeout{300};
// The service answers the time of its next update at once, unless it is
// busy rendering.
constexpr std::chrono::seconds kQueryTimeout{10};

constexpr std::string_view kUsage =
    "usage: kvctl next | pause | resume | stop | start | status [--json]\n"
    "Controls Kvillo, the quote wallpaper service:\n"
    "  next    a new wallpaper now (without a running service, renders one itself)\n"
    "  pause   the service keeps running but renews nothing until resumed\n"
    "  resume  the service renews the wallpaper on its schedule again\n"
    "  stop    ends the service\n"
    "  start   starts the service\n"
    "  status  the service's state, its next update and the last wallpaper's\n"
    "          quote, picture and font; --json prints them as one JSON object\n"
    "Exit status: 0 done, 1 not possible now, 2 bad usage, 3 failure.\n";

int NotNow(const std::string& message) {
  platform::LogError(message);
  return kExitNotNow;
}

int Failed(const std::string& message) {
  platform::LogError(message);
  return kExitFailed;
}

bool ServiceRuns() { return ProbeService() != ServicePresence::Absent; }

std::string Stored(std::string_view name) {
  auto value = Statics().GetRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION, name, "");
  return value.value_or("");
}

// One update cycle in this process, as the log-on run makes it: the stored
// settings, the service's attempts and its failure path.
int RenderHere() {
  auto settings = service::ReadSettings();
  if (!settings) return Failed(settings.error().message);
  platform::Randomize();
  switch (service::UpdateWallpaper(*settings, service::RenderWithRenderer, service::GiveUp,
                                   service::StatusGate::AssumeRunning)) {
    case service::CycleOutcome::Rendered: return kExitDone;
    case service::CycleOutcome::Skipped: return NotNow("Kvillo is paused; resume it with \"kvctl resume\"");
    case service::CycleOutcome::Failed: break;  // the reason is printed already
    case service::CycleOutcome::EndProgram: return Failed("no quote fits with the current settings");
    case service::CycleOutcome::SessionEnded: return Failed("the display went away during the render");
  }
  return kExitFailed;
}

int Next() {
  if (!ServiceRuns()) return RenderHere();
  auto answer = AskService(kRenderRequest, kRenderTimeout);
  if (!answer) {
    // It ended between the look and the request: render here after all.
    if (answer.error().code == ErrorCode::NotFound) return RenderHere();
    return Failed("no new wallpaper: " + answer.error().message);
  }
  if (*answer == kRenderedAnswer) return kExitDone;
  if (*answer == kPausedAnswer) return NotNow("Kvillo is paused; resume it with \"kvctl resume\"");
  if (*answer == kFailedAnswer) return Failed("Kvillo could not render a new wallpaper; its message says why");
  if (*answer == kEndedAnswer) return Failed("Kvillo rendered no wallpaper and ended: no quote fits with the current settings, or it was stopped");
  return Failed("the service gave an unknown answer: " + *answer);
}

int SetStatus(std::string_view status) {
  if (!ServiceRuns()) return NotNow("Kvillo is not running; start it with \"kvctl start\"");
  if (auto written = SaveServiceStatus(status); !written) return Failed(written.error().message);
  return kExitDone;
}

int Stop() {
  if (!ServiceRuns()) return NotNow("Kvillo is not running");
  if (auto closed = CloseService(); !closed) {
    if (closed.error().code == ErrorCode::NotFound) return NotNow("Kvillo is not running");
    return Failed("Kvillo did not stop: " + closed.error().message);
  }
  return kExitDone;
}

int Start() {
  if (ServiceRuns()) return NotNow("Kvillo is already running");
  if (auto started = StartService(); !started) return Failed("Kvillo could not be started: " + started.error().message);
  return kExitDone;
}

// A JSON string: valid UTF-8 whatever the stored bytes, with quotes,
// backslashes and control characters escaped.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char32_t code : platform::DecodeText(text)) {
    if (code == U'"' || code == U'\\') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (code < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
      out += escaped;
    } else {
      platform::AppendUtf8(out, code);
    }
  }
  return out + "\"";
}

std::string JsonValue(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

int PrintStatus(bool json) {
  ServicePresence presence = ProbeService();
  std::string state = "Stopped";
  std::string nextUpdate;
  if (presence != ServicePresence::Absent) {
    state = Stored(CStatics::STATUSCODEKEY) == CStatics::STATUSPAUSED ? "Paused" : "Running";
    // A busy service may not answer in time; the rest of the report stands.
    if (auto next = AskService(kNextUpdateRequest, kQueryTimeout)) nextUpdate = *next;
  }
  std::string quote = Stored(service::kLastQuoteKey);
  std::string background = Stored(service::kLastBackgroundKey);
  std::string font = Stored(service::kLastFontKey);
  std::string out;
  if (json) {
    out = "{\"state\": " + JsonString(state) + ", \"nextUpdate\": " + JsonValue(nextUpdate) +
          ", \"quote\": " + JsonValue(quote) + ", \"background\": " + JsonValue(background) +
          ", \"font\": " + JsonValue(font) + "}\n";
  } else {
    auto shown = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    std::string when = nextUpdate;
    if (when.size() > 10 && when[10] == 'T') when[10] = ' ';
    out = "State: " + state + "\nNext update: " + shown(when) + "\nQuote: " + shown(quote) +
          "\nPicture: " + shown(background) + "\nFont: " + shown(font) + "\n";
  }
  std::fputs(out.c_str(), stdout);
  return std::fflush(stdout) == 0 ? kExitDone : kExitFailed;
}

int Usage(const std::string& problem) {
  platform::LogError(problem);
  std::fputs(kUsage.data(), stderr);
  return kExitUsage;
}

int Main(int argc, char** argv) {
  platform::SetLogProgramName("kvctl");
  platform::IgnoreBrokenPipes();
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage.data(), stdout);
    return kExitDone;
  }
  if (args.empty()) return Usage("a command is missing");
  std::string_view command = args[0];
  if (command == "status") {
    if (args.size() == 1) return PrintStatus(false);
    if (args.size() == 2 && args[1] == "--json") return PrintStatus(true);
    return Usage("status takes only --json");
  }
  if (args.size() > 1) return Usage(std::string(command) + " takes no arguments");
  if (command == "next") return Next();
  if (command == "pause") return SetStatus(CStatics::STATUSPAUSED);
  if (command == "resume") return SetStatus(CStatics::STATUSRUNNING);
  if (command == "stop") return Stop();
  if (command == "start") return Start();
  return Usage("unknown command \"" + std::string(command) + "\"");
}

}  // namespace
}  // namespace kv::control

int main(int argc, char** argv) { return kv::control::Main(argc, argv); }
