// The service and the settings program writing the store at the same time,
// as real processes: no write fails, none is lost, no list is ever mixed.

#include <gtest/gtest.h>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"

namespace {

using namespace std::chrono_literals;

TEST(Contention, StatusWritesAndWholeSavesNeverCollide) {
  kvtest::TempHome home;
  kvtest::StoreSetting("FirstTime", "1");
  kvtest::StoreSetting("Path", home.DataFolder().string());
  constexpr int kWrites = 10000;
  std::filesystem::path tool = KV_STRESS_TOOL;
  std::filesystem::path done = home.Root() / "saves-done";

  kvtest::Child checker(tool, {"check", done.string()});
  kvtest::Child status(tool, {"status", std::to_string(kWrites)});
  kvtest::Child saver(tool, {"save", std::to_string(kWrites)});
  auto saved = saver.Wait(600s);
  kvtest::WriteFile(done, "");
  auto statused = status.Wait(600s);
  auto checked = checker.Wait(600s);
  ASSERT_TRUE(saved && statused && checked) << "a writer hung";

  std::cout << "  " << statused->out << "  " << saved->out << "  " << checked->out;
  EXPECT_EQ(statused->exitCode, 0) << statused->out << statused->err;
  EXPECT_EQ(saved->exitCode, 0) << saved->out << saved->err;
  EXPECT_EQ(checked->exitCode, 0) << checked->out << checked->err;

  // Each writer's last write is what the store holds: nothing was lost.
  EXPECT_EQ(kvtest::StoredSetting("ServiceStatus"), kWrites % 2 == 0 ? "Paused" : "Running");
  EXPECT_EQ(kvtest::StoredSetting("SelectedFonts0"), "B1");
  EXPECT_EQ(kvtest::StoredSetting("SelectedFonts1"), "B2");
  EXPECT_EQ(kvtest::StoredSetting("SelectedFonts2").value_or("Not found"), "Not found") << "only the end marker";
  EXPECT_EQ(kvtest::StoredSetting("FontSize"), std::to_string(8 + (kWrites - 1) % 60));
}

}  // namespace
