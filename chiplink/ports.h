#pragma once
// Port access, the lowest layer of the chip link: single-byte input and
// output on the PC's I/O ports. What answers behind the ports (the real
// ports, a parallel port reached through the kernel, or the simulated
// adapter) is a PortSpace installed once when the link starts.
#include <cstdint>

namespace morvane {

class PortSpace {
 public:
  virtual ~PortSpace() = default;
  virtual uint8_t In(uint16_t port) = 0;
  virtual void Out(uint16_t port, uint8_t value) = 0;
};

// Ports at or below this number are never touched; reading one gives the
// value of a floating bus.
inline constexpr uint16_t kLowestTouchedPort = 0x200;
inline constexpr uint8_t kFloatingBus = 0xFF;

namespace detail {
extern PortSpace* g_portSpace;  // never null: a space with nothing behind it by default
}

// Installs the port space; null installs one with nothing behind it (every
// read floats high, every write is lost). Returns the previous one.
PortSpace* SetPortSpace(PortSpace* space);
PortSpace* CurrentPortSpace();

inline uint8_t PortIn(uint16_t port) {
  if (port <= kLowestTouchedPort) return kFloatingBus;
  return detail::g_portSpace->In(port);
}

inline void PortOut(uint16_t port, uint8_t value) {
  if (port <= kLowestTouchedPort) return;
  detail::g_portSpace->Out(port, value);
}

}  // namespace morvane
