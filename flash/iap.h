#pragma once
// Flash command sequences: the chip's IAP firmware does the flash work on
// commands handed to it through the programming registers 0xE0..0xE7, with
// block descriptors staged in the chip's own memory. Each command writes its
// parameters, writes its code to 0xE0, waits for the chip on the bare bus
// lines and reads the status byte from 0xE7 (0 = success).
#include <cstdint>

namespace morvane {

inline constexpr uint8_t kIapCommand = 0xE0;
inline constexpr uint8_t kIapAnswerRegister = 0xE1;
inline constexpr uint8_t kIapParameter = 0xE3;
inline constexpr uint8_t kIapAddressLow = 0xE4;
inline constexpr uint8_t kIapAddressMid = 0xE5;
inline constexpr uint8_t kIapAddressHigh = 0xE6;
inline constexpr uint8_t kIapStatus = 0xE7;

inline constexpr uint8_t kCmdQuery = 0x03;
inline constexpr uint8_t kCmdReadInfo = 0x09;
inline constexpr uint8_t kCmdProgramBlock = 0x0B;
inline constexpr uint8_t kCmdRestart = 0x0C;
inline constexpr uint8_t kCmdReadBlock = 0x0D;
inline constexpr uint8_t kCmdSetMark = 0x0E;
inline constexpr uint8_t kCmdSetProtection = 0x0F;
inline constexpr uint8_t kCmdEraseChip = 0x10;
inline constexpr uint8_t kCmdLockBootBlock = 0x11;

inline constexpr uint32_t kProgramDescriptorAddress = 0x1000;
inline constexpr uint32_t kReadDescriptorAddress = 0x90000;
inline constexpr uint32_t kReadWorkArea = 0x90000;
inline constexpr uint32_t kReadDataAddress = 0x90100;
inline constexpr uint32_t kDescriptorDataOffset = 0x100;
inline constexpr int kDescriptorSize = 12;

inline constexpr uint32_t kIapWaitLimitMs = 60000;

inline constexpr uint8_t kInfoFlashId = 1;
inline constexpr uint8_t kInfoBootState = 2;  // bit 0 set: boot block locked

// The 12-byte block descriptor, every field big-endian: page size, the data's
// chip-memory address (work area + 0x100), first and last flash address in
// 24 bits each.
struct BlockDescriptor {
  uint8_t bytes[kDescriptorSize];
};
BlockDescriptor MakeBlockDescriptor(uint16_t pageSize, uint32_t workArea, uint32_t first, uint32_t last);

// The completion wait: the chip handshake with 60 s for each phase. A
// time-out is not reported; the caller reads the status all the same.
void IapWaitDone();

uint8_t IapProgramBlock(uint32_t workArea, uint16_t pageSize, uint32_t first, uint32_t count);
// Has the chip read count + 1 bytes from first into work area + 0x100.
uint8_t IapReadBlock(uint32_t workArea, uint16_t pageSize, uint32_t first, uint32_t count);
uint8_t IapSetMark(uint16_t value, uint8_t mark);
uint8_t IapSetProtection(uint8_t state);
// value is written only when the status is 0.
uint8_t IapReadInfo(uint8_t item, uint16_t& value);
uint8_t IapEraseChip();
uint8_t IapLockBootBlock();
// Always 0: the restarted chip leaves no status to read.
uint8_t IapRestart();

}  // namespace morvane
