#include "StoreWait.h"

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "kvplatform/store/Store.h"

namespace kv::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultWaitMs = 5000;

struct OperationState {
  int depth = 0;               // nesting of StoreOperation scopes
  Clock::duration waited{};    // slept so far in the outermost one
};

OperationState& State() {
  thread_local OperationState state;
  return state;
}

// Sleeps between `low` and `high` microseconds and counts the time slept
// against the operation's wait.
void Sleep(unsigned low, unsigned high) {
  thread_local std::minstd_rand jitter(static_cast<unsigned>(Clock::now().time_since_epoch().count()) ^
                                       static_cast<unsigned>(getpid()));
  auto started = Clock::now();
  unsigned micros = low + static_cast<unsigned>(jitter() % (high - low));
  timespec pause{0, static_cast<long>(micros) * 1000};
  nanosleep(&pause, nullptr);
  State().waited += Clock::now() - started;
}

bool MayWait() { return State().waited < std::chrono::milliseconds(StoreLockWaitMs()); }

}  // namespace

StoreOperation::StoreOperation() {
  if (State().depth++ == 0) State().waited = {};
}

StoreOperation::~StoreOperation() { --State().depth; }

// Long enough for the other program to finish any write it makes; the
// variable exists so tests of a locked store need not wait as long.
int StoreLockWaitMs() {
  if (const char* text = std::getenv("KVILLO_STORE_TIMEOUT_MS")) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && value > 0 && value < 600000) return static_cast<int>(value);
  }
  return kDefaultWaitMs;
}

// SQLite's own handler sleeps longer and longer (up to 100 ms a time), so a
// program that writes again and again can hold the lock at each of those few
// wake-ups and starve the waiter; short, slightly random sleeps find the
// gaps between its writes.
int WaitForStoreLock(void*, int attempt) {
  // A statement outside any operation (a commit or a rollback) waits on its own.
  if (State().depth == 0 && attempt == 0) State().waited = {};
  if (!MayWait()) return 0;
  Sleep(200, 1000);
  return 1;
}

bool PauseBeforeRetry() {
  if (!MayWait()) return false;
  // Longer than one wait of the handler: the other program is between the
  // steps of its own transaction and needs the time to finish it.
  Sleep(1000, 10000);
  return true;
}

std::string LockedMessage(const std::filesystem::path& file) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(State().waited).count();
  char waited[32];
  if (ms < 1000) {
    std::snprintf(waited, sizeof waited, "%lld ms", static_cast<long long>(ms));
  } else {
    std::snprintf(waited, sizeof waited, "%.1f s", static_cast<double>(ms) / 1000.0);
  }
  return "the settings store " + file.string() + " is locked by another program (waited " + waited +
         "); try again when it is done";
}

}  // namespace kv::platform
