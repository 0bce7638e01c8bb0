#include "kvplatform/process/Command.h"

#include "Launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace kv::platform {
namespace {

constexpr std::size_t kKeptOutput = 64 * 1024;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// What a child wrote into one of its output files, from the start.
std::string ReadBack(int fd) {
  std::string text;
  if (fd < 0) return text;
  text.resize(kKeptOutput);
  ssize_t got = ::pread(fd, text.data(), text.size(), 0);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

std::string LastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (auto at = text.rfind('\n'); at != std::string::npos) text.erase(0, at + 1);
  return text;
}

std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace

std::string CommandOutcome::Describe() const {
  std::string text;
  if (timedOut) {
    text = "did not finish in time and was stopped";
  } else if (signal != 0) {
    text = std::string("was ended by signal ") + strsignal(signal);
  } else {
    text = "ended with exit status " + std::to_string(exitCode);
  }
  if (std::string line = LastLine(err); !line.empty()) text += ": " + line;
  return text;
}

Result<CommandOutcome> RunCommand(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  if (args.empty() || args[0].empty()) return Fail(ErrorCode::InvalidArgument, "an empty command cannot be run");
  // The output goes to anonymous files rather than pipes: a tool that leaves
  // a helper running with our output can neither block us nor be killed by
  // a broken pipe once we stop reading.
  Fd out(static_cast<int>(::memfd_create("kvillo-stdout", MFD_CLOEXEC)));
  Fd err(static_cast<int>(::memfd_create("kvillo-stderr", MFD_CLOEXEC)));

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out.Get() >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out.Get(), 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  if (err.Get() >= 0) {
    posix_spawn_file_actions_adddup2(&actions, err.Get(), 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& arg : copy) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  // From the launcher thread: the program gets the priority the process
  // was started with, not the idle priority the service renders at.
  int spawned = ENOEXEC;
  OnLauncher([&] { spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ); });
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    if (spawned == ENOENT) {
      return Fail(ErrorCode::NotFound, "the program " + args[0] + " is not installed (it is not on PATH)");
    }
    return Fail("cannot start " + args[0] + ": " + std::strerror(spawned));
  }

  CommandOutcome outcome;
  const std::int64_t deadline = NowMs() + timeout.count();
  Fd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  int status = 0;
  bool ended = false;
  while (!ended) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      ended = done == pid;
      break;
    }
    std::int64_t left = deadline - NowMs();
    if (left <= 0) break;
    if (process.Get() >= 0) {
      pollfd wait{process.Get(), POLLIN, 0};
      ::poll(&wait, 1, static_cast<int>(left));
    } else {
      timespec pause{0, 2'000'000};
      ::nanosleep(&pause, nullptr);
    }
  }
  if (!ended) {
    outcome.timedOut = true;
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  } else if (WIFEXITED(status)) {
    outcome.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome.signal = WTERMSIG(status);
  }
  outcome.out = ReadBack(out.Get());
  outcome.err = ReadBack(err.Get());
  return outcome;
}

}  // namespace kv::platform
