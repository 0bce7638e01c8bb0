#include "kvplatform/base/Random.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <random>

namespace kv::platform {
namespace {

void SeedFromClock(std::mt19937_64& engine) {
  auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  auto steady = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::seed_seq seed{static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32),
                     static_cast<std::uint32_t>(steady), static_cast<std::uint32_t>(steady >> 32),
                     static_cast<std::uint32_t>(getpid())};
  engine.seed(seed);
}

std::mt19937_64& Engine() {
  thread_local std::mt19937_64 engine = [] {
    std::mt19937_64 fresh;
    SeedFromClock(fresh);
    return fresh;
  }();
  return engine;
}

}  // namespace

void Randomize() { SeedFromClock(Engine()); }

double Rnd() {
  // 53 random bits make every double in [0, 1) of that spacing equally
  // likely; the result can never reach 1.
  return static_cast<double>(Engine()() >> 11) * 0x1.0p-53;
}

}  // namespace kv::platform
