#pragma once
// A port space that records every access in order and passes it on to the
// space behind it (or answers reads itself when there is none). Tests use it
// to check the exact port traffic of a line or bus operation.
#include <cstdint>
#include <functional>
#include <vector>

#include "chiplink/ports.h"

namespace morvane {

struct PortAccess {
  enum Kind : uint8_t { kIn, kOut };
  Kind kind;
  uint16_t port;
  uint8_t value;  // the value written, or the value the read returned
  bool operator==(const PortAccess&) const = default;
};

class RecordingPorts final : public PortSpace {
 public:
  // behind may be null: reads then come from the reader function (0xFF when
  // there is none).
  explicit RecordingPorts(PortSpace* behind = nullptr) : behind_(behind) {}

  uint8_t In(uint16_t port) override {
    uint8_t value = behind_ ? behind_->In(port) : reader_ ? reader_(port) : kFloatingBus;
    if (recording_) log_.push_back({PortAccess::kIn, port, value});
    return value;
  }
  void Out(uint16_t port, uint8_t value) override {
    if (recording_) log_.push_back({PortAccess::kOut, port, value});
    if (behind_) behind_->Out(port, value);
  }

  void SetReader(std::function<uint8_t(uint16_t)> reader) { reader_ = std::move(reader); }
  void SetRecording(bool on) { recording_ = on; }
  const std::vector<PortAccess>& Log() const { return log_; }
  void Clear() { log_.clear(); }

 private:
  PortSpace* behind_;
  std::function<uint8_t(uint16_t)> reader_;
  bool recording_ = true;
  std::vector<PortAccess> log_;
};

}  // namespace morvane
