#include "ComposeInChild.h"

#include <chrono>
#include <cstdint>

#include "kvplatform/base/Log.h"
#include "kvplatform/process/ChildWork.h"
#include "kvplatform/process/Module.h"
#include "render/ComposeModule.h"

namespace kv::service {
namespace {

// Far beyond the slowest render of the largest wallpaper; only a fault
// (a loop that never ends) reaches it.
constexpr std::chrono::minutes kComposeLimit{5};

// What the child answers: a count (-1 when the quote did not fit), then for
// each bitmap its width, its height and its pixel rows as they lie in memory.
Status SendParts(platform::ChildOutput& out, const std::optional<std::vector<platform::Bitmap>>& parts) {
  std::int32_t count = parts ? static_cast<std::int32_t>(parts->size()) : -1;
  KV_TRY(out.Write(&count, sizeof count));
  if (!parts) return Ok();
  for (const platform::Bitmap& part : *parts) {
    const std::int32_t size[2] = {part.Width(), part.Height()};
    KV_TRY(out.Write(size, sizeof size));
    KV_TRY(out.Write(part.Pixels(), part.PixelBytes()));
  }
  return Ok();
}

Result<std::optional<std::vector<platform::Bitmap>>> ReceiveParts(platform::ChildInput& in, std::size_t monitors) {
  std::int32_t count = 0;
  KV_TRY(in.Read(&count, sizeof count));
  if (count < 0) return std::optional<std::vector<platform::Bitmap>>();
  if (static_cast<std::size_t>(count) != monitors) return Fail("the renderer answered for the wrong number of monitors");
  std::vector<platform::Bitmap> parts;
  for (std::int32_t i = 0; i < count; ++i) {
    std::int32_t size[2] = {};
    KV_TRY(in.Read(size, sizeof size));
    KV_TRY_ASSIGN(platform::Bitmap part, platform::Bitmap::Create(size[0], size[1]));
    // The rows lie bottom-up: the last row is where the pixel memory starts.
    KV_TRY(in.Read(part.Row(part.Height() - 1), part.PixelBytes()));
    parts.push_back(std::move(part));
  }
  return std::optional<std::vector<platform::Bitmap>>(std::move(parts));
}

}  // namespace

Result<std::optional<std::vector<platform::Bitmap>>> ComposeInChild(const std::vector<platform::Monitor>& monitors,
                                                                    const std::vector<render::MonitorChoice>& choices,
                                                                    const render::SharedLook& look,
                                                                    const std::string& dataFolder) {
  std::optional<std::vector<platform::Bitmap>> parts;
  KV_TRY(platform::RunInChild(
      "the renderer",
      [&](platform::ChildOutput& out) -> Status {
        KV_TRY_ASSIGN(void* entry, platform::ModuleSymbol(render::kComposeModule, render::kComposeEntry));
        render::ComposeFunction* compose =
            reinterpret_cast<render::ComposeEntry*>(entry)(&platform::LogError, &platform::LogErrorOnce);
        KV_TRY_ASSIGN(std::optional<std::vector<platform::Bitmap>> composed,
                      compose(monitors, choices, look, dataFolder));
        return SendParts(out, composed);
      },
      [&](platform::ChildInput& in) -> Status {
        KV_TRY_ASSIGN(parts, ReceiveParts(in, monitors.size()));
        return Ok();
      },
      kComposeLimit));
  return parts;
}

}  // namespace kv::service
