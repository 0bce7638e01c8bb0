#pragma once

// A private, headless sway session for one test: its own runtime folder,
// IPC socket and Wayland socket, with outputs of the sizes and positions a
// test asks for. sway refuses to run as root, so a test run as root starts
// it (and every program meant to live in the session) as the unprivileged
// system user "kvtest", made on first use. Ended when the object is
// destroyed.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Process.h"
#include "Xvfb.h"

namespace kvtest {

struct OutputLayout {
  int width = 0;
  int height = 0;
  int x = 0;
  int y = 0;
};

class SwaySession {
 public:
  using Environment = std::map<std::string, std::optional<std::string>>;

  // Why sway cannot run on this machine at all (not installed, or run as
  // root without a way to make the unprivileged user), or nullopt when it
  // can. Anything else that stops the session is a failure of the test.
  static std::optional<std::string> Unavailable();

  // Starts sway and lays out one output HEADLESS-<n> per entry (at least
  // one), in order.
  // Throws std::runtime_error when the session does not come up within a
  // generous bound.
  explicit SwaySession(const std::vector<OutputLayout>& outputs);
  ~SwaySession();
  SwaySession(const SwaySession&) = delete;
  SwaySession& operator=(const SwaySession&) = delete;

  pid_t Pid() const;
  const std::filesystem::path& RuntimeDir() const { return runtimeDir_; }
  // The Wayland socket's name in RuntimeDir() ("wayland-1").
  const std::string& WaylandDisplay() const { return waylandDisplay_; }
  std::filesystem::path IpcSocket() const { return runtimeDir_ / "sway-ipc.sock"; }
  // The output names, in the order of the layouts given.
  const std::vector<std::string>& OutputNames() const { return outputNames_; }

  // What a program inside the session sees: WAYLAND_DISPLAY, SWAYSOCK,
  // XDG_RUNTIME_DIR and XDG_CURRENT_DESKTOP set; DISPLAY and a Hyprland
  // signature removed.
  Environment SessionEnvironment() const;
  // Puts SessionEnvironment() into this process's own environment.
  void Export() const;

  // Runs `program` as the session's user with the session's environment on
  // top of this process's (and `env` on top of that).
  ProcessResult Run(const std::filesystem::path& program, const std::vector<std::string>& args,
                    const Environment& env = {}, std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
  // swaymsg with `args` against this session.
  ProcessResult Swaymsg(const std::vector<std::string>& args) const;

  // Hands `folder` and everything in it to the session's user, so programs
  // run with Run() can write there (a test's TempHome, for example).
  void GiveToUser(const std::filesystem::path& folder) const;

  // Stops and resumes the compositor (SIGSTOP / SIGCONT): a stopped one
  // accepts connections and never answers.
  void Pause() const;
  void Resume() const;

  // What `output` shows, taken with grim; an empty image when grim is not
  // installed or fails.
  Image Screenshot(const std::string& output) const;

 private:
  std::vector<std::string> AsUser(const std::filesystem::path& program, const std::vector<std::string>& args) const;

  std::filesystem::path runtimeDir_;
  std::string waylandDisplay_;
  std::vector<std::string> outputNames_;
  std::optional<uid_t> uid_;  // set when the session runs as another user
  std::optional<gid_t> gid_;
  std::unique_ptr<Child> sway_;
};

}  // namespace kvtest

// Skips the test when sway cannot run here at all.
#define KV_REQUIRE_SWAY()                                                           \
  do {                                                                              \
    if (auto kvSwayMissing = ::kvtest::SwaySession::Unavailable()) {                \
      GTEST_SKIP() << "no headless sway session possible here: " << *kvSwayMissing; \
    }                                                                               \
  } while (false)
