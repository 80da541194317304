#include "sim/machine.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "sim/chip.h"
#include "sim/slave.h"

namespace morvane::sim {
namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

// Who pulls a line low. A line is high when nobody does: the wired AND of
// an open-drain bus.
enum Driver : uint8_t {
  kMaster = 0x01,     // the adapter, driven by the program
  kChipData = 0x02,   // the chip's I2C interface (acknowledges, data bits)
  kChipHold = 0x04,   // the chip's firmware, in the command handshake
  kSecond = 0x08,     // the second slave
  kStuck = 0x10,      // a fault holding SCL low for ever
  kStretch = 0x20,    // the chip stretching the clock
};

// How long SCL must have been high before the firmware pulls it low to
// take a command: long enough for the master's own read-back of its rising
// SCL to see it high.
constexpr uint64_t kSettleMicros = 4;

constexpr uint16_t kSequencerIndex = 0x3C4;
constexpr uint16_t kSequencerData = 0x3C5;
constexpr uint16_t kCrtcIndex = 0x3D4;
constexpr uint16_t kGraphicsIndex = 0x3CE;
constexpr uint8_t kSequencerId = 0x0B;
constexpr uint8_t kSequencerUnlock = 0x11;
constexpr uint8_t kUnlockKey = 0x92;

// A plain register file: the second slave, which answers like any I2C
// register device but is not a VELQ.
class PlainRegisters final : public RegisterTarget {
 public:
  uint8_t ReadRegister(uint8_t reg) override { return regs_[reg]; }
  void WriteRegister(uint8_t reg, uint8_t value) override { regs_[reg] = value; }
  bool IsDataPort(uint8_t) const override { return false; }

 private:
  std::array<uint8_t, 256> regs_{};
};

std::string WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) return "Cannot write the file \"" + path + "\": check that its folder exists and is writable.";
  return "";
}

}  // namespace

class Machine::Impl {
 public:
  explicit Impl(const Config& config);
  ~Impl();

  uint8_t In(uint16_t port) {
    Tick();
    if (port == hotIn_) return vga_ ? ReadDdc() : ReadStatus();
    return InOther(port);
  }

  void Out(uint16_t port, uint8_t value) {
    Tick();
    if (port == base_ && !vga_) {
      dataLatch_ = value;
      SetMaster((value & 0x01) != 0, (value & 0x02) != 0);
      return;
    }
    OutOther(port, value);
  }

  void AdvanceMicros(uint64_t micros);
  void SaveFlash();
  void EnableTrace(bool on);
  std::string VcdText() const;

  // Fault switches.
  void SetChipPresent(bool present);
  void SetSecondSlave(uint8_t address);
  void SetSclStuck(bool stuck);
  void SetHang(Hang hang);
  void ClearFaults();
  bool Busy() const { return hs_ != Handshake::kIdle; }

  Config config_;
  VelqChip chip_;
  I2cSlave chipSlave_;
  PlainRegisters secondRegs_;
  I2cSlave secondSlave_;
  bool chipPresent_;
  bool secondPresent_ = false;
  int stretch_;
  Hang hang_ = Hang::kNone;

  uint64_t now_ = 0;
  uint64_t accesses_ = 0;
  bool scl_ = true;
  bool sda_ = true;

  bool tracing_ = false;
  std::vector<TraceEvent> trace_;
  TraceEvent traceStart_{0, true, true};

 private:
  void Tick() {
    ++now_;
    ++accesses_;
    if (now_ >= nextEvent_) RunEvents();
  }

  uint8_t ReadStatus() {
    // Status port: bit 5 SCL, bit 4 SDA; the printer inputs that the
    // adapter leaves open read as 1.
    const uint8_t value = static_cast<uint8_t>(0xCF | (scl_ ? 0x20 : 0) | (sda_ ? 0x10 : 0));
    CountStretchRead();
    return value;
  }

