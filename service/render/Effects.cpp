#include "Effects.h"

namespace kv::render {
namespace {

bool* Flag(Effects& effects, std::string_view name) {
  if (name == "Shadow") return &effects.Shadow;
  if (name == "Outline") return &effects.Outline;
  if (name == "Box") return &effects.Box;
  if (name == "Contrast") return &effects.Contrast;
  if (name == "Smooth") return &effects.Smooth;
  return nullptr;
}

}  // namespace

Effects EffectsFromNames(const std::vector<std::string>& Names) {
  Effects effects;
  for (const std::string& name : Names) {
    if (bool* flag = Flag(effects, name)) *flag = true;
  }
  return effects;
}

Result<Effects> ParseEffectList(std::string_view List) {
  Effects effects;
  while (!List.empty()) {
    std::size_t comma = List.find(',');
    std::string_view name = List.substr(0, comma);
    List = comma == std::string_view::npos ? std::string_view() : List.substr(comma + 1);
    if (name.empty()) continue;
    bool* flag = Flag(effects, name);
    if (flag == nullptr) {
      std::string known;
      for (std::string_view each : kEffectNames) known += (known.empty() ? "" : ", ") + std::string(each);
      return Fail(ErrorCode::InvalidArgument, "there is no effect \"" + std::string(name) + "\"; the effects are " +
                                                  known + ", separated by commas");
    }
    *flag = true;
  }
  return effects;
}

}  // namespace kv::render
