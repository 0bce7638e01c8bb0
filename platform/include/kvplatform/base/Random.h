#pragma once

// Pseudo-random numbers uniform in [0, 1), one generator per thread, seeded
// from the clock (and the process id, so two programs started in the same
// instant still differ).

namespace kv::platform {

// Seeds this thread's generator afresh from the clock.
void Randomize();

// The next number of this thread's generator, uniform in [0, 1).
double Rnd();

}  // namespace kv::platform
