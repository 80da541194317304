#pragma once
// The I2C slave side of the simulated bus: follows SCL edges and the start
// and stop conditions that the bus reports, takes its address and register
// bytes, and hands register reads and writes to what sits behind it.
//
// It never touches the wires itself: after each event the bus reads
// `SdaLow()` and drives SDA accordingly a microsecond later, the hold time
// of a real slave. SDA is only ever changed while SCL is low, so the slave
// never makes a start or stop condition of its own.
#include <cstdint>

namespace morvane::sim {

// A register file behind a slave address.
class RegisterTarget {
 public:
  virtual ~RegisterTarget() = default;
  virtual uint8_t ReadRegister(uint8_t reg) = 0;
  virtual void WriteRegister(uint8_t reg, uint8_t value) = 0;
  // A data port keeps its register number over the bytes of one
  // transaction; any other register number advances by one per byte.
  virtual bool IsDataPort(uint8_t reg) const = 0;
  // A stop condition ended a transaction that had addressed this slave.
  virtual void Stopped() {}
};

class I2cSlave {
 public:
  enum class Phase : uint8_t {
    kFree,     // bus free after a stop (or since power-on)
    kIgnore,   // not addressed, or gave up: waits for a start or a stop
    kReceive,  // taking in the eight bits of a byte
    kAckOut,   // driving the acknowledge of a byte it took
    kSend,     // driving the eight bits of a byte
    kAckIn,    // SDA released, reading the master's acknowledge
  };

  explicit I2cSlave(RegisterTarget* target) : target_(target) {}

  void set_address(uint8_t address) { address_ = address & 0xFE; }
  uint8_t address() const { return address_; }

  // Bus events.
  void Start();
  void Stop();
  void SclRise(bool sda);
  void SclFall();

  Phase phase() const { return phase_; }
  bool SdaLow() const { return sdaLow_; }
  // True between the end of a byte it took part in and the next rise of
  // SCL: the moment at which a slave stretches the clock.
  bool AtByteStart() const { return byteStart_; }
  void ClearByteStart() { byteStart_ = false; }

  // Not-acknowledge injection: the next `count` bytes it would acknowledge,
  // after `skip` of them, are refused; address bytes are refused at `rate`.
  void InjectNaks(uint32_t count, uint32_t skip) {
    nakCount_ = count;
    nakSkip_ = skip;
  }
  void SetNakRate(double rate, uint32_t seed);
  void Reset();  // power-on state

 private:
  bool Refuse(bool addressByte);
  void TookByte(uint8_t byte);
  void LoadByte();

  RegisterTarget* target_;
  uint8_t address_ = 0;
  Phase phase_ = Phase::kFree;
  bool sdaLow_ = false;
  bool byteStart_ = false;
  bool reading_ = false;
  bool addressed_ = false;  // this transaction addressed us (for Stopped)
  bool masterAck_ = false;
  uint8_t bits_ = 0;        // bits taken or sent of the current byte
  uint8_t shift_ = 0;
  uint8_t byteIndex_ = 0;   // 0 address, 1 register number, 2 on data
  uint8_t reg_ = 0;

  uint32_t nakCount_ = 0;
  uint32_t nakSkip_ = 0;
  uint64_t nakThreshold_ = 0;  // of 2^64
  uint64_t rng_ = 0;
};

// The edge handlers run on every clock edge, so they are inline.
inline void I2cSlave::SclRise(bool sda) {
  byteStart_ = false;
  switch (phase_) {
    case Phase::kReceive:
      shift_ = static_cast<uint8_t>((shift_ << 1) | (sda ? 1 : 0));
      ++bits_;
      break;
    case Phase::kAckIn:
      masterAck_ = !sda;
      break;
    default:
      break;
  }
}

inline void I2cSlave::SclFall() {
  switch (phase_) {
    case Phase::kReceive:
      if (bits_ == 8) TookByte(shift_);
      break;
    case Phase::kAckOut:
      // The ninth clock is over: release the acknowledge and, when the
      // master reads, put the first bit of the byte on SDA at once.
      sdaLow_ = false;
      byteStart_ = true;
      if (reading_) {
        LoadByte();
      } else {
        phase_ = Phase::kReceive;
        bits_ = 0;
        shift_ = 0;
      }
      break;
    case Phase::kSend:
      if (bits_ < 8) {
        sdaLow_ = (shift_ & (0x80 >> bits_)) == 0;
        ++bits_;
      } else {
        // Eight bits sent: SDA is released for the master's acknowledge.
        sdaLow_ = false;
        phase_ = Phase::kAckIn;
      }
      break;
    case Phase::kAckIn:
      if (masterAck_) {
        byteStart_ = true;
        LoadByte();
      } else {
        phase_ = Phase::kIgnore;
        sdaLow_ = false;
      }
      break;
    default:
      break;
  }
}

}  // namespace morvane::sim
