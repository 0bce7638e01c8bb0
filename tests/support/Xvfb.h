#pragma once

// A private X server for one test: Xvfb on a free display number, started
// with -noreset so a retained root pixmap survives its last client, and
// optionally a window manager on it. Ended when the object is destroyed.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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
  // Sets DISPLAY in this process's environment, so children inherit it.
  void Export() const;

  // Ends the server at once (SIGKILL), as a crash or a log-off would.
  void Kill();

  // Starts openbox on the display and waits until it manages the screen.
  void StartWindowManager();

  // The root window's pixels as a client sees them.
  Image CaptureRoot() const;
  // The pixels of the top-level window whose WM_NAME is `title`, or an
  // empty image when there is none.
  Image CaptureWindow(const std::string& title) const;
  // True when a top-level window titled `title` is mapped.
  bool HasWindow(const std::string& title) const;
  // For failure messages: whether a window of that title exists, and its map state.
  std::string DescribeWindow(const std::string& title) const;

 private:
  pid_t server_ = -1;
  pid_t windowManager_ = -1;
  std::string display_;
};

// Saves `image` as a PNG file (for screenshots a person can look at).
void SavePng(const Image& image, const std::filesystem::path& file);

// The folder where tests leave their screenshots: build/tests/screenshots.
std::filesystem::path ScreenshotDir();

}  // namespace kvtest
