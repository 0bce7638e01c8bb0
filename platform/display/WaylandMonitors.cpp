#include "WaylandMonitors.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "Json.h"
#include "OutputList.h"
#include "kvplatform/process/Command.h"
#include "kvplatform/base/Log.h"

namespace kv::platform {

namespace {

constexpr std::int64_t kMaxCoordinate = 1 << 30;

std::int64_t IntegerOr(const JsonValue* value, std::int64_t fallback) {
  if (!value) return fallback;
  return value->AsInteger(-kMaxCoordinate, kMaxCoordinate).value_or(fallback);
}

bool BoolOr(const JsonValue* value, bool fallback) {
  if (!value) return fallback;
  return value->AsBool().value_or(fallback);
}

std::string StringOr(const JsonValue* value) {
  if (!value) return {};
  return value->AsString().value_or(std::string());
}

Result<JsonValue> ParseList(std::string_view json, const std::string& source) {
  auto document = ParseJson(json);
  if (!document || !document->IsArray()) return Fail(ErrorCode::Corrupt, source + " did not answer a JSON list");
  return std::move(*document);
}

Result<std::vector<Monitor>> Ask(const std::vector<std::string>& args, const std::string& tool,
                                 std::chrono::milliseconds timeout,
                                 Result<std::vector<Monitor>> (*parse)(std::string_view)) {
  std::string command;
  for (const auto& arg : args) command += (command.empty() ? "" : " ") + arg;
  auto outcome = RunCommand(args, timeout);
  if (!outcome) return Fail(outcome.error(), "cannot ask " + tool + " for its outputs");
  if (outcome->timedOut) {
    return Fail(ErrorCode::Busy, tool + " did not answer `" + command + "` within " +
                                     std::to_string(timeout.count() / 1000) + " s");
  }
  if (!outcome->Succeeded()) return Fail("`" + command + "` failed: " + outcome->Describe());
  return parse(outcome->out);
}

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

}  // namespace

Result<std::vector<Monitor>> ParseSwayOutputs(std::string_view json) {
  const std::string source = "swaymsg -t get_outputs";
  KV_TRY_ASSIGN(JsonValue list, ParseList(json, source));
  std::vector<OutputFacts> outputs;
  for (const JsonValue& entry : list.Elements()) {
    if (!entry.IsObject() || !BoolOr(entry.Member("active"), true)) continue;
    OutputFacts output;
    output.name = StringOr(entry.Member("name"));
    output.primary = BoolOr(entry.Member("focused"), false);
    const JsonValue* rect = entry.Member("rect");
    if (!rect || !rect->IsObject()) continue;
    output.x = IntegerOr(rect->Member("x"), kMaxCoordinate);
    output.y = IntegerOr(rect->Member("y"), kMaxCoordinate);
    const std::string transform = StringOr(entry.Member("transform"));
    output.turned = transform.ends_with("90") || transform.ends_with("270");
    if (const JsonValue* mode = entry.Member("current_mode"); mode && mode->IsObject()) {
      output.width = IntegerOr(mode->Member("width"), 0);
      output.height = IntegerOr(mode->Member("height"), 0);
    } else {
      // Without a mode only the logical size is told: scaled back to pixels,
      // it is already turned.
      double scale = 1;
      if (const JsonValue* value = entry.Member("scale")) scale = value->AsNumber().value_or(1);
      if (!(scale > 0 && scale <= 16)) scale = 1;
      output.width = std::llround(static_cast<double>(IntegerOr(rect->Member("width"), 0)) * scale);
      output.height = std::llround(static_cast<double>(IntegerOr(rect->Member("height"), 0)) * scale);
      output.turned = false;
    }
    outputs.push_back(std::move(output));
  }
  return MonitorsFrom(std::move(outputs), source);
}

Result<std::vector<Monitor>> ParseHyprlandMonitors(std::string_view json) {
  const std::string source = "hyprctl monitors -j";
  KV_TRY_ASSIGN(JsonValue list, ParseList(json, source));
  std::vector<OutputFacts> outputs;
  for (const JsonValue& entry : list.Elements()) {
    if (!entry.IsObject() || BoolOr(entry.Member("disabled"), false)) continue;
    OutputFacts output;
    output.name = StringOr(entry.Member("name"));
    output.primary = BoolOr(entry.Member("focused"), false);
    output.x = IntegerOr(entry.Member("x"), kMaxCoordinate);
    output.y = IntegerOr(entry.Member("y"), kMaxCoordinate);
    output.width = IntegerOr(entry.Member("width"), 0);
    output.height = IntegerOr(entry.Member("height"), 0);
    // Transforms 1, 3, 5 and 7 are the quarter turns, mirrored or not.
    output.turned = IntegerOr(entry.Member("transform"), 0) % 2 != 0;
    outputs.push_back(std::move(output));
  }
  return MonitorsFrom(std::move(outputs), source);
}

Result<std::vector<Monitor>> QuerySwayOutputs(std::chrono::milliseconds timeout) {
  return Ask({"swaymsg", "-t", "get_outputs", "-r"}, "sway", timeout, ParseSwayOutputs);
}

Result<std::vector<Monitor>> QueryHyprlandMonitors(std::chrono::milliseconds timeout) {
  return Ask({"hyprctl", "monitors", "-j"}, "Hyprland", timeout, ParseHyprlandMonitors);
}

std::optional<std::vector<Monitor>> QueryWaylandMonitors() {
  // The compositor's own tool knows its outputs best; the protocol is asked
  // when there is no tool, or it failed. A compositor that does not answer
  // its tool will not answer the protocol either, so a timeout ends the
  // search at once rather than waiting twice.
  Result<std::vector<Monitor>> monitors = Fail(ErrorCode::NotFound, "no compositor asked");
  if (IsSet("HYPRLAND_INSTANCE_SIGNATURE")) monitors = QueryHyprlandMonitors(kWaylandQueryTimeout);
  if (!monitors && monitors.error().code != ErrorCode::Busy && IsSet("SWAYSOCK")) {
    monitors = QuerySwayOutputs(kWaylandQueryTimeout);
  }
  if (!monitors && monitors.error().code != ErrorCode::Busy) monitors = QueryWlOutputs(kWaylandQueryTimeout);
  if (!monitors) {
    LogErrorOnce("the monitors of the Wayland session are not known: " + monitors.error().message);
    return std::nullopt;
  }
  return std::move(*monitors);
}

}  // namespace kv::platform
