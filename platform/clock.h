#pragma once
// Time sources of the chip link: the millisecond tick count that bounds the
// chip handshakes, and the high-resolution counter that calibrates the bit
// delay. Both can be replaced, so that the simulator can supply its own time
// and tests can run a 60-second limit without waiting for it.
#include <cstdint>

namespace morvane {

// Milliseconds since some fixed moment; wraps at 2^32 like a tick count.
uint32_t TickCount();

// The high-resolution counter and its frequency in counts per second.
int64_t PerformanceCounter();
int64_t PerformanceFrequency();

// A replaceable time source. Null members fall back to the system clocks.
struct TimeSource {
  uint32_t (*tickCount)(void* context) = nullptr;
  int64_t (*performanceCounter)(void* context) = nullptr;
  int64_t (*performanceFrequency)(void* context) = nullptr;
  void* context = nullptr;
};

// Installs a time source; returns the previous one. A default-constructed
// source restores the system clocks.
TimeSource SetTimeSource(const TimeSource& source);

}  // namespace morvane
