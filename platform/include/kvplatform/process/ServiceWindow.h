#pragma once

// The running service's identity: a Unix-domain stream socket named after a
// window class and title, in the user's private runtime folder. Finding the
// service means connecting to it; closing it means sending a close request
// and waiting for the answer, as a sent window message waits.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "kvplatform/base/Result.h"

namespace kv::platform {

class EventLoop;

// The class name under which the service's window is known.
inline constexpr std::string_view kServiceWindowClass = "ThunderRT6FormDC";

// The socket's path for a class and title, in RuntimeDirectory().
[[nodiscard]] Result<std::filesystem::path> ServiceWindowPath(std::string_view className, std::string_view title);

// The service's side. The socket exists from Create until destruction; a
// socket file left behind by a process that died is replaced.
//
// Each request is one line, answered with one line. Requests are read
// without blocking, each within a deadline, so no peer, however slow,
// holds up the loop or the other peers.
class ServiceWindow {
 public:
  [[nodiscard]] static Result<ServiceWindow> Create(std::string_view className, std::string_view title);

  ServiceWindow(ServiceWindow&& other) noexcept;
  ServiceWindow& operator=(ServiceWindow&&) = delete;
  ServiceWindow(const ServiceWindow&) = delete;
  ServiceWindow& operator=(const ServiceWindow&) = delete;
  ~ServiceWindow();

  // What a request's handler answers (one line, without its newline), and
  // what runs once the answer has been sent.
  struct Reply {
    std::string answer;
    std::function<void()> after;
  };
  using Handler = std::function<Reply()>;

  // Handles the request `request` (the line without its newline) with
  // `handler`. A request nobody handles is answered "unknown".
  void Handle(std::string_view request, Handler handler);

  // Serves requests on `loop`, which must outlive the window.
  void Attach(EventLoop& loop);

  // The close request: runs `onClose` (which must not refuse), answers the
  // requester once it has run, then calls `afterClose` (typically to quit
  // the loop).
  void Attach(EventLoop& loop, std::function<void()> onClose, std::function<void()> afterClose);

  // True while the socket file at the window's path is still this window's
  // own (it was not removed or replaced).
  bool StillInPlace() const;
  // Makes the socket anew at its path after it was removed, so the window
  // can be found again. Fails when another service answers there now.
  [[nodiscard]] Status Restore();

 private:
  struct State;
  explicit ServiceWindow(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
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

// Sends one request line to the service and answers its answer line. Fails
// as CloseServiceWindow does (NotFound when there is no service), and when
// the service ends without answering.
[[nodiscard]] Result<std::string> SendServiceRequest(std::string_view className, std::string_view title,
                                                     std::string_view request, std::chrono::milliseconds timeout);

}  // namespace kv::platform
