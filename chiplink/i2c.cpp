#include "chiplink/i2c.h"

#include "chiplink/linkstate.h"
#include "chiplink/lines.h"
#include "platform/clock.h"

namespace morvane {

void I2cStart() {
  SetScl(false);
  SetSda(true);
  SetScl(true);
  SetSda(false);
  SetScl(false);
}

void I2cStop() {
  SetSda(false);
  SetScl(true);
  SetSda(true);
}

void I2cNack() {
  SetSda(true);
  SetScl(true);
  SetScl(false);
}

bool I2cSendByte(uint8_t value) {
  for (int bit = 7; bit >= 0; --bit) {
    SetSda((value >> bit) & 1);
    SetScl(true);
    SetScl(false);
  }
  // The acknowledge: the slave drives SDA during this clock.
  if (IsVgaPort(BusPort)) SdaReleased = true;
  SetSda(true);
  SetScl(true);
  bool sdaHigh = GetSda();
  SetScl(false);
  return !sdaHigh;
}

uint8_t I2cReceiveByte() {
  uint8_t value = 0;
  SetSda(true);
  const bool vga = IsVgaPort(BusPort);
  for (int bit = 0; bit < 8; ++bit) {
    if (vga) SdaReleased = true;
    SetScl(true);
    value = static_cast<uint8_t>(value << 1);
    if (GetSda()) value |= 1;
    SetScl(false);
  }
  return value;
}

uint8_t I2cReadReg(uint8_t slave, uint8_t reg) {
  std::lock_guard lock(BusLock);
  for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
    I2cStart();
    if (!I2cSendByte(slave & 0xFE) || !I2cSendByte(reg)) {
      I2cStop();
      continue;
    }
    I2cStart();  // repeated start, now for reading
    if (!I2cSendByte(slave | 0x01)) {
      I2cStop();
      continue;
    }
    uint8_t value = I2cReceiveByte();
    I2cNack();
    I2cStop();
    return value;
  }
  return kNoAnswer;
}

void I2cWriteReg(uint8_t slave, uint8_t reg, uint8_t value) {
  std::lock_guard lock(BusLock);
  for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
    I2cStart();
    bool acked = I2cSendByte(slave & 0xFE) && I2cSendByte(reg) && I2cSendByte(value);
    I2cStop();
    if (acked) return;
  }
}

uint8_t I2cReadNext() {
  // The first clock of this start, with SDA high, is the ninth clock of the
  // previous byte: the slave sees a not-acknowledge, then a repeated start.
  for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
    I2cStart();
    if (I2cSendByte(SlaveAddress | 0x01)) break;
  }
  return I2cReceiveByte();
}

void I2cBurstByte(uint8_t value) { I2cSendByte(value); }

void ChipHandshake(uint32_t firstLimitMs, uint32_t secondLimitMs) {
  uint32_t start = TickCount();
  SetScl(false);
  SetSda(false);
  SetScl(true);
  // Phase 1: the chip pulls SCL low once it has taken the command.
  while (GetScl()) {
    if (TickCount() - start > firstLimitMs) {
      IapAnswer = 0;
      I2cStop();
      return;
    }
  }
  SetScl(false);
  SetSda(true);
  // Phase 2: the chip holds SDA low until it has finished.
  start = TickCount();
  while (!GetSda()) {
    if (TickCount() - start > secondLimitMs) {
      IapAnswer = 0;
      I2cStop();
      return;
    }
  }
  I2cStop();
}

}  // namespace morvane
