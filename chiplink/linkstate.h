#pragma once
// The chip link's state: one set of process-wide variables, shared by the
// line, transaction, register, discovery and start-up code. Plain variables,
// as the link runs one chip operation at a time; BusLock serialises the
// register transactions and bursts.
#include <cstdint>
#include <mutex>

namespace morvane {

inline constexpr int kMaxFoundSlaves = 8;

struct FoundSlave {
  uint8_t address;  // 8-bit form
  uint8_t kind;     // 0, 1 or 2
};

// Port through which the bus is reached: 0x3D4 or 0x3CE for the DDC lines
// of a VGA controller, anything else the base of a parallel-port adapter.
extern uint16_t BusPort;
// Line bits last written to the bus port.
extern uint8_t LineShadow;
// VGA kind only: leave SDA free during the next rise of SCL.
extern bool SdaReleased;
// Delay-loop iterations per delay unit (about one microsecond).
extern int32_t LoopsPerUnit;
// Pause after each line change, in delay units.
extern int32_t WaitUnits;
// The chip's slave address in 8-bit form, and the kind of that address.
extern uint8_t SlaveAddress;
extern uint8_t SlaveKind;
extern FoundSlave FoundSlaves[kMaxFoundSlaves];
extern int32_t FoundCount;
// 24-bit chip identification; 0 while no chip is identified.
extern uint32_t ChipId;
// Answer of the IAP presence query (5 while the IAP firmware runs); cleared
// when a chip handshake runs out of time.
extern uint8_t IapAnswer;
// Serialises register transactions and whole bursts; re-entrant for the
// thread that holds it.
extern std::recursive_mutex BusLock;
// Last value written to the page register 0xFF.
extern uint8_t CurrentPage;
// Family code (high nibble) and revision (low nibble) of the chip.
extern uint8_t ChipVariant;

inline constexpr uint16_t kVgaCrtcIndex = 0x3D4;
inline constexpr uint16_t kVgaGraphicsIndex = 0x3CE;

inline bool IsVgaPort(uint16_t port) { return port == kVgaCrtcIndex || port == kVgaGraphicsIndex; }

// Puts every variable above back to its value at process start (tests run
// many links in one process).
void ResetLinkState();

}  // namespace morvane
