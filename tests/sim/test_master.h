#pragma once
// A small bit-banging I2C master of the simulator tests' own, driving the
// simulated machine through its ports the way the adapters are wired. It is
// deliberately separate from the chip link, so that the model is checked
// against an independent reading of the wires.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/machine.h"

namespace morvane::sim::testing {

class TestMaster {
 public:
  // `port`: a parallel base, or 0x3D4 / 0x3CE for the VGA kind.
  TestMaster(Machine& machine, uint16_t port) : m_(machine), port_(port) {
    vga_ = port == 0x3D4 || port == 0x3CE;
    ddc_ = port == 0x3D4 ? 0x37 : 0x3B;
    Write();
  }

  Machine& machine() { return m_; }

  // Line operations. SetScl(true) waits up to `attempts` reads for a
  // stretched clock and answers whether SCL rose.
  bool SetScl(bool high, int attempts = 1000) {
    scl_ = high;
    Write();
    if (!high) return true;
    for (int i = 0; i < attempts; ++i) {
      if (GetScl()) return true;
    }
    return false;
  }
  void SetSda(bool high) {
    sda_ = high;
    Write();
  }
  bool GetScl() {
    if (!vga_) return (m_.In(port_ + 1) & 0x20) != 0;
    return (ReadDdc() & 0x40) != 0;
  }
  bool GetSda() {
    if (!vga_) return (m_.In(port_ + 1) & 0x10) != 0;
    return (ReadDdc() & 0x01) != 0;
  }

  // Framing.
  void Start() {
    SetScl(false);
    SetSda(true);
    SetScl(true);
    SetSda(false);
    SetScl(false);
  }
  void Stop() {
    SetSda(false);
    SetScl(true);
    SetSda(true);
  }
  bool Send(uint8_t byte) {
    for (int i = 7; i >= 0; --i) {
      SetSda(((byte >> i) & 1) != 0);
      SetScl(true);
      SetScl(false);
    }
    SetSda(true);
    SetScl(true);
    const bool ack = !GetSda();
    SetScl(false);
    return ack;
  }
  // Eight bits; the ninth clock only when `clockAck` (with SDA low when `ack`).
  uint8_t Receive(bool clockAck = true, bool ack = false) {
    uint8_t value = 0;
    SetSda(true);
    for (int i = 0; i < 8; ++i) {
      SetScl(true);
      value = static_cast<uint8_t>((value << 1) | (GetSda() ? 1 : 0));
      SetScl(false);
    }
    if (clockAck) {
      SetSda(!ack);
      SetScl(true);
      SetScl(false);
      SetSda(true);
    }
    return value;
  }

  // Register transactions; false or nullopt when a byte was not acknowledged.
  bool WriteReg(uint8_t address, uint8_t reg, uint8_t value) {
    Start();
    const bool ok = Send(address & 0xFE) && Send(reg) && Send(value);
    Stop();
    return ok;
  }
  std::optional<uint8_t> ReadReg(uint8_t address, uint8_t reg) {
    Start();
    if (!Send(address & 0xFE) || !Send(reg)) {
      Stop();
      return std::nullopt;
    }
    Start();
    if (!Send(address | 1)) {
      Stop();
      return std::nullopt;
    }
    const uint8_t value = Receive(true, false);
    Stop();
    return value;
  }

  // Memory port: pointer loads and streams through register 0xEF, page 0x04.
  void SetPointer(uint8_t address, bool write, uint32_t at) {
    WriteReg(address, 0xFF, 0x04);
    WriteReg(address, 0xF8, static_cast<uint8_t>(at));
    WriteReg(address, 0xF9, static_cast<uint8_t>(at >> 8));
    WriteReg(address, 0xFA, static_cast<uint8_t>(at >> 16));
    const uint8_t bit = write ? 0x10 : 0x20;
    WriteReg(address, 0xF1, bit);
    WriteReg(address, 0xF1, 0x00);
  }
  void WriteMemory(uint8_t address, uint32_t at, std::span<const uint8_t> bytes) {
    SetPointer(address, true, at);
    Start();
    Send(address & 0xFE);
    Send(0xEF);
    for (uint8_t b : bytes) Send(b);
    Stop();
  }
  // A burst read of repeated starts: start, address W, 0xEF, then per byte
  // a repeated start, address R and eight bits without a ninth clock.
  std::vector<uint8_t> ReadMemory(uint8_t address, uint32_t at, size_t count) {
    SetPointer(address, false, at);
    std::vector<uint8_t> out;
    Start();
    Send(address & 0xFE);
    Send(0xEF);
    for (size_t i = 0; i < count; ++i) {
      Start();
      Send(address | 1);
      out.push_back(Receive(false));
    }
    Stop();
    return out;
  }

  // The command handshake as the link does it; limits in simulated
  // microseconds. Answers when each phase ended (0 when it timed out).
  struct Handshake {
    uint64_t taken = 0;
    uint64_t finished = 0;
  };
  Handshake DoHandshake(uint64_t limit1, uint64_t limit2) {
    Handshake h;
    uint64_t t0 = m_.NowMicros();
    SetScl(false);
    SetSda(false);
    SetScl(true);
    while (GetScl()) {
      if (m_.NowMicros() - t0 > limit1) {
        Stop();
        return h;
      }
    }
    h.taken = m_.NowMicros();
    SetScl(false);
    SetSda(true);
    t0 = m_.NowMicros();
    while (!GetSda()) {
      if (m_.NowMicros() - t0 > limit2) {
        Stop();
        return h;
      }
    }
    h.finished = m_.NowMicros();
    Stop();
    return h;
  }

  // A command: the code into 0xE0, the handshake, the status from 0xE7.
  uint8_t Command(uint8_t address, uint8_t code, Handshake* handshake = nullptr,
                  uint64_t limit = 60'000'000) {
    WriteReg(address, 0xE0, code);
    const Handshake h = DoHandshake(limit, limit);
    if (handshake) *handshake = h;
    return ReadReg(address, 0xE7).value_or(0xFF);
  }

 private:
  void Write() {
    if (!vga_) {
      m_.Out(port_, static_cast<uint8_t>(0xFC | (scl_ ? 0 : 1) | (sda_ ? 0 : 2)));
      return;
    }
    Unlock();
    m_.Out(port_, ddc_);
    // SDA is driven only when low: high leaves it free, as open drain.
    m_.Out(port_ + 1, static_cast<uint8_t>(0x04 | (scl_ ? 2 : 0) | (sda_ ? 1 : 0x08)));
  }
  uint8_t ReadDdc() {
    Unlock();
    m_.Out(port_, ddc_);
    return m_.In(port_ + 1);
  }
  void Unlock() {
    m_.Out(0x3C4, 0x11);
    m_.Out(0x3C5, 0x92);
  }

  Machine& m_;
  uint16_t port_;
  bool vga_ = false;
  uint8_t ddc_ = 0x37;
  bool scl_ = true;
  bool sda_ = true;
};

}  // namespace morvane::sim::testing
