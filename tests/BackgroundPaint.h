#pragma once

// The background painter on small bitmaps in a temporary home whose data folder holds the test's pictures.

#include <gtest/gtest.h>

#include "CWPBackground.h"
#include "PictureFiles.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/image/Picture.h"

namespace kvtest {

constexpr std::int32_t kBackRef = 0x00123456;  // the background colour, 0x00BBGGRR

// 0xRRGGBB as the store's 0x00BBGGRR.
inline std::int32_t Ref(std::uint32_t rgb) {
  return static_cast<std::int32_t>(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

inline std::vector<std::uint8_t> PixelsOf(const kv::platform::Bitmap& bitmap) {
  return {bitmap.Pixels(), bitmap.Pixels() + bitmap.PixelBytes()};
}

class PaintTest : public testing::Test {
 protected:
  void SetUp() override {
    StoreSetting("Path", home_.DataFolder().string());
    StoreSetting("FirstTime", "1");
  }
  std::filesystem::path Write(const std::string& file, const std::string& bytes) const {
    WriteFile(Folder() / file, bytes);
    return Folder() / file;
  }
  std::filesystem::path Folder() const { return home_.DataFolder() / "Backgrounds"; }
  kv::platform::Bitmap Paint(int w, int h, const std::string& name, int mode, std::int32_t colour = kBackRef) {
    auto bitmap = kv::platform::Bitmap::Create(w, h);
    kv::render::CWPBackground painter;
    auto init = painter.Init(&*bitmap, w, h, name, mode, colour);
    EXPECT_TRUE(init) << (init ? "" : init.error().message);
    auto painted = painter.PaintBackground();
    EXPECT_TRUE(painted) << (painted ? "" : painted.error().message);
    return std::move(*bitmap);
  }
  // Paints with stderr captured, expects `corner` at the bottom right, and answers what stderr got.
  std::string PaintQuietly(int w, int h, const std::string& name, int mode, std::int32_t corner) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Paint(w, h, name, mode).PixelAt(w - 1, h - 1), corner) << name << ", mode " << mode;
    return testing::internal::GetCapturedStderr();
  }
  TempHome home_;
};

}  // namespace kvtest
