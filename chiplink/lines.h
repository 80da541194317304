#pragma once
// Line-level I2C signalling: drives and samples the clock line SCL and the
// data line SDA through the bus port, either a parallel-port adapter (data
// port drives, status port reads back) or the DDC lines of a VGA controller
// (an extended register behind its index and data ports). Everything above
// speaks only in these four line operations and the delay.
#include <cstdint>

namespace morvane {

// Parallel-port adapter.
inline constexpr uint8_t kDataSclLow = 0x01;     // 1 pulls SCL low
inline constexpr uint8_t kDataSdaLow = 0x02;     // 1 pulls SDA low
inline constexpr uint8_t kDataIdle = 0xFC;       // both lines released
inline constexpr uint8_t kStatusScl = 0x20;      // SCL reads high
inline constexpr uint8_t kStatusSda = 0x10;      // SDA reads high

// VGA DDC extended register.
inline constexpr uint8_t kVgaSda = 0x01;         // write: SDA level; read: SDA line
inline constexpr uint8_t kVgaScl = 0x02;         // write: SCL level
inline constexpr uint8_t kVgaAlways = 0x04;      // always written as 1
inline constexpr uint8_t kVgaDriveSda = 0x08;    // SDA driven from bit 0
inline constexpr uint8_t kVgaReadScl = 0x40;     // read: SCL line
inline constexpr uint16_t kVgaSequencerIndex = 0x3C4;
inline constexpr uint16_t kVgaSequencerData = 0x3C5;

// How often SetScl to high looks for the line to rise before it gives up:
// a slave may stretch the clock for about this many delay units.
inline constexpr int kSclRiseAttempts = 1000;

inline constexpr char kSclErrorText[] = " Set 'SCL' ERROR.\n";
inline constexpr char kBusErrorQuestion[] = "I2C bus Error. Please check.\r\rDo you want to exit ?";
inline constexpr char kBusErrorCaption[] = "I2C bus Error";

// Busy-waits for the given number of delay units; 0 or fewer return at once.
void BusDelay(int32_t units);
// Unlocks the VGA controller's extended registers.
void UnlockVga();
void SetScl(bool high);
void SetSda(bool high);
bool GetScl();
bool GetSda();

}  // namespace morvane
