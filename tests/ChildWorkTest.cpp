// Work done in a child process: its bytes, its failures, its crash, its time limit, and the lines it logs.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "kvplatform/base/Log.h"
#include "kvplatform/process/ChildWork.h"

using kv::Status;
using kv::platform::ChildInput;
using kv::platform::ChildOutput;
using namespace std::chrono_literals;

namespace {
Status InChild(const std::function<Status(ChildOutput&)>& work, std::vector<unsigned char>& into,
           std::chrono::milliseconds limit = 60s) {
  auto receive = [&](ChildInput& in) { return in.Read(into.data(), into.size()); };
  return kv::platform::RunInChild("the renderer", work, receive, limit);
}
}  // namespace

TEST(ChildWork, BytesComeBackAndLoggedLinesAreWrittenHereAndOnceOnlyOnce) {
  // More than a pipe holds, so the parent must read while the child writes.
  std::vector<unsigned char> sent(3 << 20), got(sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<unsigned char>(i * 7 + i / 4096);
  testing::internal::CaptureStderr();
  for (int run = 0; run < 2; ++run) {
    Status answer = InChild([&](ChildOutput& out) {
      kv::platform::LogErrorOnce("a line written once");
      kv::platform::LogErrorOnce("a line written once");
      kv::platform::LogError("a line written each time");
      return out.Write(sent.data(), sent.size());
    }, got);
    ASSERT_TRUE(answer) << answer.error().message;
    EXPECT_EQ(got, sent);
  }
  std::string log = testing::internal::GetCapturedStderr();
  auto count = [&](const std::string& line, std::size_t n = 0) {
    for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(std::pair(count("a line written once"), count("a line written each time")), std::pair(1uz, 2uz)) << log;
}

TEST(ChildWork, FailuresCrashesAndEndlessWorkCostOnlyTheirWork) {
  std::vector<unsigned char> eight(8), four(4), one(1);
  struct Case {
    std::function<Status(ChildOutput&)> work;
    std::vector<unsigned char>& into;
    std::string answer;  // empty for success
  } cases[] = {
      {[](ChildOutput&) -> Status { return kv::Fail(kv::ErrorCode::NotFound, "no such picture"); }, four,
       "no such picture"},
      {[&](ChildOutput& out) { return out.Write(four.data(), four.size()); }, eight,
       "the renderer: answered less than was expected"},
      {[&](ChildOutput& out) { return out.Write(eight.data(), eight.size()); }, one, ""},  // read one byte, rest skipped
      {[](ChildOutput&) -> Status { std::abort(); }, four, "the renderer crashed (signal 6: Aborted)"},
  };
  for (Case& c : cases) {
    Status answer = InChild(c.work, c.into);
    EXPECT_EQ(answer ? "" : answer.error().message, c.answer);
    EXPECT_TRUE(answer || c.answer != "no such picture" || answer.error().code == kv::ErrorCode::NotFound);
  }
  auto start = std::chrono::steady_clock::now();
  Status endless = InChild([](ChildOutput&) -> Status { for (;;) std::this_thread::sleep_for(1s); }, four, 300ms);
  EXPECT_EQ(endless ? "" : endless.error().message, "the renderer did not finish within 1 s and was stopped");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "every child was waited for";
}
