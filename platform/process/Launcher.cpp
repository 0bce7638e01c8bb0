#include "Launcher.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kv::platform {
namespace {

class Launcher {
 public:
  Launcher() {
    // Signals are for the program's own thread (its event loop takes them
    // there); the launcher is made with all of them blocked.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    thread_ = std::thread([this] { Serve(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    thread_.detach();
  }

  // Runs `job` on the launcher's thread and waits until it has run.
  void Run(const std::function<void()>& job) {
    std::unique_lock lock(mutex_);
    job_ = &job;
    changed_.notify_all();
    changed_.wait(lock, [this] { return job_ == nullptr; });
  }

 private:
  void Serve() {
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [this] { return job_ != nullptr; });
      (*job_)();
      job_ = nullptr;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  const std::function<void()>* job_ = nullptr;
  std::thread thread_;
};

// Made once; it lives as long as the process.
std::atomic<Launcher*> launcher{nullptr};

}  // namespace

void MakeLauncher() {
  if (!launcher.load()) launcher.store(new Launcher());
}

void OnLauncher(const std::function<void()>& start) {
  Launcher* normal = launcher.load();
  if (!normal) {
    start();
    return;
  }
  // One program at a time: the launcher serves one job.
  static std::mutex oneAtATime;
  std::lock_guard lock(oneAtATime);
  normal->Run(start);
}

}  // namespace kv::platform
