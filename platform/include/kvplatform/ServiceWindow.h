#pragma once

// The running service's identity: a Unix-domain stream socket named after a
// window class and title, in the user's private runtime folder. Finding the
// service means connecting to it; closing it means sending a close request
// and waiting for the answer, as a sent window message waits.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string_view>

#include "kvplatform/Result.h"

namespace kv::platform {

class EventLoop;

// The class name under which the service's window is known.
inline constexpr std::string_view kServiceWindowClass = "ThunderRT6FormDC";

// The socket's path for a class and title, in RuntimeDirectory().
[[nodiscard]] Result<std::filesystem::path> ServiceWindowPath(std::string_view className, std::string_view title);

// The service's side. The socket exists from Create until destruction; a
// socket file left behind by a process that died is replaced.
class ServiceWindow {
 public:
  [[nodiscard]] static Result<ServiceWindow> Create(std::string_view className, std::string_view title);

  ServiceWindow(ServiceWindow&& other) noexcept;
  ServiceWindow& operator=(ServiceWindow&&) = delete;
  ServiceWindow(const ServiceWindow&) = delete;
  ServiceWindow& operator=(const ServiceWindow&) = delete;
  ~ServiceWindow();

  // Serves requests on `loop`. A close request runs `onClose` (which must
  // not refuse), answers the requester once it has run, then calls
  // `afterClose` (typically to quit the loop).
  void Attach(EventLoop& loop, std::function<void()> onClose, std::function<void()> afterClose);

 private:
  ServiceWindow(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
  void Serve(int client);

  int fd_ = -1;
  std::filesystem::path path_;
  std::function<void()> onClose_;
  std::function<void()> afterClose_;
};

// What a look for the service's window finds. NotResponding is a service
// that listens but takes no connection now (its queue of connections is
// full: it is busy, or stopped); whether it will answer is unknown.
enum class ServiceWindowState { Absent, Present, NotResponding };

// Looks for a service window of that class and title. Never waits: it
// answers at once, whatever state the service is in.
ServiceWindowState ProbeServiceWindow(std::string_view className, std::string_view title);

// True when a service window of that class and title exists, answering or
// not. Never waits.
bool FindServiceWindow(std::string_view className, std::string_view title);

// Asks the service to close and waits until it has answered (its close
// handler has run). Fails when there is no such window, or when the request
// cannot be delivered or is not answered within `timeout`, which bounds the
// whole call. Can be called on any thread.
[[nodiscard]] Status CloseServiceWindow(std::string_view className, std::string_view title,
                                        std::chrono::milliseconds timeout);

}  // namespace kv::platform
