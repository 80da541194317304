#pragma once
// Device set-up, shared by both front ends: puts the chip into its
// programming state, asks the IAP firmware for the boot-block state and the
// flash id, and looks the flash id up in the [DEVICE] section of the
// configuration file, whose entries are read by fixed character positions.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace morvane {

inline constexpr char kDeviceSection[] = "DEVICE";
inline constexpr char kUnsupportedDeviceText[] = "Don't support this kind of device!";
inline constexpr char kFlashIdUnreadableText[] =
    "The flash id could not be read from the chip (information item 1 failed with status %d). "
    "Check the connection and restart the chip.";

// The size of the flash's boot area that the jobs skip, set by device set-up.
extern uint16_t BootSize;

// A field of a device entry that does not read as an integer.
class DeviceEntryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads an integer as the configuration file writes it: leading blanks, an
// optional sign, then decimal digits, or hexadecimal digits after "0x" or
// "$", to the end of the text. Throws DeviceEntryError for anything else (an
// empty text, a blank after the number, hexadecimal letters without prefix).
int32_t ParseConfigInteger(std::string_view text);

struct DeviceEntry {
  std::string name;  // the key: the name shown in the device list
  uint16_t flashId = 0;
  int32_t pageSize = 0;  // the page field plus one
  bool unprotect = false;
  bool wholeChip = false;
  uint32_t deviceEnd = 0;
};

// Reads the fields of a device entry value; `key` names it in error texts.
DeviceEntry ParseDeviceEntry(std::string_view key, std::string_view value);

struct DeviceSetup {
  enum class Outcome {
    kReady,              // a device entry matched the flash id
    kUnsupported,        // no entry matched ("Don't support this kind of device!")
    kFlashIdUnreadable,  // the chip did not report its flash id
  };
  Outcome outcome = Outcome::kUnsupported;
  bool bootStateRead = false;  // information item 2 answered
  bool bootLocked = false;     // its bit 0, when it answered
  bool flashIdRead = false;    // information item 1 answered
  uint8_t flashIdStatus = 0;   // the chip's status for item 1
  uint16_t word = 0;           // the result word: the flash id once item 1 answered
  std::optional<DeviceEntry> device;
  uint16_t bootSize = 0x2000;
  std::string message;  // for the outcomes other than kReady
};

// Runs device set-up against the chip and the configuration file; sets
// BootSize on success. Throws DeviceEntryError for an entry that must be read
// and does not convert.
DeviceSetup SetupDevice(const std::filesystem::path& configFile);

// The boot area of a device whose last address is deviceEnd.
constexpr uint16_t BootSizeFor(uint32_t deviceEnd) { return deviceEnd == 0x7FFFF ? 0x4000 : 0x2000; }

}  // namespace morvane
