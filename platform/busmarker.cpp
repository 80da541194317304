#include "platform/busmarker.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

namespace morvane {

BusMarkerHandle::BusMarkerHandle(BusMarkerHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

BusMarkerHandle& BusMarkerHandle::operator=(BusMarkerHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

BusMarkerHandle::~BusMarkerHandle() { Close(); }

void BusMarkerHandle::Close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

BusMarkerResult AcquireBusMarker(std::string_view name) {
  BusMarkerResult result;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // An abstract name starts with a NUL byte; the rest is the name itself,
  // its length given by the address length, not by a terminator.
  if (name.empty() || name.size() + 1 > sizeof addr.sun_path) {
    result.error = "The bus marker name \"" + std::string(name) +
                   "\" is empty or too long; use a name of at most " +
                   std::to_string(sizeof addr.sun_path - 1) + " characters.";
    return result;
  }
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    result.error = std::string("Cannot create the bus marker socket: ") + std::strerror(errno) +
                   ". Check the process's limit of open files.";
    return result;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EADDRINUSE) {
      result.state = BusMarkerState::Held;
    } else {
      result.error = std::string("Cannot take the bus marker: ") + std::strerror(err) + ".";
    }
    return result;
  }
  result.state = BusMarkerState::Acquired;
  result.handle = BusMarkerHandle(fd);
  return result;
}

}  // namespace morvane
