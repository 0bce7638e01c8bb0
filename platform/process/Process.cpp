#include "kvplatform/process/Process.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

extern char** environ;

namespace kv::platform {

namespace {

// Lowering a process's priority cannot be undone without privileges, and a
// program it starts would inherit the idle class. On Linux the nice value
// and the scheduling class belong to each thread, and a child takes those of
// the thread that forks it: so a thread made before the process lowers
// itself keeps the normal priority and starts the programs.
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

// Made once, by EnterIdlePriority; it lives as long as the process.
std::atomic<Launcher*> launcher{nullptr};

Result<pid_t> Spawn(const std::filesystem::path& program, const std::vector<std::string>& args);

}  // namespace

Result<pid_t> StartDetached(const std::filesystem::path& program, const std::vector<std::string>& args) {
  Launcher* normal = launcher.load();
  if (!normal) return Spawn(program, args);
  Result<pid_t> started = Fail("cannot start " + program.string());
  std::function<void()> job = [&] { started = Spawn(program, args); };
  // One program at a time: the launcher serves one job.
  static std::mutex oneAtATime;
  std::lock_guard lock(oneAtATime);
  normal->Run(job);
  return started;
}

namespace {

Result<pid_t> Spawn(const std::filesystem::path& program, const std::vector<std::string>& args) {
  if (access(program.c_str(), X_OK) != 0) {
    return Fail(errno == ENOENT ? ErrorCode::NotFound : ErrorCode::Failed,
                "cannot start " + program.string() + ": " + std::strerror(errno));
  }
  // Everything the children need is prepared here: after fork only
  // async-signal-safe calls are allowed.
  std::vector<std::string> argvStrings{program.string()};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // The grandchild reports its pid, and the errno of a failed exec, through
  // a pipe that closes by itself when the exec succeeds.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return Fail(std::string("cannot start a program: ") + std::strerror(errno));

  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return Fail(std::string("cannot start a program: ") + std::strerror(errno));
  }
  if (child == 0) {
    close(report[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) {
      dup2(devnull, 0);
      if (devnull != 0) close(devnull);
    }
    pid_t self = getpid();
    (void)!write(report[1], &self, sizeof self);
    execve(argv[0], argv.data(), environ);
    int error = errno;
    (void)!write(report[1], &error, sizeof error);
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  pid_t started = -1;
  int execError = 0;
  ssize_t got = read(report[0], &started, sizeof started);
  ssize_t failed = read(report[0], &execError, sizeof execError);
  close(report[0]);
  if (got != static_cast<ssize_t>(sizeof started)) return Fail("cannot start " + program.string());
  if (failed == static_cast<ssize_t>(sizeof execError)) {
    return Fail("cannot start " + program.string() + ": " + std::strerror(execError));
  }
  return started;
}

}  // namespace

void EnterIdlePriority() {
  if (!launcher.load()) launcher.store(new Launcher());
  // KVILLO_IDLE_PRIORITY=0 keeps the priority the program was started with:
  // the tests run the service on a machine kept busy on purpose, where an
  // idle-priority process gets no processor time at all.
  if (const char* keep = std::getenv("KVILLO_IDLE_PRIORITY"); keep && std::string_view(keep) == "0") return;
  (void)setpriority(PRIO_PROCESS, 0, 19);
  sched_param parameters{};
  (void)sched_setscheduler(0, SCHED_IDLE, &parameters);
}

void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace kv::platform