  uint8_t ReadDdc() {
    if (extIndex_ != ddcIndex_ || !Unlocked()) return 0xFF;
    const uint8_t value = static_cast<uint8_t>((ddcLatch_ & 0xBE) | (sda_ ? 0x01 : 0) | (scl_ ? 0x40 : 0));
    CountStretchRead();
    return value;
  }

  void CountStretchRead() {
    if (stretchLeft_ != 0 && --stretchLeft_ == 0) {
      sclPull_ &= ~kStretch;
      Settle();
    }
  }

  bool Unlocked() const { return seqRegs_[kSequencerUnlock] == kUnlockKey; }

  uint8_t InOther(uint16_t port);
  void OutOther(uint16_t port, uint8_t value);
  void WriteDdc(uint8_t value);

  void SetMaster(bool sclLow, bool sdaLow) {
    const uint8_t scl = static_cast<uint8_t>((sclPull_ & ~kMaster) | (sclLow ? kMaster : 0));
    const uint8_t sda = static_cast<uint8_t>((sdaPull_ & ~kMaster) | (sdaLow ? kMaster : 0));
    if (scl == sclPull_ && sda == sdaPull_) return;
    sclPull_ = scl;
    sdaPull_ = sda;
    Settle();
  }

  void Settle();
  void SclRose();
  void SclFell();
  void StartSeen();
  void StopSeen();
  void RefreshSlaveBits();
  void Record() {
    if (tracing_) trace_.push_back({now_, scl_, sda_});
  }

  void Schedule(uint64_t at) {
    if (at < nextEvent_) nextEvent_ = at;
  }
  void RunEvents();
  void RecomputeNext();
  void TakeCommand();
  void FinishCommand();
  void ResetBoard();

  // Adapter.
  bool vga_ = false;
  uint16_t base_;   // parallel data port, or the VGA index port of the DDC register
  uint16_t hotIn_;  // parallel status port, or the VGA data port
  uint8_t dataLatch_ = 0;
  uint8_t control_ = 0;
  std::array<uint8_t, 256> seqRegs_{};
  uint8_t seqIndex_ = 0;
  uint8_t extIndex_ = 0;    // index written to the DDC register's index port
  uint8_t otherIndex_ = 0;  // index of the other extended-register pair
  uint8_t ddcIndex_ = 0;
  uint8_t ddcLatch_ = 0;

  // Bus.
  uint8_t sclPull_ = 0;
  uint8_t sdaPull_ = 0;
  uint64_t nextEvent_ = kNever;
  uint64_t slaveSdaAt_ = kNever;  // when the slaves' new SDA levels reach the wire
  int stretchLeft_ = 0;

  // Command handshake and the reset into IAP.
  enum class Handshake : uint8_t { kIdle, kPending, kHolding };
  Handshake hs_ = Handshake::kIdle;
  bool armed_ = false;  // the master holds SDA low and has released SCL
  uint64_t armedAt_ = 0;
  bool bootAnswer_ = false;  // the pending "command" is the answer after a reset
  uint64_t takeAt_ = kNever;
  uint64_t holdSdaAt_ = kNever;
  uint64_t pulseEndAt_ = kNever;
  uint64_t doneAt_ = kNever;
  VelqChip::Outcome outcome_;

 public:
  std::string fileError_;
};

// Refuses a configuration that cannot be built, before anything is allocated
// for it.
static const Config& Validated(const Config& config) {
  if (config.flashSize == 0 || config.flashSize > VelqChip::kMemorySize) {
    throw std::runtime_error("The simulated flash size " + std::to_string(config.flashSize) +
                             " is out of range: FlashSize must lie between 1 byte and 16 MiB.");
  }
  if (config.bootSize > config.flashSize) {
    throw std::runtime_error("The simulated boot block (BootSize " + std::to_string(config.bootSize) +
                             ") is larger than the flash (FlashSize " + std::to_string(config.flashSize) +
                             "): make BootSize smaller.");
  }
  return config;
}

