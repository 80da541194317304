#pragma once
// The chip's register interface: the one way the rest of the system reads
// and writes the chip's registers (with page tracking), applies register
// tables, identifies the chip variant and loads the chip's own memory
// through its memory port.
#include <cstdint>
#include <span>

namespace morvane {

inline constexpr uint8_t kPageRegister = 0xFF;
inline constexpr uint8_t kGuardRegister = 0xFE;  // only ever written with 0x00
inline constexpr char kSetFeText[] = "Set FE register.";

// Memory port, on page 0x04.
inline constexpr uint8_t kMemoryPage = 0x04;
inline constexpr uint8_t kMemData = 0xEF;
inline constexpr uint8_t kMemPointerLoad = 0xF1;
inline constexpr uint8_t kMemControl = 0xF2;
inline constexpr uint8_t kWriteChannel = 8;
inline constexpr uint8_t kReadChannel = 7;

uint8_t RegRead(uint8_t reg);
void RegWrite(uint8_t reg, uint8_t value);
// One read, then one write with the bits set or cleared.
void RegUpdateBits(uint8_t reg, uint8_t bits, bool set);
// Fills ChipVariant from the identification registers (selects page 0x02).
void DetectChipVariant();

// A register table: flags (bit 0: a mask list follows the registers), N
// big-endian, M, M mode identifiers, N registers, [N masks], M rows of N
// values. Writes the row of the first mode identifier equal to mode; a null
// table or an unknown mode writes nothing.
void ApplyRegisterTable(const uint8_t* table, uint8_t mode);
// A list of (register, value) pairs ended by (0xFF, 0xFF), written in order.
void ApplyRegisterPairs(const uint8_t* pairs);

void MemPortPrepare();
// Loads the write pointer (channel 8) or the read pointer (channel 7) with
// the low 24 bits of address.
void SetMemPointer(uint8_t channel, uint32_t address);
void MemWriteFinish();
// Copies count bytes into chip memory at address in one burst.
void WriteChipMemory(uint32_t address, uint16_t count, const uint8_t* data);

// Takes BusLock and opens a write to reg that stays open; BurstEnd closes it
// with a stop and releases the lock.
void BurstBegin(uint8_t reg);
void BurstEnd();

constexpr uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
constexpr uint32_t Swap32(uint32_t v) {
  return (static_cast<uint32_t>(Swap16(static_cast<uint16_t>(v))) << 16) | Swap16(static_cast<uint16_t>(v >> 16));
}

// The chip's programming-state settings (one mode, 0x00) and the pairs
// written right after them.
extern const uint8_t ChipInitTable[];
extern const std::size_t ChipInitTableSize;
extern const uint8_t ChipInitPairs[];
extern const std::size_t ChipInitPairsSize;

}  // namespace morvane
