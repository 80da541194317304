#include "flash/iap.h"

#include "chiplink/i2c.h"
#include "chiplink/registers.h"

namespace morvane {
namespace {

void Put16(uint8_t* at, uint16_t host) {
  // Swap16 gives the chip's order; stored low byte first it reads high first.
  uint16_t chip = Swap16(host);
  at[0] = static_cast<uint8_t>(chip);
  at[1] = static_cast<uint8_t>(chip >> 8);
}

void Put32(uint8_t* at, uint32_t host) {
  uint32_t chip = Swap32(host);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(chip >> (8 * i));
}

// A 24-bit field: bits 16-23, then Swap16 of bits 0-15. Upper bits are lost.
void Put24(uint8_t* at, uint32_t address) {
  at[0] = static_cast<uint8_t>(address >> 16);
  Put16(at + 1, static_cast<uint16_t>(address));
}

uint8_t RunCommand(uint8_t code) {
  RegWrite(kIapCommand, code);
  IapWaitDone();
  return RegRead(kIapStatus);
}

uint8_t RunBlockCommand(uint8_t code, uint32_t descriptorAddress, const BlockDescriptor& descriptor) {
  RegWrite(kIapParameter, kDescriptorSize);
  RegWrite(kIapAddressLow, static_cast<uint8_t>(descriptorAddress));
  RegWrite(kIapAddressMid, static_cast<uint8_t>(descriptorAddress >> 8));
  RegWrite(kIapAddressHigh, static_cast<uint8_t>(descriptorAddress >> 16));
  WriteChipMemory(descriptorAddress, kDescriptorSize, descriptor.bytes);
  return RunCommand(code);
}

}  // namespace

BlockDescriptor MakeBlockDescriptor(uint16_t pageSize, uint32_t workArea, uint32_t first, uint32_t last) {
  BlockDescriptor d{};
  Put16(d.bytes, pageSize);
  Put32(d.bytes + 2, workArea + kDescriptorDataOffset);
  Put24(d.bytes + 6, first);
  Put24(d.bytes + 9, last);
  return d;
}

void IapWaitDone() { ChipHandshake(kIapWaitLimitMs, kIapWaitLimitMs); }

uint8_t IapProgramBlock(uint32_t workArea, uint16_t pageSize, uint32_t first, uint32_t count) {
  return RunBlockCommand(kCmdProgramBlock, kProgramDescriptorAddress,
                         MakeBlockDescriptor(pageSize, workArea, first, first + count - 1));
}

uint8_t IapReadBlock(uint32_t workArea, uint16_t pageSize, uint32_t first, uint32_t count) {
  return RunBlockCommand(kCmdReadBlock, kReadDescriptorAddress,
                         MakeBlockDescriptor(pageSize, workArea, first, first + count));
}

uint8_t IapSetMark(uint16_t value, uint8_t mark) {
  RegWrite(kIapParameter, mark);
  RegWrite(kIapAddressMid, static_cast<uint8_t>(value));
  RegWrite(kIapAddressHigh, static_cast<uint8_t>(value >> 8));
  return RunCommand(kCmdSetMark);
}

uint8_t IapSetProtection(uint8_t state) {
  RegWrite(kIapParameter, state);
  return RunCommand(kCmdSetProtection);
}

uint8_t IapReadInfo(uint8_t item, uint16_t& value) {
  RegWrite(kIapAddressMid, item);
  uint8_t status = RunCommand(kCmdReadInfo);
  if (status == 0) {
    uint8_t high = RegRead(kIapAddressHigh);
    uint8_t low = RegRead(kIapAddressMid);
    value = static_cast<uint16_t>(high * 256 + low);
  }
  return status;
}

uint8_t IapEraseChip() { return RunCommand(kCmdEraseChip); }

uint8_t IapLockBootBlock() { return RunCommand(kCmdLockBootBlock); }

uint8_t IapRestart() {
  RegWrite(kIapCommand, kCmdRestart);
  IapWaitDone();
  return 0;
}

}  // namespace morvane