Machine::Impl::Impl(const Config& config)
    : config_(Validated(config)),
      chip_(config),
      chipSlave_(&chip_),
      secondSlave_(&secondRegs_),
      chipPresent_(config.present),
      stretch_(std::max(0, config.stretch)) {
  chipSlave_.set_address(config.address);
  chipSlave_.SetNakRate(config.nakRate, config.seed);

  vga_ = config.port == kCrtcIndex || config.port == kGraphicsIndex;
  base_ = config.port;
  hotIn_ = static_cast<uint16_t>(config.port + 1);
  ddcIndex_ = config.port == kCrtcIndex ? 0x37 : 0x3B;
  seqRegs_[kSequencerId] = config.vgaId;

  if (config.secondSlave != 0) SetSecondSlave(config.secondSlave);
  if (config.sclStuck) SetSclStuck(true);

  if (!config.flashFile.empty()) {
    std::vector<uint8_t>& flash = chip_.flash();
    std::error_code ec;
    if (std::filesystem::exists(config.flashFile, ec)) {
      const auto size = std::filesystem::file_size(config.flashFile, ec);
      if (ec) {
        throw std::runtime_error("Cannot read the simulated flash file \"" + config.flashFile + "\": " + ec.message() + ".");
      }
      if (size != flash.size()) {
        throw std::runtime_error("The simulated flash file \"" + config.flashFile + "\" holds " + std::to_string(size) +
                                 " bytes, but the simulated flash is " + std::to_string(flash.size()) +
                                 " bytes (FlashSize): delete the file to start with an erased flash, or set FlashSize to " +
                                 std::to_string(size) + ".");
      }
      std::ifstream in(config.flashFile, std::ios::binary);
      if (!in || !in.read(reinterpret_cast<char*>(flash.data()), static_cast<std::streamsize>(flash.size()))) {
        throw std::runtime_error("Cannot read the simulated flash file \"" + config.flashFile +
                                 "\": check that it is readable.");
      }
    } else {
      const std::string error = WriteFile(config.flashFile, flash.data(), flash.size());
      if (!error.empty()) throw std::runtime_error("Cannot create the simulated flash file. " + error);
    }
  }
  if (!config.traceFile.empty()) EnableTrace(true);
}

