#pragma once
// The simulated hardware: a PC's I/O port space with a bus adapter in it
// (a parallel-port adapter or the DDC lines of a VGA controller), the
// two-line open-drain I2C bus behind it, and the VELQ chip on that bus with
// its register pages, its memory port, its flash and its IAP firmware.
//
// Everything is reached through port input and output, exactly as real
// hardware is: the model decodes the wires itself, edge by edge, and shares
// nothing with the chip link that drives it. Time is simulated: every port
// access moves the clock on by one microsecond, so runs are deterministic
// and the long time limits of the link are fast to test.
//
// One thread at a time may use a Machine; nothing in it is locked.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::sim {

// The settings of the simulated hardware. The defaults make a chip that the
// shipped configuration supports, on a parallel-port adapter at 0x378.
struct Config {
  uint8_t address = 0x7E;        // the chip's slave address, 8-bit form
  uint16_t port = 0x378;         // 0x378/0x278/0x3BC/0x2BC parallel base, 0x3D4/0x3CE VGA;
                                 // any other value: an adapter that discovery never finds
  uint8_t vgaId = 0xF3;          // sequencer register 0x0B of the VGA controller
  uint32_t chipId = 0x660301;    // identification registers 0x96, 0x97, 0x98 on page 0x02
  uint16_t flashId = 0xBF01;     // information item 1 of the IAP firmware
  uint32_t flashSize = 0x80000;  // bytes of flash, at most 16 MiB
  uint32_t bootSize = 0x4000;    // the boot block [0, bootSize)
  bool iap = true;               // the IAP firmware runs from power-on
  bool bootLocked = false;       // the boot block is locked from power-on
  bool protect = false;          // the flash is write-protected from power-on
  bool present = true;           // false: no chip on the bus at all
  uint8_t secondSlave = 0;       // address of another slave on the bus (not a VELQ); 0: none
  bool sclStuck = false;         // the clock line is held low for ever
  std::string flashFile;         // raw flash image kept between runs; empty: memory only
  std::string traceFile;         // VCD file written at destruction; empty: no trace
  double nakRate = 0;            // share of address bytes the chip does not acknowledge
  uint32_t seed = 1;             // seed of those not-acknowledges
  int stretch = 0;               // status reads the chip holds SCL low at each byte
  // Flash cells that ignore programming: the address, and how many
  // programmings they ignore before they take values again (negative: all).
  std::vector<std::pair<uint32_t, int>> deafCells;

  // Timings, in simulated microseconds.
  uint32_t takeUpMicros = 30;         // from the stop after a command until the chip takes it
  uint32_t pulseMicros = 50;          // how long the chip pulls SCL low when it takes a command
  uint32_t commandMicros = 100;       // work of every command
  uint32_t programMicros = 4;         // and per byte programmed
  uint32_t readMicros = 1;            // and per byte read
  uint32_t eraseMicros = 400'000;     // erasing the whole flash
  uint32_t restartMicros = 2'000;     // restarting
  uint32_t resetMicros = 2'000'000;   // how long the Enter IAP pattern must be held before
                                      // a chip without IAP is reset into it by the "user"
};

// Applies one setting by its key (compared without regard to case): Address,
// Port, VgaId, ChipId, FlashId, FlashSize, BootSize, Iap, BootLocked,
// Protect, Present, SecondSlave, SclStuck, FlashFile, TraceFile, NakRate,
// Seed, Stretch, DeafCells (hexadecimal addresses separated by commas, each
// with an optional "*N": the cell ignores its first N programmings), and the timings TakeUpMicros, PulseMicros, CommandMicros,
// ProgramMicros, ReadMicros, EraseMicros, RestartMicros, ResetMicros.
// Returns "" when applied, else a text naming the key and the bad value
// (`Address: "7G" is not a hexadecimal slave address such as 7E.`), for the
// caller to put behind its own words; the configuration is then unchanged.
std::string ApplySetting(Config& config, std::string_view key, std::string_view value);

