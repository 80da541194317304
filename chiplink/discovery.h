#pragma once
// Bus discovery: calibrates the delay unit, claims the bus with the bus
// marker, finds the port whose adapter answers and carries a slave, settles
// the slave address, identifies the chip and asks whether its IAP firmware
// runs.
#include <cstdint>
#include <string>

#include "platform/busmarker.h"

namespace morvane {

struct PortCandidate {
  uint16_t port;
  bool vga;
};
// Tried in this order.
inline constexpr PortCandidate PortCandidates[] = {
    {0x378, false}, {0x278, false}, {0x3BC, false}, {0x2BC, false}, {0x3D4, true}, {0x3CE, true},
};

// Probed in this order; an address not listed has kind 0.
struct SlaveCandidate {
  uint8_t address;
  uint8_t kind;
};
inline constexpr SlaveCandidate SlaveCandidates[] = {
    {0x7E, 0}, {0x7C, 0}, {0x86, 1}, {0x84, 1}, {0x6C, 2}, {0x82, 2},
};

// What a VGA controller's sequencer register 0x0B reads when its DDC lines
// can carry the bus.
inline constexpr uint8_t kSupportedVgaIds[] = {0xF3, 0xD3};

// A chip at an address of kind 2 is not identified, yet the link counts as
// connected only with a nonzero ChipId: it gets this value, which lies above
// the 24 bits of any real identification.
inline constexpr uint32_t kUnidentifiedChipId = 0x01000000;

inline constexpr uint8_t kIapRunning = 5;

// The bus marker this process holds, if any.
extern BusMarkerHandle BusMarker;

// The marker name discovery uses (tests use names of their own).
void SetBusMarkerName(std::string name);

void CalibrateDelay();
bool AdapterAnswers();
void ScanSlaves();
// Returns ChipId: 0 when no chip was found or the bus is held elsewhere.
uint32_t DiscoverBus();
// The IAP presence query: the answer byte, 5 when the IAP firmware runs.
uint8_t IapQuery();
void CloseBusMarker();

}  // namespace morvane
