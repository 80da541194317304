#include "flash/device.h"

#include <cctype>
#include <cstdio>
#include <limits>

#include "chiplink/registers.h"
#include "flash/iap.h"
#include "platform/profile.h"

namespace morvane {

uint16_t BootSize = 0x4000;

namespace {

constexpr std::size_t kEntryBuffer = 4096;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Characters first .. last (counted from 1) of an entry; shorter when the
// value is.
std::string_view Field(std::string_view value, std::size_t first, std::size_t last) {
  if (value.size() < first) return {};
  return value.substr(first - 1, last - first + 1);
}

int32_t FieldInteger(std::string_view key, std::string_view value, std::size_t first, std::size_t last,
                     const char* what) {
  try {
    return ParseConfigInteger(Field(value, first, last));
  } catch (const DeviceEntryError& e) {
    throw DeviceEntryError("Device entry " + Quoted(key) + ": the " + what + " (characters " +
                           std::to_string(first) + " to " + std::to_string(last) + ") " + e.what());
  }
}

}  // namespace

int32_t ParseConfigInteger(std::string_view text) {
  const std::string shown = Quoted(text);
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) throw DeviceEntryError(shown + " is not a number");
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0 || digit >= base) throw DeviceEntryError(shown + " is not a number");
    value = value * base + digit;
    if (value > int64_t{std::numeric_limits<uint32_t>::max()}) throw DeviceEntryError(shown + " is too large");
  }
  // Hexadecimal text may fill all 32 bits, as in 0xFFFFFFFF.
  return static_cast<int32_t>(static_cast<uint32_t>(negative ? -value : value));
}

DeviceEntry ParseDeviceEntry(std::string_view key, std::string_view value) {
  DeviceEntry entry;
  entry.name = std::string(key);
  entry.flashId = static_cast<uint16_t>(FieldInteger(key, value, 1, 6, "flash id"));
  entry.pageSize = FieldInteger(key, value, 8, 11, "page size") + 1;
  entry.unprotect = FieldInteger(key, value, 13, 13, "unprotect flag") != 0;
  entry.wholeChip = FieldInteger(key, value, 15, 15, "whole-chip flag") != 0;
  entry.deviceEnd = static_cast<uint32_t>(FieldInteger(key, value, 17, 23, "device end address"));
  return entry;
}

DeviceSetup SetupDevice(const std::filesystem::path& configFile) {
  ApplyRegisterTable(ChipInitTable, 0x00);
  ApplyRegisterPairs(ChipInitPairs);

  DeviceSetup setup;
  const std::vector<std::string> keys = ReadProfileKeys(kDeviceSection, configFile);

  uint16_t word = 0;
  if (IapReadInfo(kInfoBootState, word) == 0) {
    setup.bootStateRead = true;
    setup.bootLocked = word & 0x01;
  }
  setup.flashIdStatus = IapReadInfo(kInfoFlashId, word);
  setup.flashIdRead = setup.flashIdStatus == 0;
  setup.word = word;
  if (!setup.flashIdRead) {
    // Searching the entries with the boot-state word left in the result
    // would match a wrong device or none; say what went wrong instead.
    setup.outcome = DeviceSetup::Outcome::kFlashIdUnreadable;
    char text[sizeof kFlashIdUnreadableText + 8];
    std::snprintf(text, sizeof text, kFlashIdUnreadableText, setup.flashIdStatus);
    setup.message = text;
    return setup;
  }

  for (const std::string& key : keys) {
    const std::string value = ReadProfileString(kDeviceSection, key, "", kEntryBuffer, configFile);
    const int32_t id = FieldInteger(key, value, 1, 6, "flash id");
    if (id != static_cast<int32_t>(word)) continue;  // the word as an unsigned 16-bit number
    setup.device = ParseDeviceEntry(key, value);
    break;
  }
  if (!setup.device) {
    setup.outcome = DeviceSetup::Outcome::kUnsupported;
    setup.message = kUnsupportedDeviceText;
    return setup;
  }
  setup.bootSize = BootSizeFor(setup.device->deviceEnd);
  BootSize = setup.bootSize;
  setup.outcome = DeviceSetup::Outcome::kReady;
  return setup;
}

}  // namespace morvane
