// The [SIM] settings: one key and its text value at a time, parsed into the
// simulator's configuration.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string>

#include "sim/machine.h"

namespace morvane::sim {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool ParseDigits(std::string_view s, int base, uint64_t& out) {
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return ec == std::errc() && end == s.data() + s.size();
}

// Hexadecimal text, with or without "0x".
bool ParseHex(std::string_view s, uint64_t& out) {
  s = Trim(s);
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  return ParseDigits(s, 16, out);
}

// A number as the configuration file writes them: decimal, or hexadecimal
// with a "0x" or "$" prefix.
bool ParseNumber(std::string_view s, uint64_t& out) {
  s = Trim(s);
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return ParseDigits(s.substr(2), 16, out);
  if (s.size() > 1 && s[0] == '$') return ParseDigits(s.substr(1), 16, out);
  return ParseDigits(s, 10, out);
}

bool ParseFlag(std::string_view s, bool& out) {
  s = Trim(s);
  for (std::string_view t : {"1", "yes", "true", "on"}) {
    if (SameText(s, t)) return out = true, true;
  }
  for (std::string_view t : {"0", "no", "false", "off"}) {
    if (SameText(s, t)) return out = false, true;
  }
  return false;
}

std::string Bad(std::string_view key, std::string_view value, std::string_view wanted) {
  return std::string(key) + ": \"" + std::string(value) + "\" is not " + std::string(wanted) + ".";
}

struct Setting {
  const char* key;
  std::string (*apply)(Config&, std::string_view key, std::string_view value);
};

template <typename T>
std::string Hex(T& field, uint64_t max, std::string_view key, std::string_view value, std::string_view wanted) {
  uint64_t v = 0;
  if (!ParseHex(value, v) || v > max) return Bad(key, value, wanted);
  field = static_cast<T>(v);
  return "";
}

template <typename T>
std::string Number(T& field, uint64_t min, uint64_t max, std::string_view key, std::string_view value,
                   std::string_view wanted) {
  uint64_t v = 0;
  if (!ParseNumber(value, v) || v < min || v > max) return Bad(key, value, wanted);
  field = static_cast<T>(v);
  return "";
}

std::string Flag(bool& field, std::string_view key, std::string_view value) {
  if (!ParseFlag(value, field)) return Bad(key, value, "1 or 0");
  return "";
}

constexpr uint64_t kMaxFlash = 0x1000000;
constexpr uint64_t kMaxMicros = 0xFFFFFFFF;
constexpr const char* kMicros = "a number of microseconds (decimal, or hexadecimal after 0x)";

const Setting kSettings[] = {
    {"Address",
     [](Config& c, std::string_view k, std::string_view v) {
       return Hex(c.address, 0xFF, k, v, "a hexadecimal slave address such as 7E");
     }},
    {"Port",
     [](Config& c, std::string_view k, std::string_view v) {
       return Hex(c.port, 0xFFFF, k, v, "a hexadecimal port number such as 378 or 3D4");
     }},
    {"VgaId",
     [](Config& c, std::string_view k, std::string_view v) {
       return Hex(c.vgaId, 0xFF, k, v, "a hexadecimal byte such as F3");
     }},
    {"ChipId",
     [](Config& c, std::string_view k, std::string_view v) {
       return Hex(c.chipId, 0xFFFFFF, k, v, "a hexadecimal 24-bit identification such as 660301");
     }},
    {"FlashId",
     [](Config& c, std::string_view k, std::string_view v) {
       return Hex(c.flashId, 0xFFFF, k, v, "a hexadecimal 16-bit flash id such as BF01");
     }},
    {"FlashSize",
     [](Config& c, std::string_view k, std::string_view v) {
       return Number(c.flashSize, 1, kMaxFlash, k, v, "a flash size from 1 byte to 16 MiB (decimal, or hexadecimal after 0x)");
     }},
    {"BootSize",
     [](Config& c, std::string_view k, std::string_view v) {
       return Number(c.bootSize, 0, kMaxFlash, k, v, "a boot block size up to 16 MiB (decimal, or hexadecimal after 0x)");
     }},
    {"Iap", [](Config& c, std::string_view k, std::string_view v) { return Flag(c.iap, k, v); }},
    {"BootLocked", [](Config& c, std::string_view k, std::string_view v) { return Flag(c.bootLocked, k, v); }},
    {"Protect", [](Config& c, std::string_view k, std::string_view v) { return Flag(c.protect, k, v); }},
    {"Present", [](Config& c, std::string_view k, std::string_view v) { return Flag(c.present, k, v); }},
    {"SclStuck", [](Config& c, std::string_view k, std::string_view v) { return Flag(c.sclStuck, k, v); }},
    {"SecondSlave",
     [](Config& c, std::string_view k, std::string_view v) {
       return Hex(c.secondSlave, 0xFF, k, v, "a hexadecimal slave address such as 40 (0 for none)");
     }},
    {"FlashFile",
     [](Config& c, std::string_view, std::string_view v) {
       c.flashFile = std::string(Trim(v));
       return std::string();
     }},
    {"TraceFile",
     [](Config& c, std::string_view, std::string_view v) {
       c.traceFile = std::string(Trim(v));
       return std::string();
     }},
    {"NakRate",
     [](Config& c, std::string_view k, std::string_view v) {
       const std::string text(Trim(v));
       char* end = nullptr;
       const double rate = text.empty() ? -1 : std::strtod(text.c_str(), &end);
       if (text.empty() || end != text.c_str() + text.size() || !(rate >= 0 && rate <= 1)) {
         return Bad(k, v, "a rate from 0 to 1 such as 0.01");
       }
       c.nakRate = rate;
       return std::string();
     }},
    {"Seed",
     [](Config& c, std::string_view k, std::string_view v) {
       return Number(c.seed, 0, 0xFFFFFFFF, k, v, "a 32-bit number (decimal, or hexadecimal after 0x)");
     }},
    {"Stretch",
     [](Config& c, std::string_view k, std::string_view v) {
       return Number(c.stretch, 0, 1'000'000, k, v, "a number of status reads from 0 to 1000000");
     }},
    {"DeafCells",
     [](Config& c, std::string_view k, std::string_view v) {
       // "1234,8000*2": hexadecimal addresses, each with how many programmings it ignores.
       std::vector<std::pair<uint32_t, int>> cells;
       std::string_view rest = Trim(v);
       while (!rest.empty()) {
         const std::size_t comma = rest.find(',');
         std::string_view item = Trim(rest.substr(0, comma));
         rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
         uint64_t address = 0, times = 0;
         int count = -1;
         const std::size_t star = item.find('*');
         if (star != std::string_view::npos) {
           if (!ParseDigits(Trim(item.substr(star + 1)), 10, times) || times == 0 || times > 1'000'000)
             return Bad(k, v, "a list of hexadecimal flash addresses, each with an optional *N (N from 1)");
           count = static_cast<int>(times);
           item = item.substr(0, star);
         }
         if (!ParseHex(item, address) || address > 0xFFFFFF)
           return Bad(k, v, "a list of hexadecimal flash addresses, each with an optional *N (N from 1)");
         cells.emplace_back(static_cast<uint32_t>(address), count);
       }
       c.deafCells = std::move(cells);
       return std::string();
     }},
    {"TakeUpMicros",
     [](Config& c, std::string_view k, std::string_view v) { return Number(c.takeUpMicros, 0, kMaxMicros, k, v, kMicros); }},
    {"PulseMicros",
     [](Config& c, std::string_view k, std::string_view v) { return Number(c.pulseMicros, 1, kMaxMicros, k, v, kMicros); }},
    {"CommandMicros",
     [](Config& c, std::string_view k, std::string_view v) { return Number(c.commandMicros, 0, kMaxMicros, k, v, kMicros); }},
    {"ProgramMicros",
     [](Config& c, std::string_view k, std::string_view v) { return Number(c.programMicros, 0, kMaxMicros, k, v, kMicros); }},
    {"ReadMicros",
     [](Config& c, std::string_view k, std::string_view v) { return Number(c.readMicros, 0, kMaxMicros, k, v, kMicros); }},
    {"EraseMicros",
     [](Config& c, std::string_view k, std::string_view v) { return Number(c.eraseMicros, 0, kMaxMicros, k, v, kMicros); }},
    {"RestartMicros",
     [](Config& c, std::string_view k, std::string_view v) { return Number(c.restartMicros, 0, kMaxMicros, k, v, kMicros); }},
    {"ResetMicros",
     [](Config& c, std::string_view k, std::string_view v) { return Number(c.resetMicros, 0, kMaxMicros, k, v, kMicros); }},
};

}  // namespace

std::string ApplySetting(Config& config, std::string_view key, std::string_view value) {
  const std::string_view k = Trim(key);
  for (const Setting& s : kSettings) {
    if (SameText(k, s.key)) {
      Config trial = config;
      std::string error = s.apply(trial, s.key, value);
      if (error.empty()) config = std::move(trial);
      return error;
    }
  }
  std::string known;
  for (const Setting& s : kSettings) {
    if (!known.empty()) known += ", ";
    known += s.key;
  }
  return "\"" + std::string(k) + "\" is not a key of the simulator; the keys are: " + known + ".";
}

}  // namespace morvane::sim
