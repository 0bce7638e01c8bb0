// Layout: random widths, margins, alignments and text -> positions, checked
// against the layout's own promises. A result of 1 places every character,
// keeps every one that is not a space inside the bitmap, and keeps the lines
// in order, one line height apart. Some inputs give characters
// bidirectional levels: lines are then placed in visual order, and
// neighbouring left-to-right characters still keep theirs.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "LayoutText.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Reads the input as a stream of small numbers.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, size_t size) : data_(data), size_(size) {}
  int Next(int limit) {
    if (at_ >= size_) return 0;
    return data_[at_++] % limit;
  }
  int Wide(int limit) { return (Next(256) * 256 + Next(256)) % limit; }
  bool Left() const { return at_ < size_; }

 private:
  const std::uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class Model : public kv::render::LayoutModel {
 public:
  std::vector<std::int32_t> codes, widths, levels, xs, ys;
  std::vector<bool> placedX, placedY;
  std::int32_t lineHeight = 20;

  kv::Result<std::int32_t> GetNumberOfCharacters() const override { return static_cast<std::int32_t>(codes.size()) - 1; }
  kv::Result<std::int32_t> GetCharacterWidth(std::int32_t n) const override { return widths.at(static_cast<size_t>(n)); }
  kv::Result<std::int32_t> GetCharacterValue(std::int32_t n) const override { return codes.at(static_cast<size_t>(n)); }
  kv::Result<std::int32_t> GetCharacterHeight() const override { return lineHeight; }
  kv::Result<std::int32_t> GetCharacterLevel(std::int32_t n) const override { return levels.at(static_cast<size_t>(n)); }
  kv::Status SetCharacterX(std::int32_t n, std::int32_t x) override {
    xs.at(static_cast<size_t>(n)) = x;
    placedX.at(static_cast<size_t>(n)) = true;
    return kv::Ok();
  }
  kv::Status SetCharacterY(std::int32_t n, std::int32_t y) override {
    ys.at(static_cast<size_t>(n)) = y;
    placedY.at(static_cast<size_t>(n)) = true;
    return kv::Ok();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  Bytes in(data, size);
  std::int32_t W = 1 + in.Wide(3000);
  std::int32_t H = 1 + in.Wide(2000);
  std::int32_t top = in.Next(101), bottom = in.Next(101), left = in.Next(101), right = in.Next(101);
  std::int32_t hAlign = in.Next(3), vAlign = in.Next(3);
  Model model;
  model.lineHeight = 1 + in.Next(120);
  const bool bidirectional = in.Next(4) == 0;
  while (in.Left() && model.codes.size() < 2000) {
    int kind = in.Next(8);
    model.codes.push_back(kind == 0 ? 32 : 33 + in.Next(90));
    model.widths.push_back(in.Next(kind == 1 ? 256 : 40));  // zero widths included
    model.levels.push_back(bidirectional ? in.Next(4) : 0);
  }
  if (model.codes.empty()) {
    model.codes.push_back(65);
    model.widths.push_back(10);
    model.levels.push_back(0);
  }
  size_t n = model.codes.size();
  model.xs.assign(n, 0);
  model.ys.assign(n, 0);
  model.placedX.assign(n, false);
  model.placedY.assign(n, false);

  auto result = kv::render::LayoutText(model, W, H, top, bottom, left, right, hAlign, vAlign, true);
  Check(result.has_value());
  Check(*result == 0 || *result == 1);
  if (*result != 1) return 0;

  for (size_t i = 0; i < n; ++i) {
    Check(model.placedX[i] && model.placedY[i]);  // no character dropped
    Check(model.ys[i] >= 0 && model.ys[i] + model.lineHeight <= H);
    Check(model.xs[i] >= 0 && model.xs[i] <= W);
    if (model.codes[i] != 32) Check(model.xs[i] + model.widths[i] <= W);
    if (i > 0) {
      std::int32_t step = model.ys[i] - model.ys[i - 1];
      Check(step == 0 || step == model.lineHeight);  // lines in order, none skipped
      if (step == 0 && model.levels[i] == 0 && model.levels[i - 1] == 0) Check(model.xs[i] >= model.xs[i - 1]);
    }
  }
  return 0;
}
