#pragma once
// The bus marker: the machine-wide sign that one process holds the I2C bus.
// Only one holder exists at a time; a second process that asks is refused.
// The system releases the marker when the holder ends, however it ends
// (normal exit, crash, SIGKILL), so there is never a stale marker to remove.
//
// On Linux the marker is a Unix socket bound to a name in the abstract
// namespace: binding is atomic, a second bind of the name fails, and the
// kernel drops the name when the last descriptor of the socket closes, which
// it does itself for a process that ends. The descriptor is close-on-exec,
// so programs the holder starts do not keep the bus.
#include <string>
#include <string_view>

namespace morvane {

// The name of the marker every copy of the program uses.
inline constexpr std::string_view kBusMarkerName = "VELQObject";

// An open marker; closing it (or destroying it) releases the bus.
class BusMarkerHandle {
 public:
  BusMarkerHandle() = default;
  explicit BusMarkerHandle(int fd) : fd_(fd) {}
  BusMarkerHandle(BusMarkerHandle&& other) noexcept;
  BusMarkerHandle& operator=(BusMarkerHandle&& other) noexcept;
  BusMarkerHandle(const BusMarkerHandle&) = delete;
  BusMarkerHandle& operator=(const BusMarkerHandle&) = delete;
  ~BusMarkerHandle();

  bool IsOpen() const { return fd_ >= 0; }
  // Releases the marker; does nothing when none is open.
  void Close();

 private:
  int fd_ = -1;
};

enum class BusMarkerState {
  Acquired,  // this process holds the bus now
  Held,      // another holder has it (another process, or this one already)
  Failed,    // the system refused for another reason; see error
};

struct BusMarkerResult {
  BusMarkerState state = BusMarkerState::Failed;
  BusMarkerHandle handle;  // open only when state is Acquired
  std::string error;       // what went wrong when state is Failed
};

// Tries to take the marker of the given name, without waiting. Tests pass a
// name of their own so as not to meet a copy of the program running beside
// them. Names longer than the socket address allows are refused as Failed.
BusMarkerResult AcquireBusMarker(std::string_view name = kBusMarkerName);

}  // namespace morvane
