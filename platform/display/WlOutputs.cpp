// The outputs of any Wayland compositor, through its wl_output globals and,
// where offered, xdg_output for positions and names. Every wait on the
// compositor is a poll() against one deadline, so a compositor that accepts
// the connection and never answers costs the timeout and no more.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "OutputList.h"
#include "WaylandMonitors.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace kv::platform {

namespace {

using Clock = std::chrono::steady_clock;

// More outputs than any desk has; a compositor announcing more is not
// believed beyond this.
constexpr std::size_t kMaxOutputs = 64;

struct Output {
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  std::uint32_t version = 1;
  std::string name;
  std::string xdgName;
  std::int32_t geometryX = 0;
  std::int32_t geometryY = 0;
  std::int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;
  std::int32_t modeWidth = 0;
  std::int32_t modeHeight = 0;
  bool logicalPositionKnown = false;
  std::int32_t logicalX = 0;
  std::int32_t logicalY = 0;
};

// The connection and every object made on it, released in the order the
// library wants: the objects first, the display last.
struct Connection {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  zxdg_output_manager_v1* manager = nullptr;
  std::vector<std::unique_ptr<Output>> outputs;

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    for (auto& output : outputs) {
      if (output->xdg) zxdg_output_v1_destroy(output->xdg);
      if (output->version >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release(output->output);
      } else {
        wl_output_destroy(output->output);
      }
    }
    if (manager) zxdg_output_manager_v1_destroy(manager);
    if (registry) wl_registry_destroy(registry);
    if (display) wl_display_disconnect(display);
  }
};

Output& Of(void* data) { return *static_cast<Output*>(data); }

void OnGeometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, std::int32_t,
                const char*, const char*, std::int32_t transform) {
  Of(data).geometryX = x;
  Of(data).geometryY = y;
  Of(data).transform = transform;
}

void OnMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height, std::int32_t) {
  if (flags & WL_OUTPUT_MODE_CURRENT) {
    Of(data).modeWidth = width;
    Of(data).modeHeight = height;
  }
}

void OnOutputDone(void*, wl_output*) {}
void OnScale(void*, wl_output*, std::int32_t) {}
void OnName(void* data, wl_output*, const char* name) { Of(data).name = name ? name : ""; }
void OnDescription(void*, wl_output*, const char*) {}

const wl_output_listener kOutputListener = {OnGeometry, OnMode, OnOutputDone, OnScale, OnName, OnDescription};

void OnLogicalPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
  Of(data).logicalPositionKnown = true;
  Of(data).logicalX = x;
  Of(data).logicalY = y;
}
void OnLogicalSize(void*, zxdg_output_v1*, std::int32_t, std::int32_t) {}
void OnXdgDone(void*, zxdg_output_v1*) {}
void OnXdgName(void* data, zxdg_output_v1*, const char* name) { Of(data).xdgName = name ? name : ""; }
void OnXdgDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener kXdgOutputListener = {OnLogicalPosition, OnLogicalSize, OnXdgDone, OnXdgName,
                                                    OnXdgDescription};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t id, const char* interface, std::uint32_t version) {
  Connection& connection = *static_cast<Connection*>(data);
  if (std::strcmp(interface, wl_output_interface.name) == 0 && connection.outputs.size() < kMaxOutputs) {
    auto output = std::make_unique<Output>();
    // Version 4 adds the connector's name; nothing later is needed.
    output->version = std::min<std::uint32_t>(version, 4);
    output->output = static_cast<wl_output*>(wl_registry_bind(registry, id, &wl_output_interface, output->version));
    wl_output_add_listener(output->output, &kOutputListener, output.get());
    connection.outputs.push_back(std::move(output));
  } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && !connection.manager) {
    connection.manager = static_cast<zxdg_output_manager_v1*>(
        wl_registry_bind(registry, id, &zxdg_output_manager_v1_interface, std::min<std::uint32_t>(version, 3)));
  }
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnSyncDone(void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }

const wl_callback_listener kSyncListener = {OnSyncDone};

