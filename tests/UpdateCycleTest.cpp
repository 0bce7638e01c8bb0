// The status gate, the attempt loop and each attempt's random choices,
// driven in-process against the real store.

#include <gtest/gtest.h>

#include <set>

#include "StoreProbe.h"
#include "TempHome.h"
#include "UpdateWallpaper.h"

namespace {

using namespace kv::service;

class UpdateCycle : public testing::Test {
 protected:
  void SetUp() override {
    kvtest::StoreSetting("ServiceStatus", "Running");
    snapshot_.WallpaperFile = (home_.Root() / "Kvillo.bmp").string();
  }

  // A renderer that fits on the n-th call (0: never).
  RenderFunction FitsOnCall(int n) {
    return [this, n](const RenderArguments& arguments) -> kv::Result<std::int32_t> {
      last_ = arguments;
      return ++calls_ == n ? 1 : 0;
    };
  }

  kvtest::TempHome home_;
  SettingsSnapshot snapshot_;
  int calls_ = 0;
  int gaveUp_ = 0;
  RenderArguments last_;
  std::function<void()> giveUp_ = [this] { ++gaveUp_; };
};

TEST_F(UpdateCycle, AttemptsUntilOneFitsAtMostFiftyOneTimes) {
  EXPECT_EQ(UpdateWallpaper(snapshot_, FitsOnCall(1), giveUp_), CycleOutcome::Rendered);
  EXPECT_EQ(calls_, 1);

  calls_ = 0;
  EXPECT_EQ(UpdateWallpaper(snapshot_, FitsOnCall(51), giveUp_), CycleOutcome::Rendered);
  EXPECT_EQ(calls_, 51);
  EXPECT_EQ(gaveUp_, 0) << "a success at the last attempt shows no message";

  calls_ = 0;
  EXPECT_EQ(UpdateWallpaper(snapshot_, FitsOnCall(0), giveUp_), CycleOutcome::EndProgram);
  EXPECT_EQ(calls_, 51);
  EXPECT_EQ(gaveUp_, 1);
  EXPECT_EQ(kvtest::StoredSetting("ServiceStatus"), "Running") << "the failure path writes no status";
}

TEST_F(UpdateCycle, OtherRenderErrorsEndOnlyTheCycle) {
  testing::internal::CaptureStderr();
  auto outcome = UpdateWallpaper(
      snapshot_,
      [&](const RenderArguments&) -> kv::Result<std::int32_t> {
        ++calls_;
        return kv::Fail("cannot write /readonly/Kvillo.bmp: Permission denied");
      },
      giveUp_);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(outcome, CycleOutcome::Failed);
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(gaveUp_, 0);
  EXPECT_NE(err.find("Permission denied"), std::string::npos) << err;
}

TEST_F(UpdateCycle, StatusGateRendersSkipsOrEnds) {
  kvtest::StoreSetting("ServiceStatus", "Paused");
  EXPECT_EQ(UpdateWallpaper(snapshot_, FitsOnCall(1), giveUp_), CycleOutcome::Skipped);
  EXPECT_EQ(calls_, 0);
  for (const char* status : {"Stopped", "", "running", "Whatever"}) {
    kvtest::StoreSetting("ServiceStatus", status);
    EXPECT_EQ(UpdateWallpaper(snapshot_, FitsOnCall(1), giveUp_), CycleOutcome::EndProgram) << status;
    EXPECT_EQ(kvtest::StoredSetting("ServiceStatus"), status) << "nothing is written on the way out";
  }
  kvtest::DeleteStoredKey("software\\Lexora\\wallpaper");
  EXPECT_EQ(UpdateWallpaper(snapshot_, FitsOnCall(1), giveUp_), CycleOutcome::EndProgram);
  EXPECT_EQ(calls_, 0);

  // A service whose own "Running" never reached the store is not stopped by what the store holds.
  kvtest::StoreSetting("ServiceStatus", "Stopped");
  EXPECT_EQ(UpdateWallpaper(snapshot_, FitsOnCall(1), giveUp_, StatusGate::AssumeRunning), CycleOutcome::Rendered);
}

TEST_F(UpdateCycle, ChoicesFollowTheSettingsOrAreRandomInRange) {
  snapshot_.HAlign = 3;
  snapshot_.VAlign = 2;
  snapshot_.TopMargin = 100;
  snapshot_.BottomMargin = -1;
  snapshot_.LeftMargin = -1;
  snapshot_.RightMargin = 101;
  snapshot_.SelectedFonts = "DejaVu Sans";
  snapshot_.SelectedBackgrounds = "";
  snapshot_.FontSize = "44";
  std::set<int> hAligns, bottoms, lefts, rights;
  for (int i = 0; i < 3000; ++i) {
    RenderArguments a = DrawChoices(snapshot_);
    hAligns.insert(a.HAlign);
    bottoms.insert(a.BottomMargin);
    lefts.insert(a.LeftMargin);
    rights.insert(a.RightMargin);
    ASSERT_EQ(a.VAlign, 2);
    ASSERT_EQ(a.TopMargin, 100) << "a fixed margin may be 100";
    ASSERT_EQ(a.FontName, "DejaVu Sans");
    ASSERT_EQ(a.BackgroundName, "");
    ASSERT_EQ(a.FontSize, 44);
    ASSERT_FALSE(a.Quote.empty());
    ASSERT_EQ(a.OutputPath, snapshot_.WallpaperFile);
  }
  EXPECT_EQ(hAligns, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(*bottoms.begin(), 0);
  EXPECT_EQ(*bottoms.rbegin(), 99);
  EXPECT_EQ(bottoms.size(), 100u);
  EXPECT_EQ(*lefts.rbegin(), 74);
  EXPECT_EQ(lefts.size(), 75u);
  EXPECT_EQ(*rights.rbegin(), 74);

  testing::internal::CaptureStderr();
  snapshot_.FontSize = "huge";
  EXPECT_EQ(DrawChoices(snapshot_).FontSize, 40);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("FontSize"), std::string::npos);
  EXPECT_NE(err.find("\"huge\""), std::string::npos);
}

TEST_F(UpdateCycle, TheStoredEffectsReachEveryAttempt) {
  kvtest::StoreSetting("Path", home_.DataFolder().string());
  kvtest::StoreSetting("SelectedEffects0", "Outline");
  kvtest::StoreSetting("SelectedEffects1", "Glitter");
  kvtest::StoreSetting("SelectedEffects2", "Smooth");
  auto read = ReadSettings();
  ASSERT_TRUE(read) << read.error().message;
  const kv::render::Effects expected{.Outline = true, .Smooth = true};
  EXPECT_EQ(read->Effects, expected) << "an unknown name is ignored";
  EXPECT_EQ(DrawChoices(*read).Effects, expected);
  EXPECT_EQ(UpdateWallpaper(*read, FitsOnCall(1), giveUp_), CycleOutcome::Rendered);
  EXPECT_EQ(last_.Effects, expected);
}

}  // namespace
