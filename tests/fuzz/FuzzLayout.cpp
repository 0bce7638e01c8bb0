// Layout: random widths, margins, alignments and text -> positions. A result of 1 places every character (all but
// spaces inside the bitmap), the lines in order one line height apart, neighbouring left-to-right characters in order.

#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "LayoutText.h"

namespace {

class Model : public kv::render::LayoutModel {
 public:
  std::vector<std::int32_t> codes, widths, levels, xs, ys;  // xs and ys -1 until placed
  std::int32_t lineHeight = 20;
  kv::Result<std::int32_t> GetNumberOfCharacters() const override { return static_cast<std::int32_t>(codes.size()) - 1; }
  kv::Result<std::int32_t> GetCharacterWidth(std::int32_t n) const override { return widths.at(static_cast<size_t>(n)); }
  kv::Result<std::int32_t> GetCharacterValue(std::int32_t n) const override { return codes.at(static_cast<size_t>(n)); }
  kv::Result<std::int32_t> GetCharacterHeight() const override { return lineHeight; }
  kv::Result<std::int32_t> GetCharacterLevel(std::int32_t n) const override { return levels.at(static_cast<size_t>(n)); }
  kv::Status SetCharacterX(std::int32_t n, std::int32_t x) override { return xs.at(static_cast<size_t>(n)) = x, kv::Ok(); }
  kv::Status SetCharacterY(std::int32_t n, std::int32_t y) override { return ys.at(static_cast<size_t>(n)) = y, kv::Ok(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  size_t at = 0;
  auto next = [&](int limit) { return at < size ? data[at++] % limit : 0; };
  auto wide = [&](int limit) { return (next(256) * 256 + next(256)) % limit; };
  const std::int32_t W = 1 + wide(3000), H = 1 + wide(2000);
  const std::int32_t top = next(101), bottom = next(101), left = next(101), right = next(101);
  const std::int32_t hAlign = next(3), vAlign = next(3);
  Model model;
  model.lineHeight = 1 + next(120);
  const bool bidirectional = next(4) == 0;
  while (at < size && model.codes.size() < 2000) {
    const int kind = next(8);
    model.codes.push_back(kind == 0 ? 32 : 33 + next(90));
    model.widths.push_back(next(kind == 1 ? 256 : 40));  // zero widths included
    model.levels.push_back(bidirectional ? next(4) : 0);
  }
  if (model.codes.empty()) model.codes = {65}, model.widths = {10}, model.levels = {0};
  const size_t n = model.codes.size();
  model.xs.assign(n, -1);
  model.ys.assign(n, -1);
  auto result = kv::render::LayoutText(model, W, H, top, bottom, left, right, hAlign, vAlign, true);
  Check(result.has_value() && (*result == 0 || *result == 1));
  if (*result != 1) return 0;
  for (size_t i = 0; i < n; ++i) {
    Check(model.ys[i] >= 0 && model.ys[i] + model.lineHeight <= H);
    Check(model.xs[i] >= 0 && model.xs[i] <= W);
    if (model.codes[i] != 32) Check(model.xs[i] + model.widths[i] <= W);
    if (i > 0) {
      const std::int32_t step = model.ys[i] - model.ys[i - 1];
      Check(step == 0 || step == model.lineHeight);  // lines in order, none skipped
      if (step == 0 && model.levels[i] == 0 && model.levels[i - 1] == 0) Check(model.xs[i] >= model.xs[i - 1]);
    }
  }
  return 0;
}
