#pragma once

// The thread that starts programs. Lowering a process's priority cannot be
// undone without privileges, and a program it starts would inherit the idle
// class. On Linux the nice value and the scheduling class belong to each
// thread, and a child takes those of the thread that forks it: so a thread
// made before the process lowers itself keeps the starting priority, and
// every program is started from it.

#include <functional>

namespace kv::platform {

// Makes the launcher thread (once); call before lowering the priority.
void MakeLauncher();

// Runs `start` on the launcher thread, once one is made, and waits until it
// has run; before that, on the calling thread.
void OnLauncher(const std::function<void()>& start);

}  // namespace kv::platform