// The status codes the IAP firmware leaves in register 0xE7.
inline constexpr uint8_t kStatusOk = 0x00;
inline constexpr uint8_t kStatusBadRange = 0x01;       // last address below the first
inline constexpr uint8_t kStatusOutsideFlash = 0x02;   // a range beyond the flash
inline constexpr uint8_t kStatusBootLocked = 0x03;     // a change to the locked boot block
inline constexpr uint8_t kStatusProtected = 0x04;      // a change to protected flash
inline constexpr uint8_t kStatusBadDescriptor = 0x05;  // descriptor length in 0xE3 not 12
inline constexpr uint8_t kStatusBadItem = 0x06;        // unknown information item
inline constexpr uint8_t kStatusBadCommand = 0x07;     // unknown command code
inline constexpr uint8_t kStatusBusy = 0x80;           // command written, not finished

// One change of the bus lines as seen on the wires: the levels after it.
struct TraceEvent {
  uint64_t micros;
  bool scl;
  bool sda;
  bool operator==(const TraceEvent&) const = default;
};

// How the IAP firmware fails to complete commands (a fault for tests).
enum class Hang : uint8_t {
  kNone,         // commands complete
  kNotTaken,     // the firmware takes no command: SCL is never pulled low
  kNotFinished,  // it takes them but never finishes: SDA stays low
};

class Machine {
 public:
  // Throws std::runtime_error with a message when the configuration cannot
  // be built (a flash size out of range, a flash file of the wrong size or
  // one that cannot be read or created).
  explicit Machine(const Config& config);
  ~Machine();  // writes the flash file and the trace file back when set
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Port access. A port with nothing behind it reads 0xFF.
  uint8_t In(uint16_t port);
  void Out(uint16_t port, uint8_t value);

  // Simulated time: one microsecond per port access, plus what tests add.
  uint64_t NowMicros() const;
  void AdvanceMicros(uint64_t micros);
  uint64_t PortAccesses() const;

  // The lines as they are on the wires now.
  bool Scl() const;
  bool Sda() const;

  // Trace of the lines; off by default. Enabling it starts a new trace.
  void EnableTrace(bool on);
  bool TraceEnabled() const;
  const std::vector<TraceEvent>& Trace() const;
  // The trace as a VCD text, and written to a file (throws std::runtime_error
  // when the file cannot be written).
  std::string VcdText() const;
  void WriteVcd(const std::string& path) const;

  // Inspection of the chip.
  const Config& config() const;
  uint8_t Page() const;
  uint8_t Register(uint8_t page, uint8_t reg) const;  // as stored, without inversion
  void SetRegister(uint8_t page, uint8_t reg, uint8_t value);
  uint32_t WritePointer() const;
  uint32_t ReadPointer() const;
  uint8_t Memory(uint32_t address) const;
  std::vector<uint8_t> Memory(uint32_t address, uint32_t count) const;
  void SetMemory(uint32_t address, std::span<const uint8_t> bytes);
  std::span<const uint8_t> Flash() const;
  void SetFlash(uint32_t address, std::span<const uint8_t> bytes);
  bool IapRunning() const;
  bool BootLocked() const;
  bool Protected() const;
  uint16_t Mark(uint8_t mark) const;  // the value last set by command 0x0E for a mark
  uint32_t CommandsDone() const;      // commands the firmware has finished
  uint8_t LastCommand() const;        // code of the last command finished
  uint32_t Restarts() const;          // restart commands finished
  uint32_t Resets() const;            // resets by the Enter IAP pattern
  bool Busy() const;                  // a command is taken or waiting to be taken
  void SaveFlash();                   // writes the flash file now (no-op without one)

  // Faults.
  void SetChipPresent(bool present);
  void SetChipAddress(uint8_t address);
  void SetSecondSlave(uint8_t address);  // 0 removes it
  void SetSclStuck(bool stuck);
  void SetStretch(int reads);
  // The next `count` bytes the chip would acknowledge after the next `skip`
  // such bytes (address, register and data bytes alike) are not
  // acknowledged, and not taken.
  void InjectNaks(uint32_t count, uint32_t skip = 0);
  void SetNakRate(double rate, uint32_t seed);
  void SetHang(Hang hang);
  // The next `times` runs of `command` (every run when negative) end with
  // `status` and do nothing else.
  void ForceStatus(uint8_t command, uint8_t status, int times = 1);
  void StickCell(uint32_t address, uint8_t value);  // always reads value
  // The cell ignores the next `times` programmings (every one when negative).
  void DeafCell(uint32_t address, int times = -1);
  // Removes every fault, configured or injected (stretching, not-
  // acknowledges, second slave, stuck clock, hang, forced statuses, bad
  // cells) and puts the chip back, present, at its configured address.
  void ClearFaults();

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace morvane::sim