// The compositor's socket, connected without waiting: a compositor whose
// queue of connections is full counts as not answering.
Result<int> ConnectSocket() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  std::string path = display && *display ? display : "wayland-0";
  if (path.front() != '/') {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return Fail(ErrorCode::NotFound, "XDG_RUNTIME_DIR is not set, so " + path + " cannot be found");
    path = std::string(runtime) + "/" + path;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return Fail(ErrorCode::NotFound, "the socket path " + path + " is too long");
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Fail("cannot make a socket: " + std::string(std::strerror(errno)));
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    int error = errno;
    ::close(fd);
    ErrorCode code = error == EAGAIN ? ErrorCode::Busy : ErrorCode::NotFound;
    return Fail(code, "no Wayland compositor at " + path + ": " + std::strerror(error));
  }
  return fd;
}

// Sends what is queued and handles events until the compositor has
// answered everything asked so far, or the deadline passes.
Status RoundTrip(wl_display* display, Clock::time_point deadline) {
  bool done = false;
  std::unique_ptr<wl_callback, void (*)(wl_callback*)> sync(wl_display_sync(display), wl_callback_destroy);
  if (!sync) return Fail("cannot ask the Wayland compositor to answer");
  wl_callback_add_listener(sync.get(), &kSyncListener, &done);
  const int fd = wl_display_get_fd(display);
  while (!done) {
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) return Fail("the Wayland connection broke");
    }
    short events = POLLIN;
    if (wl_display_flush(display) < 0) {
      if (errno != EAGAIN) {
        wl_display_cancel_read(display);
        return Fail("the Wayland connection broke");
      }
      events |= POLLOUT;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{fd, events, 0};
    int ready = left > 0 ? ::poll(&entry, 1, static_cast<int>(std::min<long long>(left, 60'000))) : 0;
    if (ready < 0 && errno == EINTR) {
      wl_display_cancel_read(display);
      continue;
    }
    if (ready <= 0) {
      wl_display_cancel_read(display);
      return Fail(ErrorCode::Busy, "the Wayland compositor did not answer in time");
    }
    if (entry.revents & (POLLIN | POLLHUP | POLLERR)) {
      if (wl_display_read_events(display) < 0) return Fail("the Wayland connection broke");
    } else {
      wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) return Fail("the Wayland connection broke");
  }
  return Ok();
}

}  // namespace

Result<std::vector<Monitor>> QueryWlOutputs(std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  const std::string source = "the Wayland compositor's wl_output list";
  KV_TRY_ASSIGN(int fd, ConnectSocket());
  Connection connection;
  connection.display = wl_display_connect_to_fd(fd);
  // The library closes the socket itself when it cannot take it.
  if (!connection.display) return Fail("cannot talk to the Wayland compositor");
  connection.registry = wl_display_get_registry(connection.display);
  wl_registry_add_listener(connection.registry, &kRegistryListener, &connection);
  KV_TRY(RoundTrip(connection.display, deadline));
  if (connection.manager) {
    for (auto& output : connection.outputs) {
      output->xdg = zxdg_output_manager_v1_get_xdg_output(connection.manager, output->output);
      zxdg_output_v1_add_listener(output->xdg, &kXdgOutputListener, output.get());
    }
  }
  KV_TRY(RoundTrip(connection.display, deadline));

  std::vector<OutputFacts> facts;
  for (const auto& output : connection.outputs) {
    OutputFacts fact;
    fact.name = !output->name.empty() ? output->name : output->xdgName;
    fact.x = output->logicalPositionKnown ? output->logicalX : output->geometryX;
    fact.y = output->logicalPositionKnown ? output->logicalY : output->geometryY;
    fact.width = output->modeWidth;
    fact.height = output->modeHeight;
    // The odd transforms are the quarter turns, mirrored or not.
    fact.turned = output->transform % 2 != 0;
    facts.push_back(std::move(fact));
  }
  if (facts.empty()) return Fail(ErrorCode::Corrupt, "the Wayland compositor announces no output");
  return MonitorsFrom(std::move(facts), source);
}

}  // namespace kv::platform
