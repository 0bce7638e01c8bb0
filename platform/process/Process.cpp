#include "kvplatform/process/Process.h"

#include "Launcher.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern char** environ;

namespace kv::platform {

namespace {

Result<pid_t> Spawn(const std::filesystem::path& program, const std::vector<std::string>& args);

}  // namespace

Result<pid_t> StartDetached(const std::filesystem::path& program, const std::vector<std::string>& args) {
  Result<pid_t> started = Fail("cannot start " + program.string());
  OnLauncher([&] { started = Spawn(program, args); });
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
  MakeLauncher();
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
