// Work done in a child process: its bytes, its failures, its crash, its time limit, and the lines it logs.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "kvplatform/base/Log.h"
#include "kvplatform/process/ChildWork.h"

using kv::Status;
using kv::platform::ChildInput;
using kv::platform::ChildOutput;
using kv::platform::RunInChild;
using namespace std::chrono_literals;

namespace {

Status Receive(ChildInput& in, std::vector<unsigned char>& into) { return in.Read(into.data(), into.size()); }

}  // namespace

TEST(ChildWork, BytesAndFailuresComeBackAndLoggedLinesAreWrittenHere) {
  // More than a pipe holds, so the parent must read while the child writes.
  std::vector<unsigned char> sent(3 << 20);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<unsigned char>(i * 7 + i / 4096);
  std::vector<unsigned char> got(sent.size());
  auto work = [&](ChildOutput& out) -> Status {
    kv::platform::LogErrorOnce("a line written once");
    kv::platform::LogErrorOnce("a line written once");
    kv::platform::LogError("a line written each time");
    return out.Write(sent.data(), sent.size());
  };
  testing::internal::CaptureStderr();
  for (int run = 0; run < 2; ++run) {
    Status answer = RunInChild("the test work", work, [&](ChildInput& in) { return Receive(in, got); }, 60s);
    ASSERT_TRUE(answer) << answer.error().message;
    EXPECT_EQ(got, sent);
  }
  std::string log = testing::internal::GetCapturedStderr();
  auto count = [&](const std::string& line) {
    std::size_t n = 0;
    for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("a line written once"), 1u) << log;
  EXPECT_EQ(count("a line written each time"), 2u) << log;
  // The child's own failure keeps its kind and message; a short answer is a failure, a longer one is read past.
  std::vector<unsigned char> eight(8), four(4), one(1);
  Status failed = RunInChild(
      "the test work", [](ChildOutput&) -> Status { return kv::Fail(kv::ErrorCode::NotFound, "no such picture"); },
      [&](ChildInput& in) { return Receive(in, four); }, 60s);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().code, kv::ErrorCode::NotFound);
  EXPECT_EQ(failed.error().message, "no such picture");
  Status shorter = RunInChild(
      "the test work", [&](ChildOutput& out) { return out.Write(four.data(), four.size()); },
      [&](ChildInput& in) { return Receive(in, eight); }, 60s);
  ASSERT_FALSE(shorter);
  EXPECT_NE(shorter.error().message.find("less than was expected"), std::string::npos) << shorter.error().message;
  Status longer = RunInChild(
      "the test work", [&](ChildOutput& out) { return out.Write(eight.data(), eight.size()); },
      [&](ChildInput& in) { return Receive(in, one); }, 60s);
  EXPECT_TRUE(longer) << longer.error().message;
}

TEST(ChildWork, ACrashOrAnEndlessChildCostsOnlyItsWork) {
  std::vector<unsigned char> got(4);
  Status crashed = RunInChild(
      "the renderer", [](ChildOutput&) -> Status { std::abort(); },
      [&](ChildInput& in) { return Receive(in, got); }, 60s);
  ASSERT_FALSE(crashed);
  EXPECT_EQ(crashed.error().message.rfind("the renderer crashed (signal 6", 0), 0u) << crashed.error().message;
  auto start = std::chrono::steady_clock::now();
  Status endless = RunInChild(
      "the renderer", [](ChildOutput&) -> Status { for (;;) std::this_thread::sleep_for(1s); },
      [&](ChildInput& in) { return Receive(in, got); }, 300ms);
  ASSERT_FALSE(endless);
  EXPECT_EQ(endless.error().message, "the renderer did not finish within 1 s and was stopped");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  // Every child was waited for: none is left behind.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}
