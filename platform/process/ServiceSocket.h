#pragma once

// What the service's socket and its clients share inside the platform layer:
// an owned descriptor, the socket address of a path, and the close request.

#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

#include "kvplatform/base/Result.h"

namespace kv::platform::socket_detail {

constexpr std::string_view kCloseRequest = "close\n";
constexpr std::string_view kCloseAnswer = "closed\n";

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

inline std::string Errno() { return std::strerror(errno); }

inline Result<sockaddr_un> Address(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.native().size() >= sizeof address.sun_path) {
    return Fail("the socket path " + path.string() + " is too long; set XDG_RUNTIME_DIR to a shorter folder");
  }
  std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
  return address;
}

}  // namespace kv::platform::socket_detail
