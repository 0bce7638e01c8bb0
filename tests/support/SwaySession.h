#pragma once

// A private, headless sway session for one test: its own runtime folder and sockets, outputs laid out as asked. sway
// refuses root, so as root it (and every program of the session) runs as the system user "kvtest", made on first use.

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

struct OutputLayout { int width = 0, height = 0, x = 0, y = 0; };

class SwaySession {
 public:
  using Environment = std::map<std::string, std::optional<std::string>>;
  // Why sway cannot run on this machine at all, or nullopt when it can.
  static std::optional<std::string> Unavailable();
  // One output HEADLESS-<n> per layout, in order; throws std::runtime_error when the session does not come up.
  explicit SwaySession(const std::vector<OutputLayout>& outputs);
  ~SwaySession();
  SwaySession(const SwaySession&) = delete;
  SwaySession& operator=(const SwaySession&) = delete;
  // What a program inside the session sees (its Wayland variables; no DISPLAY, no Hyprland).
  Environment SessionEnvironment() const;
  void Export() const;  // into this process's own environment
  // Runs `program` as the session's user with the session's environment.
  ProcessResult Run(const std::filesystem::path& program, const std::vector<std::string>& args,
                    const Environment& env = {}, std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
  ProcessResult Swaymsg(const std::vector<std::string>& args) const;
  // Hands `folder` and everything in it to the session's user.
  void GiveToUser(const std::filesystem::path& folder) const;
  // Stops and resumes the compositor: a stopped one accepts connections and never answers.
  void Pause() const;
  void Resume() const;
  // What `output` shows, taken with grim; an empty image when that fails.
  Image Screenshot(const std::string& output) const;

 private:
  std::vector<std::string> AsUser(const std::filesystem::path& program, const std::vector<std::string>& args) const;
  std::filesystem::path IpcSocket() const { return runtimeDir_ / "sway-ipc.sock"; }
  std::filesystem::path runtimeDir_;
  std::string waylandDisplay_;
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
