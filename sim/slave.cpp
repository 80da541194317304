#include "sim/slave.h"

#include <cmath>
#include <limits>

namespace morvane::sim {
namespace {

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

void I2cSlave::Start() {
  // A start, first or repeated, always begins a new address byte; the
  // register number of an earlier write in the same transaction stays.
  phase_ = Phase::kReceive;
  bits_ = 0;
  shift_ = 0;
  byteIndex_ = 0;
  reading_ = false;
  sdaLow_ = false;
  byteStart_ = false;
}

void I2cSlave::Stop() {
  const bool wasAddressed = addressed_;
  addressed_ = false;
  phase_ = Phase::kFree;
  sdaLow_ = false;
  byteStart_ = false;
  if (wasAddressed) target_->Stopped();
}

void I2cSlave::TookByte(uint8_t byte) {
  if (byteIndex_ == 0) {
    if ((byte & 0xFE) != address_ || Refuse(true)) {
      phase_ = Phase::kIgnore;
      return;
    }
    reading_ = (byte & 1) != 0;
    addressed_ = true;
  } else {
    if (Refuse(false)) {
      phase_ = Phase::kIgnore;
      return;
    }
    if (byteIndex_ == 1) {
      reg_ = byte;
    } else {
      target_->WriteRegister(reg_, byte);
      if (!target_->IsDataPort(reg_)) ++reg_;
    }
  }
  if (byteIndex_ < 2) ++byteIndex_;
  sdaLow_ = true;
  phase_ = Phase::kAckOut;
}

void I2cSlave::LoadByte() {
  const bool dataPort = target_->IsDataPort(reg_);
  shift_ = target_->ReadRegister(reg_);
  if (!dataPort) ++reg_;
  phase_ = Phase::kSend;
  sdaLow_ = (shift_ & 0x80) == 0;
  bits_ = 1;
}

bool I2cSlave::Refuse(bool addressByte) {
  if (nakCount_ != 0) {
    if (nakSkip_ != 0) {
      --nakSkip_;
    } else {
      --nakCount_;
      return true;
    }
  }
  if (addressByte && nakThreshold_ != 0) return SplitMix(rng_) < nakThreshold_;
  return false;
}

void I2cSlave::SetNakRate(double rate, uint32_t seed) {
  rng_ = seed;
  if (!(rate > 0)) {
    nakThreshold_ = 0;
  } else if (rate >= 1) {
    nakThreshold_ = std::numeric_limits<uint64_t>::max();
  } else {
    nakThreshold_ = static_cast<uint64_t>(std::ldexp(rate, 64));
  }
}

void I2cSlave::Reset() {
  phase_ = Phase::kFree;
  sdaLow_ = false;
  byteStart_ = false;
  reading_ = false;
  addressed_ = false;
  bits_ = 0;
  shift_ = 0;
  byteIndex_ = 0;
  reg_ = 0;
}

}  // namespace morvane::sim
