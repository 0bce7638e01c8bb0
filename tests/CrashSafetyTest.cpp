// A publish killed at any moment (kill -9, as a crash or a power cut of the
// process would end it) leaves the wallpaper file either the old or the new
// complete picture, never torn or missing, and no temporary files behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "Process.h"
#include "TempHome.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(CrashSafety, KilledPublishesNeverTearTheWallpaper) {
  kvtest::TempHome home;
  fs::path folder = home.DataHome() / "kvillo";
  fs::path wallpaper = folder / "Kvillo.bmp";
  std::map<std::string, std::optional<std::string>> env{{"DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "1280x720"}};
  auto render = [&](const std::string& quote, const fs::path& output) {
    return kvtest::Run(kvtest::BinDir() / "kvrender",
                       {"--quote", quote, "--background", "Aurora", "--font", "DejaVu Sans", "--output", output.string()},
                       env, 30s);
  };
  // The two complete pictures the file may hold.
  const std::string quotes[2] = {"The old wallpaper.", "The new wallpaper."};
  std::string pictures[2];
  for (int i = 0; i < 2; ++i) {
    fs::path reference = home.Root() / ("reference" + std::to_string(i) + ".bmp");
    auto made = render(quotes[i], reference);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    pictures[i] = kvtest::ReadFile(reference);
  }
  ASSERT_NE(pictures[0], pictures[1]);
  fs::create_directories(folder);
  ASSERT_EQ(render(quotes[0], wallpaper).exitCode, 0);

  // How long one publish takes, so the kills fall all over it.
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(render(quotes[1], wallpaper).exitCode, 0);
  auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);

  std::mt19937 random(20261206);
  int torn = 0, killed = 0, finished = 0;
  for (int round = 0; round < 200; ++round) {
    kvtest::Child child(kvtest::BinDir() / "kvrender",
                        {"--quote", quotes[round % 2], "--background", "Aurora", "--font", "DejaVu Sans"}, env);
    usleep(static_cast<useconds_t>(random() % static_cast<unsigned>(span.count() + 1)));
    child.Signal(SIGKILL);
    auto ended = child.Wait(60s);
    ASSERT_TRUE(ended);
    (ended->signal == SIGKILL ? killed : finished)++;
    std::string now = kvtest::ReadFile(wallpaper);
    if (now != pictures[0] && now != pictures[1]) ++torn;
  }
  // A writer killed between naming its finished file and renaming it may
  // leave that one name; the next publish clears it away.
  ASSERT_EQ(render(quotes[0], wallpaper).exitCode, 0);
  std::vector<std::string> others;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path() != wallpaper) others.push_back(entry.path().filename().string());
  }
  std::cout << "  " << killed << " publishes killed, " << finished << " finished first, " << torn
            << " torn, " << others.size() << " stray files\n";
  EXPECT_EQ(torn, 0);
  EXPECT_TRUE(others.empty()) << testing::PrintToString(others);
  EXPECT_GE(killed, 50) << "many kills must land inside a publish to prove anything";
}

}  // namespace
