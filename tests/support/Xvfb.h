#pragma once

// A private X server for one test: Xvfb on a free display number, started with -noreset so a retained root pixmap
// survives its last client, and optionally a window manager on it. Ended when the object is destroyed.

#include <cstdint>
#include <filesystem>
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
};

class Xvfb {
 public:
  // Starts Xvfb with one screen of width x height x 24 bits.
  Xvfb(int width = 1024, int height = 768);
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // ":N", for DISPLAY.
  const std::string& Display() const { return display_; }
  // The server's process.
  pid_t Pid() const { return server_->Pid(); }
  // Sets DISPLAY in this process's environment, so children inherit it.
  void Export() const;

  // Ends the server at once (SIGKILL), as a crash or a log-off would.
  void Kill();

  // Starts openbox on the display and waits until it manages the screen.
  void StartWindowManager();

  // Adds a RandR monitor as `xrandr --setmonitor` does; the first one added takes the server's output, so that the
  // output is no monitor of its own.
  void AddMonitor(const std::string& name, int x, int y, int width, int height, bool primary);

  // The root window's pixels as a client sees them.
  Image CaptureRoot() const;
  // The pixels of the top-level window whose WM_NAME is `title`, or an empty image when there is none.
  Image CaptureWindow(const std::string& title) const;
  // True when a top-level window titled `title` is mapped.
  bool HasWindow(const std::string& title) const;

 private:
  std::unique_ptr<Child> server_;
  std::unique_ptr<Child> windowManager_;
  int monitorsAdded_ = 0;
  std::string display_;
};

// Saves `image` as a PNG file (for screenshots a person can look at).
void SavePng(const Image& image, const std::filesystem::path& file);

// The folder where tests leave their screenshots: build/tests/screenshots.
std::filesystem::path ScreenshotDir();

}  // namespace kvtest
