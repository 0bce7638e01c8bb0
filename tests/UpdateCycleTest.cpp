// The status gate, the attempt loop and each attempt's random choices, driven in-process against the real store.

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "StoreProbe.h"
#include "TempHome.h"
#include "UpdateWallpaper.h"
#include "kvplatform/store/Store.h"

namespace {

using namespace kv::service;

class UpdateCycle : public testing::Test {
 protected:
  void SetUp() override {
    kvtest::StoreSetting("ServiceStatus", "Running");
    snapshot_.WallpaperFile = (home_.Root() / "Kvillo.bmp").string();
  }
  // Runs one cycle with a renderer that fits on the n-th call (0: never).
  CycleOutcome Cycle(int n, StatusGate gate = StatusGate::Read) {
    calls_ = 0;
    return UpdateWallpaper(
        snapshot_,
        [this, n](const RenderArguments& arguments) -> kv::Result<std::int32_t> {
          last_ = arguments;
          if (n < 0) return kv::Fail("cannot write /readonly/Kvillo.bmp: Permission denied");
          return ++calls_ == n ? 1 : 0;
        },
        [this] { ++gaveUp_; }, gate);
  }
  kvtest::TempHome home_;
  SettingsSnapshot snapshot_;
  int calls_ = 0, gaveUp_ = 0;
  RenderArguments last_;
};

TEST_F(UpdateCycle, AttemptsUntilOneFitsAtMostFiftyOneTimesAndOtherErrorsEndTheCycle) {
  // A success at the last attempt shows no message.
  for (auto [fits, outcome, calls, gaveUp] : {std::tuple{1, CycleOutcome::Rendered, 1, 0},
                                              {51, CycleOutcome::Rendered, 51, 0}, {0, CycleOutcome::EndProgram, 51, 1}}) {
    EXPECT_EQ(Cycle(fits), outcome) << fits;
    EXPECT_EQ(std::pair(calls_, gaveUp_), std::pair(calls, gaveUp)) << fits;
  }
  EXPECT_EQ(kvtest::StoredSetting("ServiceStatus"), "Running") << "the failure path writes no status";
  testing::internal::CaptureStderr();
  EXPECT_EQ(Cycle(-1), CycleOutcome::Failed);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Permission denied"), std::string::npos);
  EXPECT_EQ(gaveUp_, 1) << "no message for an error other than not fitting";
}

TEST_F(UpdateCycle, StatusGateRendersSkipsOrEnds) {
  kvtest::StoreSetting("ServiceStatus", "Paused");
  EXPECT_EQ(Cycle(1), CycleOutcome::Skipped);
  EXPECT_EQ(calls_, 0);
  for (const char* status : {"Stopped", "", "running", "Whatever"}) {
    kvtest::StoreSetting("ServiceStatus", status);
    EXPECT_EQ(Cycle(1), CycleOutcome::EndProgram) << status;
    EXPECT_EQ(kvtest::StoredSetting("ServiceStatus"), status) << "nothing is written on the way out";
  }
  kvtest::DeleteStoredKey("software\\Lexora\\wallpaper");
  EXPECT_EQ(Cycle(1), CycleOutcome::EndProgram);
  EXPECT_EQ(calls_, 0);
  // A service whose own "Running" never reached the store is not stopped by what the store holds.
  kvtest::StoreSetting("ServiceStatus", "Stopped");
  EXPECT_EQ(Cycle(1, StatusGate::AssumeRunning), CycleOutcome::Rendered);
}

TEST_F(UpdateCycle, ChoicesFollowTheSettingsOrAreRandomInRange) {
  std::tie(snapshot_.HAlign, snapshot_.VAlign, snapshot_.TopMargin, snapshot_.BottomMargin, snapshot_.LeftMargin,
           snapshot_.RightMargin) = std::tuple(3, 2, 100, -1, -1, 101);
  snapshot_.SelectedFonts = "DejaVu Sans";
  snapshot_.FontSize = "44";
  std::set<int> hAligns, bottoms, lefts, rights;
  for (int i = 0; i < 3000; ++i) {
    RenderArguments a = DrawChoices(snapshot_);
    hAligns.insert(a.HAlign), bottoms.insert(a.BottomMargin), lefts.insert(a.LeftMargin), rights.insert(a.RightMargin);
    ASSERT_EQ(std::tie(a.VAlign, a.TopMargin, a.FontName, a.BackgroundName, a.FontSize, a.OutputPath),
              std::make_tuple(2, 100, std::string("DejaVu Sans"), std::string(), 44, snapshot_.WallpaperFile))
        << "fixed choices are kept, a margin of 100 too";
    ASSERT_FALSE(a.Quote.empty());
  }
  EXPECT_EQ(hAligns, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(std::tuple(bottoms.size(), *bottoms.begin(), *bottoms.rbegin(), lefts.size(), *lefts.rbegin(),
                       *rights.rbegin()), std::tuple(100u, 0, 99, 75u, 74, 74)) << "random margins: 0-99 and 0-74";
  testing::internal::CaptureStderr();
  snapshot_.FontSize = "huge";
  EXPECT_EQ(DrawChoices(snapshot_).FontSize, 40);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("FontSize"), std::string::npos);
  EXPECT_NE(err.find("\"huge\""), std::string::npos);
  kvtest::StoreSettings({{"Path", home_.DataFolder().string()}, {"SelectedEffects0", "Outline"},
                         {"SelectedEffects1", "Glitter"}, {"SelectedEffects2", "Smooth"}});
  auto read = ReadSettings();
  ASSERT_TRUE(read) << read.error().message;
  snapshot_ = *read;
  const kv::render::Effects expected{.Outline = true, .Smooth = true};
  EXPECT_EQ(read->Effects, expected);
  EXPECT_EQ(Cycle(1), CycleOutcome::Rendered);
  EXPECT_EQ(last_.Effects, expected);
  // The thread's open store serves every read of the same file; another home gets its own.
  auto store = kv::platform::Store::ForCurrentUser();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->get(), kv::platform::Store::ForCurrentUser()->get()) << "the open store is reused";
  kvtest::TempHome other;
  EXPECT_EQ((*kv::platform::Store::ForCurrentUser())->File(), other.StoreFile());
}

}  // namespace
