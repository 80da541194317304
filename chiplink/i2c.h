#pragma once
// I2C transactions framed from the line operations: start and stop, bytes
// with their acknowledge, the register read and write with five attempts
// under the bus lock, the two per-byte steps used inside a burst, and the
// chip handshake with which the chip reports that it has carried out a
// command.
#include <cstdint>

namespace morvane {

inline constexpr int kRegisterAttempts = 5;
// What a register read gives when the slave never answers: the idle bus.
inline constexpr uint8_t kNoAnswer = 0xFF;
// A handshake phase limit that never runs out.
inline constexpr uint32_t kNoTimeLimit = 0xFFFFFFFF;

void I2cStart();
void I2cStop();
void I2cNack();
// Sends a byte, most significant bit first; true when the slave acknowledged.
bool I2cSendByte(uint8_t value);
// Clocks in eight bits; clocks no acknowledge.
uint8_t I2cReceiveByte();

// One register transaction, up to five attempts, under BusLock. The read
// gives kNoAnswer when every attempt failed; a failed write is lost silently.
uint8_t I2cReadReg(uint8_t slave, uint8_t reg);
void I2cWriteReg(uint8_t slave, uint8_t reg, uint8_t value);

// Inside a burst (the caller holds BusLock): one byte of a burst read, made
// of a repeated start and the read address; and one byte of a burst write.
uint8_t I2cReadNext();
void I2cBurstByte(uint8_t value);

// Waits for the chip to take a command (it pulls SCL low) and then to finish
// it (it lets SDA rise), each phase bounded in milliseconds of the tick count
// or unbounded with kNoTimeLimit. A time-out clears IapAnswer. Ends with a
// stop condition either way.
void ChipHandshake(uint32_t firstLimitMs, uint32_t secondLimitMs);

}  // namespace morvane
