#include "tests/support/i2c_decoder.h"

#include <cstdio>

namespace morvane::testing {

std::vector<I2cEvent> DecodeI2c(const std::vector<Lines>& levels) {
  std::vector<I2cEvent> events;
  if (levels.empty()) return events;
  Lines prev = levels.front();
  int bits = 0;
  uint8_t value = 0;
  auto flushPartial = [&] {
    if (bits == 8) events.push_back(Byte(value, false));
    bits = 0;
    value = 0;
  };
  for (std::size_t i = 1; i < levels.size(); ++i) {
    const Lines now = levels[i];
    if (now == prev) continue;
    if (prev.scl && now.scl && prev.sda && !now.sda) {
      flushPartial();
      events.push_back(Start());
    } else if (prev.scl && now.scl && !prev.sda && now.sda) {
      flushPartial();
      events.push_back(Stop());
    } else if (!prev.scl && now.scl) {
      // A rising clock samples SDA as it is once the clock is high.
      if (bits < 8) {
        value = static_cast<uint8_t>((value << 1) | (now.sda ? 1 : 0));
        ++bits;
      } else {
        events.push_back(Byte(value, !now.sda));
        bits = 0;
        value = 0;
      }
    }
    prev = now;
  }
  return events;
}

std::vector<Lines> MasterLevels(const std::vector<PortAccess>& log, uint16_t base, Lines initial) {
  std::vector<Lines> levels{initial};
  for (const PortAccess& a : log) {
    if (a.kind != PortAccess::kOut || a.port != base) continue;
    levels.push_back({(a.value & 0x01) == 0, (a.value & 0x02) == 0});
  }
  return levels;
}

std::string Describe(const std::vector<I2cEvent>& events) {
  std::string out;
  for (const I2cEvent& e : events) {
    if (!out.empty()) out += ' ';
    switch (e.kind) {
      case I2cEvent::kStart: out += 'S'; break;
      case I2cEvent::kStop: out += 'P'; break;
      case I2cEvent::kByte: {
        char text[8];
        std::snprintf(text, sizeof text, "%02X%c", e.value, e.acked ? '+' : '-');
        out += text;
        break;
      }
    }
  }
  return out;
}

}  // namespace morvane::testing
