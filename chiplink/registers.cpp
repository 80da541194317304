#include "chiplink/registers.h"

#include "chiplink/i2c.h"
#include "chiplink/linkstate.h"
#include "platform/debugout.h"

namespace morvane {
namespace {

constexpr uint8_t kVariantInvertedPage = 0x08;
constexpr uint8_t kVariantInverted = 0x40;

uint8_t FamilyCode(uint8_t id) {
  switch (id) {
    case 0x66: return 0x00;
    case 0x67: return 0x10;
    case 0x68: return 0x20;
    case 0x64: return 0x30;
    case 0x69: return 0x40;
    default: return 0x00;
  }
}

}  // namespace

uint8_t RegRead(uint8_t reg) {
  uint8_t value = I2cReadReg(SlaveAddress, reg);
  // This variant's registers 0xC0..0xCF on page 0x08 read back inverted.
  if (CurrentPage == kVariantInvertedPage && ChipVariant == kVariantInverted && reg >= 0xC0 && reg <= 0xCF)
    return static_cast<uint8_t>(~value);
  return value;
}

void RegWrite(uint8_t reg, uint8_t value) {
  if (reg == kGuardRegister) {
    DebugOutput(kSetFeText);
    value = 0x00;
  }
  if (reg == kPageRegister) CurrentPage = value;  // before the bus write, whatever its outcome
  I2cWriteReg(SlaveAddress, reg, value);
}

void RegUpdateBits(uint8_t reg, uint8_t bits, bool set) {
  uint8_t value = RegRead(reg);
  RegWrite(reg, set ? static_cast<uint8_t>(value | bits) : static_cast<uint8_t>(value & ~bits));
}

void DetectChipVariant() {
  if (SlaveAddress == 0x00) SlaveAddress = 0x7E;
  RegWrite(kPageRegister, 0x02);
  ChipVariant = 0;
  ChipVariant = FamilyCode(RegRead(0x96));
  ChipVariant |= RegRead(0x98) & 0x0F;
}

void ApplyRegisterTable(const uint8_t* table, uint8_t mode) {
  if (!table) return;
  const bool masked = table[0] & 0x01;
  const uint16_t n = Swap16(static_cast<uint16_t>(table[1] | (table[2] << 8)));
  const uint8_t m = table[3];
  const uint8_t* modes = table + 4;
  const uint8_t* regs = modes + m;
  const uint8_t* masks = masked ? regs + n : nullptr;
  const uint8_t* rows = regs + n + (masked ? n : 0);

  int row = -1;
  for (int k = 0; k < m; ++k) {
    if (modes[k] == mode) {
      row = k;
      break;
    }
  }
  if (row < 0) return;

  const uint8_t* values = rows + static_cast<std::size_t>(row) * n;
  for (uint16_t j = 0; j < n; ++j) {
    if (masks && masks[j] != 0xFF) {
      uint8_t current = RegRead(regs[j]);
      RegWrite(regs[j], static_cast<uint8_t>((current & ~masks[j]) | (values[j] & masks[j])));
    } else {
      RegWrite(regs[j], values[j]);
    }
  }
}

void ApplyRegisterPairs(const uint8_t* pairs) {
  for (; !(pairs[0] == 0xFF && pairs[1] == 0xFF); pairs += 2) RegWrite(pairs[0], pairs[1]);
}

void MemPortPrepare() {
  RegWrite(kPageRegister, kMemoryPage);
  RegWrite(0xFB, 0x3F);
  RegWrite(0xFC, 0xF8);
  RegWrite(0xFD, 0x7F);
  RegWrite(kMemControl, 0x40);
  RegWrite(kMemControl, 0x00);
}

void SetMemPointer(uint8_t channel, uint32_t address) {
  RegWrite(kPageRegister, kMemoryPage);
  uint8_t control = RegRead(kMemControl);
  RegWrite(kMemControl, control | 0x80);
  RegWrite(kMemControl, control);
  RegWrite(0xF8, static_cast<uint8_t>(address));
  RegWrite(0xF9, static_cast<uint8_t>(address >> 8));
  RegWrite(0xFA, static_cast<uint8_t>(address >> 16));
  const uint8_t load = channel == kWriteChannel ? 0x10 : 0x20;
  RegUpdateBits(kMemPointerLoad, load, true);
  RegUpdateBits(kMemPointerLoad, load, false);
}

void MemWriteFinish() {
  RegWrite(kMemControl, 0x01);
  RegWrite(kMemControl, 0x02);
  RegWrite(kMemControl, 0x00);
}

void WriteChipMemory(uint32_t address, uint16_t count, const uint8_t* data) {
  MemPortPrepare();
  SetMemPointer(kWriteChannel, address);
  RegWrite(kMemPointerLoad, 0x82);
  RegWrite(kPageRegister, kMemoryPage);
  BurstBegin(kMemData);
  for (uint16_t i = 0; i < count; ++i) I2cBurstByte(data[i]);
  BurstEnd();
  MemWriteFinish();
}

void BurstBegin(uint8_t reg) {
  BusLock.lock();
  I2cStart();
  I2cSendByte(SlaveAddress);
  I2cSendByte(reg);
}

void BurstEnd() {
  I2cStop();
  BusLock.unlock();
}

}  // namespace morvane
