#include "sim/chip.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace morvane::sim {
namespace {

// Registers of the programming interface, the same on every page.
constexpr uint8_t kCommand = 0xE0;
constexpr uint8_t kAnswer = 0xE1;
constexpr uint8_t kParameter = 0xE3;
constexpr uint8_t kStatus = 0xE7;
constexpr uint8_t kPageRegister = 0xFF;
constexpr uint8_t kDescriptorLength = 12;
constexpr uint8_t kIapAnswer = 5;

// Memory-port registers on page 0x04.
constexpr uint8_t kPointerLow = 0xF8;
constexpr uint8_t kPointerLoad = 0xF1;
constexpr uint8_t kLoadWrite = 0x10;
constexpr uint8_t kLoadRead = 0x20;

// Identification on page 0x02; inverted registers on page 0x08.
constexpr uint8_t kIdPage = 0x02;
constexpr uint8_t kInvertPage = 0x08;

bool IsProgrammingRegister(uint8_t reg) { return reg >= 0xE0 && reg <= 0xE7; }

}  // namespace

void VelqChip::FreeDeleter::operator()(uint8_t* p) const { std::free(p); }

VelqChip::VelqChip(const Config& config)
    : config_(config),
      regs_(256 * 256, 0),
      flash_(config.flashSize, 0xFF),
      iap_(config.iap),
      bootLocked_(config.bootLocked),
      protected_(config.protect) {
  // Zero pages come from the system on demand, so 16 MiB of chip memory
  // costs only what a test writes into it.
  memory_.reset(static_cast<uint8_t*>(std::calloc(kMemorySize, 1)));
  if (!memory_) throw std::bad_alloc();
  const uint8_t family = static_cast<uint8_t>(config.chipId >> 16);
  variant40_ = family == 0x69 && (config.chipId & 0x0F) == 0;
  for (const auto& [address, times] : config.deafCells) DeafCell(address, times);
}

uint8_t VelqChip::ReadRegister(uint8_t reg) {
  if (reg == kPageRegister) return page_;
  if (IsProgrammingRegister(reg)) return prog_[reg - kCommand];
  if (page_ == kMemoryPage && reg == kDataPort) {
    const uint8_t value = memory_[readPointer_];
    readPointer_ = (readPointer_ + 1) & kMemoryMask;
    return value;
  }
  if (page_ == kIdPage && reg >= 0x96 && reg <= 0x98) {
    return static_cast<uint8_t>(config_.chipId >> (8 * (0x98 - reg)));
  }
  const uint8_t stored = regs_[page_ * 256u + reg];
  if (variant40_ && page_ == kInvertPage && reg >= 0xC0 && reg <= 0xCF) return static_cast<uint8_t>(~stored);
  return stored;
}

void VelqChip::WriteRegister(uint8_t reg, uint8_t value) {
  if (reg == kPageRegister) {
    page_ = value;
    return;
  }
  if (IsProgrammingRegister(reg)) {
    prog_[reg - kCommand] = value;
    if (reg == kCommand) commandWritten_ = true;
    return;
  }
  if (page_ == kMemoryPage) {
    if (reg == kDataPort) {
      memory_[writePointer_] = value;
      writePointer_ = (writePointer_ + 1) & kMemoryMask;
      return;
    }
    if (reg == kPointerLoad) {
      // A rising load bit copies the staged pointer into its channel.
      const uint8_t old = regs_[kMemoryPage * 256u + kPointerLoad];
      const uint8_t rising = value & ~old;
      const uint8_t* p = &regs_[kMemoryPage * 256u + kPointerLow];
      const uint32_t staged = p[0] | (p[1] << 8) | (uint32_t{p[2]} << 16);
      if (rising & kLoadWrite) writePointer_ = staged;
      if (rising & kLoadRead) readPointer_ = staged;
    }
  }
  if (page_ == kIdPage && reg >= 0x96 && reg <= 0x98) return;  // read-only
  regs_[page_ * 256u + reg] = value;
}

void VelqChip::Stopped() {
  if (!commandWritten_) return;
  commandWritten_ = false;
  // A chip without the IAP firmware does not look at the command register.
  if (!iap_) return;
  latched_ = true;
  prog_[kStatus - kCommand] = kStatusBusy;
}

bool VelqChip::TakeLatchedCommand() {
  const bool latched = latched_;
  latched_ = false;
  return latched;
}

bool VelqChip::ReadDescriptor(Descriptor& d) const {
  if (prog_[kParameter - kCommand] != kDescriptorLength) return false;
  const uint32_t at = prog_[4] | (prog_[5] << 8) | (uint32_t{prog_[6]} << 16);
  uint8_t b[kDescriptorLength];
  for (uint32_t i = 0; i < kDescriptorLength; ++i) b[i] = MemoryAt(at + i);
  d.pageSize = static_cast<uint16_t>((b[0] << 8) | b[1]);
  d.data = ((uint32_t{b[2]} << 24) | (uint32_t{b[3]} << 16) | (b[4] << 8) | b[5]) & kMemoryMask;
  d.first = (uint32_t{b[6]} << 16) | (b[7] << 8) | b[8];
  d.last = (uint32_t{b[9]} << 16) | (b[10] << 8) | b[11];
  return true;
}

