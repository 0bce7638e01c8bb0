#include "Process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <cstring>
#include <stdexcept>

#include "TempHome.h"

extern char** environ;

namespace kvtest {
namespace fs = std::filesystem;

namespace {

// The command that runs `program` through env(1), which applies `env` to the current environment.
std::vector<std::string> WithEnv(const fs::path& program, const std::vector<std::string>& args, const Env& env) {
  std::vector<std::string> command{"/usr/bin/env"};
  for (const auto& [name, value] : env)
    value ? command.push_back(name + "=" + *value) : (void)command.insert(command.begin() + 1, {"-u", name});
  command.push_back(program.string());
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::string ReadFd(int fd) { return ReadFile("/proc/self/fd/" + std::to_string(fd)); }

}  // namespace

ProcessResult Run(const fs::path& program, const std::vector<std::string>& args, const Env& env,
                  std::chrono::milliseconds timeout) {
  // Not RunCommand: that keeps only the first 64 KiB of the output, and screenshots come through it.
  Child child(program, args, env);
  if (auto result = child.Wait(timeout)) return *result;
  kill(-child.Pid(), SIGKILL);
  ProcessResult result = child.Wait(std::chrono::seconds(5)).value_or(ProcessResult{});
  result.timedOut = true;
  return result;
}

Child::Child(const fs::path& program, const std::vector<std::string>& args, const Env& env)
    : out_(memfd_create("kvtest-out", MFD_CLOEXEC)), err_(memfd_create("kvtest-err", MFD_CLOEXEC)) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_, 1);
  posix_spawn_file_actions_adddup2(&actions, err_, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group, so the test can end it with everything it started.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  std::vector<std::string> command = WithEnv(program, args, env);
  std::vector<char*> argv;
  for (auto& arg : command) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int rc = posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) throw std::runtime_error("cannot start " + program.string() + ": " + std::strerror(rc));
}

Child::~Child() {
  if (!result_ && pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(out_);
  close(err_);
}

bool Child::Running() {
  int status = 0;
  if (result_ || waitpid(pid_, &status, WNOHANG) != pid_) return !result_;
  result_ = ProcessResult{.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                          .signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0, .out = OutSoFar(), .err = ErrSoFar()};
  return false;
}

std::optional<ProcessResult> Child::Wait(std::chrono::milliseconds timeout) {
  return WaitFor([&] { return !Running(); }, timeout) ? result_ : std::nullopt;
}

void Child::Signal(int signal) {
  if (!result_ && pid_ > 0) kill(pid_, signal);
}

std::string Child::ErrSoFar() const { return ReadFd(err_); }
std::string Child::OutSoFar() const { return ReadFd(out_); }

}  // namespace kvtest
