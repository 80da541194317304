#pragma once
// The VELQ chip behind its slave address: register pages, identification,
// the memory port into chip memory, and the IAP firmware with the flash it
// programs. Nothing here knows about wires or time: the bus model hands it
// register accesses, and the handshake model asks it to run a command when
// the firmware takes one.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/machine.h"
#include "sim/slave.h"

namespace morvane::sim {

class VelqChip final : public RegisterTarget {
 public:
  static constexpr uint32_t kMemorySize = 1u << 24;  // the whole 24-bit pointer space
  static constexpr uint32_t kMemoryMask = kMemorySize - 1;
  static constexpr uint8_t kMemoryPage = 0x04;
  static constexpr uint8_t kDataPort = 0xEF;

  explicit VelqChip(const Config& config);

  // Register file.
  uint8_t ReadRegister(uint8_t reg) override;
  void WriteRegister(uint8_t reg, uint8_t value) override;
  bool IsDataPort(uint8_t reg) const override { return reg == kDataPort && page_ == kMemoryPage; }
  void Stopped() override;

  // True once, after a stop that ended a write of the command register
  // while the IAP firmware runs: the command is waiting to be taken.
  bool TakeLatchedCommand();

  // Runs the command waiting in register 0xE0. The firmware's registers
  // change at once; the status is published by Finish.
  struct Outcome {
    uint8_t status = kStatusOk;
    uint64_t micros = 0;
    bool flashChanged = false;
  };
  Outcome Execute();
  void Finish(const Outcome& outcome);

  // The board is reset: registers and pointers to their power-on values,
  // and the IAP firmware runs from now on. Flash and boot lock stay.
  void ResetIntoIap();

  const Config& config() const { return config_; }
  uint8_t page() const { return page_; }
  uint8_t StoredRegister(uint8_t page, uint8_t reg) const { return regs_[page * 256u + reg]; }
  void SetStoredRegister(uint8_t page, uint8_t reg, uint8_t value);
  uint32_t writePointer() const { return writePointer_; }
  uint32_t readPointer() const { return readPointer_; }
  uint8_t* memory() { return memory_.get(); }
  const uint8_t* memory() const { return memory_.get(); }
  std::vector<uint8_t>& flash() { return flash_; }
  const std::vector<uint8_t>& flash() const { return flash_; }
  bool iap() const { return iap_; }
  bool bootLocked() const { return bootLocked_; }
  bool flashProtected() const { return protected_; }
  uint16_t mark(uint8_t m) const { return marks_[m]; }
  uint32_t commandsDone() const { return commandsDone_; }
  uint8_t lastCommand() const { return lastCommand_; }
  uint32_t restarts() const { return restarts_; }
  uint32_t resets() const { return resets_; }

  // Faults.
  void ForceStatus(uint8_t command, uint8_t status, int times);
  void StickCell(uint32_t address, uint8_t value);
  void DeafCell(uint32_t address, int times);
  void ClearFaults();
  void ApplyStuckCells();  // after anything that wrote the flash array

 private:
  struct Descriptor {
    uint16_t pageSize;
    uint32_t data;
    uint32_t first;
    uint32_t last;
  };
  struct Forced {
    uint8_t status = 0;
    int times = 0;  // < 0: every time
  };

  uint8_t MemoryAt(uint32_t address) const { return memory_[address & kMemoryMask]; }
  bool ReadDescriptor(Descriptor& d) const;
  Outcome Program();
  Outcome ReadBack();
  Outcome Erase();
  // True when the cell ignores this programming (which it then counts).
  bool IgnoresProgramming(uint32_t address);

  Config config_;
  std::vector<uint8_t> regs_;  // 256 pages of 256 registers
  std::array<uint8_t, 8> prog_{};  // 0xE0..0xE7, the same on every page
  uint8_t page_ = 0;
  bool commandWritten_ = false;
  bool latched_ = false;
  uint32_t writePointer_ = 0;
  uint32_t readPointer_ = 0;
  bool variant40_ = false;

  struct FreeDeleter {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t[], FreeDeleter> memory_;
  std::vector<uint8_t> flash_;
  bool iap_;
  bool bootLocked_;
  bool protected_;
  std::array<uint16_t, 256> marks_{};
  uint32_t commandsDone_ = 0;
  uint8_t lastCommand_ = 0;
  uint32_t restarts_ = 0;
  uint32_t resets_ = 0;

  std::array<Forced, 256> forced_{};
  std::vector<std::pair<uint32_t, uint8_t>> stuck_;
  std::vector<std::pair<uint32_t, int>> deaf_;  // address, programmings still ignored (negative: all)
};

}  // namespace morvane::sim
