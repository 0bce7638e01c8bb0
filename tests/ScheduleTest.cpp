// The schedule: start-up updates, tick counting and the stored update date, driven tick by tick with a clock that
// advances one minute per tick.

#include <gtest/gtest.h>

#include "IsUpdateDue.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "frmKvillo.h"
#include "kvshared/Enums.h"

namespace {

using namespace kv::service;
using kv::platform::AddDays;
using kv::platform::FormatIso;
using kv::platform::LocalDateTime;

class Schedule : public testing::Test {
 protected:
  frmKvillo& Form() {
    form_.emplace(frmKvillo::Hooks{
        .update = [this] { return updates_.push_back(tick_), CycleOutcome::Rendered; },
        .now = [this] { return Clock(); }});
    return *form_;
  }
  LocalDateTime Clock() const {
    LocalDateTime now = start_;
    now.minute += tick_;
    now.hour += now.minute / 60;
    now.minute %= 60;
    LocalDateTime later = AddDays(now, now.hour / 24);
    later.hour = now.hour % 24;
    return later;
  }
  void Ticks(int count) { for (int i = 0; i < count; ++i) ++tick_, form_->tmrTimer_Timer(); }
  kvtest::TempHome home_;
  LocalDateTime start_{2026, 12, 6, 8, 30, 0};
  int tick_ = 0;
  std::vector<int> updates_;
  std::optional<frmKvillo> form_;
};

TEST_F(Schedule, ShortFrequenciesCountTicksAndTheBootFrequencyRenewsHourly) {
  for (auto [frequency, every] : {std::pair{kv::wpMinute, 1}, {kv::wpFiveMinutes, 5}, {kv::wpQuarter, 15},
                                  {kv::wpHalfHour, 30}, {kv::wpHourly, 60}, {kv::wpBoot, 60}}) {
    updates_.clear(), tick_ = 0;
    Form().SetUpSchedule(frequency);
    EXPECT_EQ(std::tuple(form_->Minutes, form_->UseDate, form_->Days), std::tuple(every, frequency == kv::wpBoot, 0));
    Ticks(every * 3);
    EXPECT_EQ(updates_, (std::vector<int>{0, every, 2 * every, 3 * every})) << "frequency " << frequency;
  }
}

TEST_F(Schedule, DailyUpdatesOncePerDayFromTheStoredDate) {
  start_ = {9999, 12, 31, 8, 30, 0};  // the next date has a five-digit year
  Form().SetUpSchedule(kv::wpDaily);
  EXPECT_EQ(std::pair(form_->Days, form_->Minutes), std::pair(1, 60));
  EXPECT_EQ(updates_, std::vector<int>{0}) << "no stored date: due at once";
  EXPECT_EQ(kvtest::StoredSetting("UpdateDate"), "10000-01-01T08:30:00");
  Ticks(23 * 60);
  EXPECT_EQ(updates_.size(), 1u) << "23 hourly checks find the date in the future";
  Ticks(60);
  EXPECT_EQ(updates_, (std::vector<int>{0, 24 * 60}));
  EXPECT_EQ(kvtest::StoredSetting("UpdateDate"), "10000-01-02T08:30:00");
}

TEST_F(Schedule, StoredDatesDecideTheStartUpUpdate) {
  kvtest::StoreSetting("UpdateDate", FormatIso(AddDays(start_, -2)));
  Form().SetUpSchedule(kv::wpWeekly);
  EXPECT_EQ(updates_, std::vector<int>{0});
  EXPECT_EQ(kvtest::StoredSetting("UpdateDate"), "2026-12-13T08:30:00") << "now plus 7, not the old date plus 7";
  updates_.clear();
  kvtest::StoreSetting("UpdateDate", FormatIso(AddDays(start_, 10)));
  Form().SetUpSchedule(kv::wpMonthly);
  EXPECT_EQ(form_->Days, 30);
  EXPECT_TRUE(updates_.empty());
  // The current minute counts as due, the next one does not.
  LocalDateTime sameMinute = start_, nextMinute = start_;
  sameMinute.second = 59;
  nextMinute.minute += 1;
  kvtest::StoreSetting("UpdateDate", FormatIso(sameMinute));
  EXPECT_TRUE(IsUpdateDue(1, [&] { return start_; }));
  kvtest::StoreSetting("UpdateDate", FormatIso(nextMinute));
  EXPECT_FALSE(IsUpdateDue(1, [&] { return start_; }));
  EXPECT_EQ(kvtest::StoredSetting("UpdateDate"), FormatIso(nextMinute)) << "not due: nothing is written";
  for (const char* unreadable : {"tomorrow", "2026-13-01T00:00:00", "2026-02-30T10:00:00", ""}) {
    kvtest::StoreSetting("UpdateDate", unreadable);
    EXPECT_TRUE(IsUpdateDue(7, [&] { return start_; })) << unreadable;
    EXPECT_EQ(kvtest::StoredSetting("UpdateDate"), "2026-12-13T08:30:00");
  }
}

TEST_F(Schedule, APausedCheckMovesTheDateOnAndAnEndingCycleStopsTheSchedule) {
  CycleOutcome outcome = CycleOutcome::Skipped;
  int cycles = 0;
  form_.emplace(frmKvillo::Hooks{.update = [&] { return ++cycles, outcome; }, .now = [this] { return Clock(); }});
  form_->SetUpSchedule(kv::wpDaily);
  EXPECT_EQ(kvtest::StoredSetting("UpdateDate"), "2026-12-07T08:30:00");
  outcome = CycleOutcome::EndProgram, cycles = 0;
  form_->SetUpSchedule(kv::wpMinute);
  EXPECT_TRUE(form_->Ended());
  Ticks(5);
  EXPECT_EQ(cycles, 1);
}

TEST_F(Schedule, RenderNowLeavesTheCountAndTheDateAlone) {
  frmKvillo* form = &Form();
  form->SetUpSchedule(kv::wpQuarter);
  form->StartTimer(std::chrono::hours(1));  // never fires here: the ticks are driven by hand
  Ticks(10);
  ASSERT_EQ(updates_.size(), 1u);
  EXPECT_EQ(form->RenderNow().answer, "rendered");
  EXPECT_EQ(updates_.size(), 2u) << "one cycle, at once";
  EXPECT_EQ(form->ElapsedTicks(), 10) << "the count of ticks goes on undisturbed";
  // Five ticks of an hour each are still to go until the quarter's update.
  auto next = form->NextUpdate();
  ASSERT_TRUE(next);
  EXPECT_EQ(kv::platform::MinutesBetween(Clock(), *next), 5 * 60);
  Ticks(5);
  EXPECT_EQ(updates_.size(), 3u) << "the schedule's own update comes when it would have";
  kvtest::StoreSetting("UpdateDate", "2026-12-20T08:30:00");
  form = &Form();
  form->SetUpSchedule(kv::wpWeekly);
  form->StartTimer(std::chrono::hours(1));
  EXPECT_EQ(form->RenderNow().answer, "rendered");
  EXPECT_EQ(kvtest::StoredSetting("UpdateDate"), "2026-12-20T08:30:00") << "a render now consumes no due date";
  EXPECT_EQ(FormatIso(*form->NextUpdate()), "2026-12-20T08:30:00");
}

}  // namespace
