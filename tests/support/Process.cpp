#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "TempHome.h"

extern char** environ;

namespace kvtest {
namespace fs = std::filesystem;

namespace {

std::vector<std::string> MergedEnvironment(const std::map<std::string, std::optional<std::string>>& env) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry; ++entry) {
    if (const char* equals = std::strchr(*entry, '=')) merged[std::string(*entry, equals - *entry)] = equals + 1;
  }
  for (const auto& [name, value] : env) value ? (void)(merged[name] = *value) : (void)merged.erase(name);
  std::vector<std::string> result;
  for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
  return result;
}

fs::path TempFile(const char* tag) {
  std::string pattern = (fs::temp_directory_path() / (std::string("kvproc-") + tag + "-XXXXXX")).string();
  int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  return pattern;
}

pid_t Spawn(const fs::path& program, const std::vector<std::string>& args,
            const std::map<std::string, std::optional<std::string>>& env, const fs::path& out, const fs::path& err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_TRUNC, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group, so the test can end it with everything it started.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  std::vector<std::string> argvStrings{program.string()}, envStrings = MergedEnvironment(env);
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv, envp;
  for (auto& arg : argvStrings) argv.push_back(arg.data());
  for (auto& entry : envStrings) envp.push_back(entry.data());
  argv.push_back(nullptr), envp.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) throw std::runtime_error("cannot start " + program.string() + ": " + std::strerror(rc));
  return pid;
}

ProcessResult Collected(int status, const fs::path& out, const fs::path& err) {
  ProcessResult result{.out = ReadFile(out), .err = ReadFile(err)};
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace

ProcessResult Run(const fs::path& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::optional<std::string>>& env, std::chrono::milliseconds timeout) {
  Child child(program, args, env);
  if (auto result = child.Wait(timeout)) return *result;
  child.Signal(SIGKILL);
  ProcessResult result = child.Wait(std::chrono::seconds(5)).value_or(ProcessResult{});
  result.timedOut = true;
  return result;
}

Child::Child(const fs::path& program, const std::vector<std::string>& args,
             const std::map<std::string, std::optional<std::string>>& env)
    : outFile_(TempFile("out")), errFile_(TempFile("err")) {
  pid_ = Spawn(program, args, env, outFile_, errFile_);
}

Child::~Child() {
  if (!result_ && pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  std::error_code ignored;
  fs::remove(outFile_, ignored);
  fs::remove(errFile_, ignored);
}

bool Child::Running() {
  if (result_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  result_ = Collected(status, outFile_, errFile_);
  return false;
}

std::optional<ProcessResult> Child::Wait(std::chrono::milliseconds timeout) {
  return WaitFor([&] { return !Running(); }, timeout) ? result_ : std::nullopt;
}

void Child::Signal(int signal) {
  if (!result_ && pid_ > 0) kill(pid_, signal);
}

std::string Child::ErrSoFar() const { return ReadFile(errFile_); }
std::string Child::OutSoFar() const { return ReadFile(outFile_); }

}  // namespace kvtest
