#pragma once

// A private D-Bus session bus for one test, so that desktop programs and the
// settings daemons they start talk only to each other. Its address is put in
// DBUS_SESSION_BUS_ADDRESS while the object lives; the bus (and with it every
// service it started) ends when the object is destroyed.

#include <sys/types.h>

#include <optional>
#include <string>

namespace kvtest {

class SessionBus {
 public:
  SessionBus();
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  const std::string& Address() const { return address_; }

 private:
  pid_t daemon_ = -1;
  std::string address_;
  std::optional<std::string> saved_;
};

}  // namespace kvtest