Machine::Impl::~Impl() {
  SaveFlash();
  if (!config_.traceFile.empty()) {
    const std::string text = VcdText();
    WriteFile(config_.traceFile, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
}

uint8_t Machine::Impl::InOther(uint16_t port) {
  if (!vga_) {
    if (port == base_) return dataLatch_;
    if (port == base_ + 2) return static_cast<uint8_t>(control_ | 0xE0);
    return 0xFF;
  }
  switch (port) {
    case kSequencerIndex:
      return seqIndex_;
    case kSequencerData:
      return seqRegs_[seqIndex_];
    case kCrtcIndex:
    case kGraphicsIndex:
      return port == base_ ? extIndex_ : otherIndex_;
    case kCrtcIndex + 1:
    case kGraphicsIndex + 1:
      // The other pair's extended registers are not implemented here.
      return 0xFF;
    default:
      return 0xFF;
  }
}

void Machine::Impl::OutOther(uint16_t port, uint8_t value) {
  if (!vga_) {
    if (port == base_ + 2) control_ = value & 0x1F;
    return;
  }
  switch (port) {
    case kSequencerIndex:
      seqIndex_ = value;
      break;
    case kSequencerData:
      if (seqIndex_ != kSequencerId) seqRegs_[seqIndex_] = value;  // the id is read-only
      break;
    case kCrtcIndex:
    case kGraphicsIndex:
      (port == base_ ? extIndex_ : otherIndex_) = value;
      break;
    case kCrtcIndex + 1:
    case kGraphicsIndex + 1:
      if (port == hotIn_ && extIndex_ == ddcIndex_) WriteDdc(value);
      break;
    default:
      break;
  }
}

void Machine::Impl::WriteDdc(uint8_t value) {
  // Locked extended registers ignore writes.
  if (!Unlocked()) return;
  ddcLatch_ = value;
  // Bit 2 enables the SCL driver, bit 1 its level; bit 3 enables the SDA
  // driver, bit 0 its level. A high level releases the line.
  const bool sclLow = (value & 0x04) != 0 && (value & 0x02) == 0;
  const bool sdaLow = (value & 0x08) != 0 && (value & 0x01) == 0;
  SetMaster(sclLow, sdaLow);
}

void Machine::Impl::Settle() {
  // Brings the wire levels up to date with the drivers, one change at a
  // time, SCL before SDA, so that every edge reaches the slaves in order.
  for (;;) {
    const bool scl = sclPull_ == 0;
    if (scl != scl_) {
      if (scl && stretch_ > 0 && chipPresent_ && chipSlave_.AtByteStart()) {
        // The chip holds the clock low at the start of a byte.
        chipSlave_.ClearByteStart();
        sclPull_ |= kStretch;
        stretchLeft_ = stretch_;
        continue;
      }
      scl_ = scl;
      Record();
      if (scl) {
        SclRose();
      } else {
        SclFell();
      }
      continue;
    }
    const bool sda = sdaPull_ == 0;
    if (sda != sda_) {
      sda_ = sda;
      Record();
      if (scl_) {
        if (sda) {
          StopSeen();
        } else {
          StartSeen();
        }
      }
      continue;
    }
    return;
  }
}

void Machine::Impl::SclRose() {
  if (chipPresent_) chipSlave_.SclRise(sda_);
  if (secondPresent_) secondSlave_.SclRise(sda_);
  // SCL released while SDA is held low on a free bus: the master asks for
  // the command handshake (or, on a chip without IAP, drives the Enter IAP
  // pattern).
  if (!sda_ && chipPresent_ && chipSlave_.phase() == I2cSlave::Phase::kFree && hs_ != Handshake::kHolding) {
    armed_ = true;
    armedAt_ = now_;
    Schedule(now_ + kSettleMicros);
  }
}

void Machine::Impl::SclFell() {
  armed_ = false;
  bool changed = false;
  if (chipPresent_) {
    chipSlave_.SclFall();
    changed |= chipSlave_.SdaLow() != ((sdaPull_ & kChipData) != 0);
  }
  if (secondPresent_) {
    secondSlave_.SclFall();
    changed |= secondSlave_.SdaLow() != ((sdaPull_ & kSecond) != 0);
  }
  if (changed) {
    // A slave changes SDA a microsecond after the falling clock.
    slaveSdaAt_ = now_ + 1;
    Schedule(slaveSdaAt_);
  }
}

void Machine::Impl::StartSeen() {
  armed_ = false;
  if (chipPresent_) chipSlave_.Start();
  if (secondPresent_) secondSlave_.Start();
  RefreshSlaveBits();
}

void Machine::Impl::StopSeen() {
  if (chipPresent_) chipSlave_.Stop();
  if (secondPresent_) secondSlave_.Stop();
  RefreshSlaveBits();
  if (chip_.TakeLatchedCommand() && hs_ == Handshake::kIdle) {
    hs_ = Handshake::kPending;
    bootAnswer_ = false;
    takeAt_ = now_ + config_.takeUpMicros;
  }
}

void Machine::Impl::RefreshSlaveBits() {
  uint8_t sda = static_cast<uint8_t>(sdaPull_ & ~(kChipData | kSecond));
  if (chipPresent_ && chipSlave_.SdaLow()) sda |= kChipData;
  if (secondPresent_ && secondSlave_.SdaLow()) sda |= kSecond;
  sdaPull_ = sda;
}

void Machine::Impl::RunEvents() {
  do {
    if (slaveSdaAt_ <= now_) {
      slaveSdaAt_ = kNever;
      RefreshSlaveBits();
      Settle();
    }
    if (hs_ == Handshake::kPending && armed_ && hang_ != Hang::kNotTaken &&
        std::max(takeAt_, armedAt_ + kSettleMicros) <= now_) {
      TakeCommand();
    }
    if (hs_ == Handshake::kHolding) {
      if (holdSdaAt_ <= now_) {
        holdSdaAt_ = kNever;
        sdaPull_ |= kChipHold;
        Settle();
      }
      if (pulseEndAt_ <= now_) {
        pulseEndAt_ = kNever;
        sclPull_ &= ~kChipHold;
        Settle();
      }
      if (doneAt_ <= now_) FinishCommand();
    }
    if (armed_ && hs_ == Handshake::kIdle && chipPresent_ && !chip_.iap() &&
        armedAt_ + config_.resetMicros <= now_) {
      ResetBoard();
    }
    RecomputeNext();
  } while (nextEvent_ <= now_);
}

void Machine::Impl::RecomputeNext() {
  uint64_t next = slaveSdaAt_;
  if (hs_ == Handshake::kPending && armed_ && hang_ != Hang::kNotTaken) {
    next = std::min(next, std::max(takeAt_, armedAt_ + kSettleMicros));
  }
  if (hs_ == Handshake::kHolding) next = std::min({next, holdSdaAt_, pulseEndAt_, doneAt_});
  if (armed_ && hs_ == Handshake::kIdle && chipPresent_ && !chip_.iap()) {
    next = std::min(next, armedAt_ + config_.resetMicros);
  }
  nextEvent_ = next;
}

void Machine::Impl::TakeCommand() {
  // The firmware takes the command: SCL low now, SDA low a microsecond
  // later, SCL released after the pulse, SDA when the work is done.
  hs_ = Handshake::kHolding;
  armed_ = false;
  const uint64_t pulse = std::max<uint64_t>(1, config_.pulseMicros);
  outcome_ = {};
  if (!bootAnswer_ && hang_ != Hang::kNotFinished) outcome_ = chip_.Execute();
  if (bootAnswer_) outcome_.micros = config_.commandMicros;
  holdSdaAt_ = now_ + 1;
  pulseEndAt_ = now_ + pulse;
  doneAt_ = hang_ == Hang::kNotFinished && !bootAnswer_ ? kNever : now_ + std::max(outcome_.micros, pulse + 1);
  sclPull_ |= kChipHold;
  Settle();
}

void Machine::Impl::FinishCommand() {
  doneAt_ = kNever;
  holdSdaAt_ = kNever;
  pulseEndAt_ = kNever;
  hs_ = Handshake::kIdle;
  if (!bootAnswer_) chip_.Finish(outcome_);
  bootAnswer_ = false;
  sclPull_ &= ~kChipHold;
  sdaPull_ &= ~kChipHold;
  Settle();
  if (outcome_.flashChanged) SaveFlash();
}

void Machine::Impl::ResetBoard() {
  // The user has reset the board while the master held the Enter IAP
  // pattern: the chip starts again, now in its IAP firmware, and answers
  // the handshake that the master is waiting in.
  chip_.ResetIntoIap();
  hs_ = Handshake::kPending;
  bootAnswer_ = true;
  takeAt_ = now_ + config_.takeUpMicros;
}

void Machine::Impl::AdvanceMicros(uint64_t micros) {
  const uint64_t target = now_ + micros;
  while (nextEvent_ <= target) {
    now_ = std::max(now_, nextEvent_);
    RunEvents();
  }
  now_ = target;
}

void Machine::Impl::SaveFlash() {
  if (config_.flashFile.empty()) return;
  fileError_ = WriteFile(config_.flashFile, chip_.flash().data(), chip_.flash().size());
}

void Machine::Impl::EnableTrace(bool on) {
  tracing_ = on;
  trace_.clear();
  traceStart_ = {now_, scl_, sda_};
}

std::string Machine::Impl::VcdText() const {
  std::string out;
  out.reserve(256 + trace_.size() * 16);
  out +=
      "$version Morvane simulated bus $end\n"
      "$timescale 1 us $end\n"
      "$scope module bus $end\n"
      "$var wire 1 c SCL $end\n"
      "$var wire 1 d SDA $end\n"
      "$upscope $end\n"
      "$enddefinitions $end\n";
  out += "#" + std::to_string(traceStart_.micros) + "\n$dumpvars\n";
  out += traceStart_.scl ? "1c\n" : "0c\n";
  out += traceStart_.sda ? "1d\n" : "0d\n";
  out += "$end\n";
  TraceEvent last = traceStart_;
  for (const TraceEvent& e : trace_) {
    if (e.micros != last.micros) out += "#" + std::to_string(e.micros) + "\n";
    if (e.scl != last.scl) out += e.scl ? "1c\n" : "0c\n";
    if (e.sda != last.sda) out += e.sda ? "1d\n" : "0d\n";
    last = e;
  }
  return out;
}

void Machine::Impl::SetChipPresent(bool present) {
  chipPresent_ = present;
  chipSlave_.Reset();
  if (!present) {
    hs_ = Handshake::kIdle;
    armed_ = false;
    stretchLeft_ = 0;
    sclPull_ &= ~(kChipHold | kStretch);
    sdaPull_ &= ~kChipHold;
  }
  RefreshSlaveBits();
  Settle();
}

void Machine::Impl::SetSecondSlave(uint8_t address) {
  secondPresent_ = address != 0;
  secondSlave_.Reset();
  secondSlave_.set_address(address);
  RefreshSlaveBits();
  Settle();
}

void Machine::Impl::SetSclStuck(bool stuck) {
  if (stuck) {
    sclPull_ |= kStuck;
  } else {
    sclPull_ &= ~kStuck;
  }
  Settle();
}

void Machine::Impl::SetHang(Hang hang) {
  hang_ = hang;
  if (hang != Hang::kNotFinished && hs_ == Handshake::kHolding && doneAt_ == kNever) {
    // A command held by the fault goes on now and finishes after its work.
    outcome_ = chip_.Execute();
    doneAt_ = now_ + std::max<uint64_t>(outcome_.micros, 1);
  }
  RecomputeNext();
}

void Machine::Impl::ClearFaults() {
  chip_.ClearFaults();
  chipSlave_.InjectNaks(0, 0);
  chipSlave_.SetNakRate(0, config_.seed);
  stretch_ = 0;
  stretchLeft_ = 0;
  sclPull_ &= ~kStretch;
  SetHang(Hang::kNone);
  SetSecondSlave(0);
  SetSclStuck(false);
  // The chip comes back where the configuration put it.
  chipSlave_.set_address(config_.address);
  if (!chipPresent_) SetChipPresent(true);
}

// ---------------------------------------------------------------------------

Machine::Machine(const Config& config) : impl_(std::make_unique<Impl>(config)) {}
Machine::~Machine() = default;

uint8_t Machine::In(uint16_t port) { return impl_->In(port); }
void Machine::Out(uint16_t port, uint8_t value) { impl_->Out(port, value); }

uint64_t Machine::NowMicros() const { return impl_->now_; }
void Machine::AdvanceMicros(uint64_t micros) { impl_->AdvanceMicros(micros); }
uint64_t Machine::PortAccesses() const { return impl_->accesses_; }
bool Machine::Scl() const { return impl_->scl_; }
bool Machine::Sda() const { return impl_->sda_; }

void Machine::EnableTrace(bool on) { impl_->EnableTrace(on); }
bool Machine::TraceEnabled() const { return impl_->tracing_; }
const std::vector<TraceEvent>& Machine::Trace() const { return impl_->trace_; }
std::string Machine::VcdText() const { return impl_->VcdText(); }
void Machine::WriteVcd(const std::string& path) const {
  const std::string text = impl_->VcdText();
  const std::string error = WriteFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (!error.empty()) throw std::runtime_error(error);
}

const Config& Machine::config() const { return impl_->config_; }
uint8_t Machine::Page() const { return impl_->chip_.page(); }
uint8_t Machine::Register(uint8_t page, uint8_t reg) const { return impl_->chip_.StoredRegister(page, reg); }
void Machine::SetRegister(uint8_t page, uint8_t reg, uint8_t value) { impl_->chip_.SetStoredRegister(page, reg, value); }
uint32_t Machine::WritePointer() const { return impl_->chip_.writePointer(); }
uint32_t Machine::ReadPointer() const { return impl_->chip_.readPointer(); }
uint8_t Machine::Memory(uint32_t address) const { return impl_->chip_.memory()[address & VelqChip::kMemoryMask]; }
std::vector<uint8_t> Machine::Memory(uint32_t address, uint32_t count) const {
  std::vector<uint8_t> out(count);
  for (uint32_t i = 0; i < count; ++i) out[i] = Memory(address + i);
  return out;
}
void Machine::SetMemory(uint32_t address, std::span<const uint8_t> bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) impl_->chip_.memory()[(address + i) & VelqChip::kMemoryMask] = bytes[i];
}
std::span<const uint8_t> Machine::Flash() const { return impl_->chip_.flash(); }
void Machine::SetFlash(uint32_t address, std::span<const uint8_t> bytes) {
  std::vector<uint8_t>& flash = impl_->chip_.flash();
  if (address >= flash.size()) return;
  const size_t n = std::min(bytes.size(), flash.size() - address);
  std::copy_n(bytes.begin(), n, flash.begin() + address);
  impl_->chip_.ApplyStuckCells();
}
bool Machine::IapRunning() const { return impl_->chip_.iap(); }
bool Machine::BootLocked() const { return impl_->chip_.bootLocked(); }
bool Machine::Protected() const { return impl_->chip_.flashProtected(); }
uint16_t Machine::Mark(uint8_t mark) const { return impl_->chip_.mark(mark); }
uint32_t Machine::CommandsDone() const { return impl_->chip_.commandsDone(); }
uint8_t Machine::LastCommand() const { return impl_->chip_.lastCommand(); }
uint32_t Machine::Restarts() const { return impl_->chip_.restarts(); }
uint32_t Machine::Resets() const { return impl_->chip_.resets(); }
bool Machine::Busy() const { return impl_->Busy(); }
void Machine::SaveFlash() { impl_->SaveFlash(); }

void Machine::SetChipPresent(bool present) { impl_->SetChipPresent(present); }
void Machine::SetChipAddress(uint8_t address) { impl_->chipSlave_.set_address(address); }
void Machine::SetSecondSlave(uint8_t address) { impl_->SetSecondSlave(address); }
void Machine::SetSclStuck(bool stuck) { impl_->SetSclStuck(stuck); }
void Machine::SetStretch(int reads) { impl_->stretch_ = std::max(0, reads); }
void Machine::InjectNaks(uint32_t count, uint32_t skip) { impl_->chipSlave_.InjectNaks(count, skip); }
void Machine::SetNakRate(double rate, uint32_t seed) { impl_->chipSlave_.SetNakRate(rate, seed); }
void Machine::SetHang(Hang hang) { impl_->SetHang(hang); }
void Machine::ForceStatus(uint8_t command, uint8_t status, int times) { impl_->chip_.ForceStatus(command, status, times); }
void Machine::StickCell(uint32_t address, uint8_t value) { impl_->chip_.StickCell(address, value); }
void Machine::DeafCell(uint32_t address, int times) { impl_->chip_.DeafCell(address, times); }
void Machine::ClearFaults() { impl_->ClearFaults(); }

}  // namespace morvane::sim
