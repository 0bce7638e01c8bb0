#pragma once

// A private X server for one test: Xvfb on a free display number, started with -noreset so a retained root pixmap
// survives its last client, and optionally a window manager on it. Ended when the object is destroyed.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Process.h"

namespace kvtest {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // top row first, 3 bytes per pixel
  std::uint32_t Pixel(int x, int y) const {  // 0xRRGGBB
    const std::uint8_t* p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
  }
  // How many pixels `ink` picks (given 0xRRGGBB), and the box holding them (inclusive; left > right when none).
  struct Ink { long count = 0; int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1; };
  Ink InkWhere(const std::function<bool(std::uint32_t)>& ink) const;
};

class Xvfb {
 public:
  // Starts Xvfb with one screen of width x height x 24 bits.
  Xvfb(int width = 1024, int height = 768);
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  const std::string& Display() const { return display_; }  // ":N"
  pid_t Pid() const { return server_->Pid(); }
  void Export() const;  // sets DISPLAY in this process's environment, so children inherit it
  void Kill();  // at once (SIGKILL), as a crash or a log-off would
  void StartWindowManager();  // openbox, waited for until it manages the screen
  // Adds a RandR monitor as `xrandr --setmonitor` does; the first one takes the server's output.
  void AddMonitor(const std::string& name, int x, int y, int width, int height, bool primary);
  Image CaptureRoot() const;  // as a client sees it
  // The pixels of the top-level window whose WM_NAME is `title`, or an empty image when there is none.
  Image CaptureWindow(const std::string& title) const;
  bool HasWindow(const std::string& title) const;  // a top-level window titled `title` is mapped

 private:
  std::unique_ptr<Child> server_, windowManager_;
  int monitorsAdded_ = 0;
  std::string display_;
};

// Screenshots a person can look at, saved as PNG files under build/tests/screenshots.
void SavePng(const Image& image, const std::filesystem::path& file);
std::filesystem::path ScreenshotDir();

}  // namespace kvtest