VelqChip::Outcome VelqChip::Execute() {
  const uint8_t command = prog_[0];
  Outcome out;
  out.micros = config_.commandMicros;
  Forced& forced = forced_[command];
  if (forced.times != 0) {
    if (forced.times > 0) --forced.times;
    out.status = forced.status;
    return out;
  }
  switch (command) {
    case 0x03:  // presence query
      prog_[kAnswer - kCommand] = kIapAnswer;
      break;
    case 0x09: {  // information item
      const uint8_t item = prog_[5];
      uint16_t value = 0;
      if (item == 1) {
        value = config_.flashId;
      } else if (item == 2) {
        value = bootLocked_ ? 1 : 0;
      } else {
        out.status = kStatusBadItem;
        break;
      }
      prog_[5] = static_cast<uint8_t>(value);
      prog_[6] = static_cast<uint8_t>(value >> 8);
      break;
    }
    case 0x0B:
      return Program();
    case 0x0C:  // restart: the firmware starts over and runs again
      out.micros = config_.restartMicros;
      writePointer_ = 0;
      readPointer_ = 0;
      ++restarts_;
      break;
    case 0x0D:
      return ReadBack();
    case 0x0E:  // set mark
      marks_[prog_[kParameter - kCommand]] = static_cast<uint16_t>(prog_[5] | (prog_[6] << 8));
      break;
    case 0x0F:  // set protection
      protected_ = prog_[kParameter - kCommand] != 0;
      break;
    case 0x10:
      return Erase();
    case 0x11:  // lock the boot block, for good
      bootLocked_ = true;
      break;
    default:
      out.status = kStatusBadCommand;
      break;
  }
  return out;
}

VelqChip::Outcome VelqChip::Program() {
  Outcome out;
  out.micros = config_.commandMicros;
  Descriptor d;
  if (!ReadDescriptor(d)) {
    out.status = kStatusBadDescriptor;
  } else if (protected_) {
    out.status = kStatusProtected;
  } else if (d.last < d.first) {
    out.status = kStatusBadRange;
  } else if (d.last >= flash_.size()) {
    out.status = kStatusOutsideFlash;
  } else if (bootLocked_ && d.first < config_.bootSize) {
    out.status = kStatusBootLocked;
  } else {
    // The firmware erases and rewrites what it is given: programming is a
    // plain overwrite, so a block can be programmed again without an erase.
    const uint32_t count = d.last - d.first + 1;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t a = d.first + i;
      if (deaf_.empty() || !IgnoresProgramming(a)) flash_[a] = MemoryAt(d.data + i);
    }
    ApplyStuckCells();
    out.micros += uint64_t{config_.programMicros} * count;
    out.flashChanged = true;
  }
  return out;
}

VelqChip::Outcome VelqChip::ReadBack() {
  Outcome out;
  out.micros = config_.commandMicros;
  Descriptor d;
  if (!ReadDescriptor(d)) {
    out.status = kStatusBadDescriptor;
  } else if (d.last < d.first) {
    out.status = kStatusBadRange;
  } else if (d.first >= flash_.size() || d.last > flash_.size()) {
    // A read covers first..last inclusive, one byte more than the caller
    // fetches; so the one byte just past the end of the flash is allowed
    // (it reads as erased), anything further is refused.
    out.status = kStatusOutsideFlash;
  } else {
    const uint32_t count = d.last - d.first + 1;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t a = d.first + i;
      memory_[(d.data + i) & kMemoryMask] = a < flash_.size() ? flash_[a] : 0xFF;
    }
    out.micros += uint64_t{config_.readMicros} * count;
  }
  return out;
}

VelqChip::Outcome VelqChip::Erase() {
  Outcome out;
  out.micros = config_.eraseMicros;
  if (protected_) {
    out.status = kStatusProtected;
    return out;
  }
  // A locked boot block survives the erase of the chip.
  const uint32_t from = bootLocked_ ? std::min<uint32_t>(config_.bootSize, flash_.size()) : 0;
  std::fill(flash_.begin() + from, flash_.end(), 0xFF);
  ApplyStuckCells();
  out.flashChanged = true;
  return out;
}

void VelqChip::Finish(const Outcome& outcome) {
  lastCommand_ = prog_[0];
  ++commandsDone_;
  prog_[kStatus - kCommand] = outcome.status;
  prog_[0] = 0;
}

void VelqChip::ResetIntoIap() {
  std::fill(regs_.begin(), regs_.end(), 0);
  prog_.fill(0);
  page_ = 0;
  writePointer_ = 0;
  readPointer_ = 0;
  commandWritten_ = false;
  latched_ = false;
  protected_ = config_.protect;
  iap_ = true;
  ++resets_;
}

void VelqChip::SetStoredRegister(uint8_t page, uint8_t reg, uint8_t value) { regs_[page * 256u + reg] = value; }

void VelqChip::ForceStatus(uint8_t command, uint8_t status, int times) { forced_[command] = {status, times}; }

void VelqChip::StickCell(uint32_t address, uint8_t value) {
  if (address >= flash_.size()) return;
  stuck_.emplace_back(address, value);
  ApplyStuckCells();
}

void VelqChip::DeafCell(uint32_t address, int times) {
  if (address < flash_.size() && times != 0) deaf_.emplace_back(address, times);
}

void VelqChip::ClearFaults() {
  forced_.fill({});
  stuck_.clear();
  deaf_.clear();
}

void VelqChip::ApplyStuckCells() {
  for (const auto& [address, value] : stuck_) flash_[address] = value;
}

bool VelqChip::IgnoresProgramming(uint32_t address) {
  for (auto& [cell, left] : deaf_) {
    if (cell != address || left == 0) continue;
    if (left > 0) --left;
    return true;
  }
  return false;
}

}  // namespace morvane::sim
