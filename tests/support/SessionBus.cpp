#include "SessionBus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <vector>

#include "Process.h"

extern char** environ;

namespace kvtest {

SessionBus::SessionBus() {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args{"dbus-daemon", "--session", "--nofork", "--print-address=1"};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int rc = posix_spawnp(&daemon_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    throw std::runtime_error("cannot start dbus-daemon");
  }
  fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
  bool done = WaitFor(
      [&] {
        char c;
        while (read(pipeFds[0], &c, 1) == 1) {
          if (c == '\n') return true;
          address_ += c;
        }
        return false;
      },
      std::chrono::seconds(30));
  close(pipeFds[0]);
  if (!done || address_.empty()) {
    kill(daemon_, SIGKILL);
    waitpid(daemon_, nullptr, 0);
    throw std::runtime_error("dbus-daemon did not start");
  }
  if (const char* old = getenv("DBUS_SESSION_BUS_ADDRESS")) saved_ = old;
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

SessionBus::~SessionBus() {
  if (saved_) {
    setenv("DBUS_SESSION_BUS_ADDRESS", saved_->c_str(), 1);
  } else {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
  kill(daemon_, SIGTERM);
  waitpid(daemon_, nullptr, 0);
}

}  // namespace kvtest
