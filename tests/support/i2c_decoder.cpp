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

std::vector<std::string> Transactions(const std::vector<I2cEvent>& events) {
  std::vector<std::string> out;
  std::size_t i = 0;
  auto hex = [](uint8_t v) {
    char t[4];
    std::snprintf(t, sizeof t, "%02X", v);
    return std::string(t);
  };
  while (i < events.size()) {
    if (events[i].kind != I2cEvent::kStart) {
      ++i;
      continue;
    }
    // Gather the bytes up to the stop, splitting at repeated starts.
    std::vector<std::vector<I2cEvent>> parts(1);
    ++i;
    while (i < events.size() && events[i].kind != I2cEvent::kStop) {
      if (events[i].kind == I2cEvent::kStart)
        parts.emplace_back();
      else
        parts.back().push_back(events[i]);
      ++i;
    }
    ++i;  // the stop
    const std::vector<I2cEvent>& head = parts[0];
    if (head.size() < 2 || !head[0].acked || !head[1].acked || (head[0].value & 1)) {
      out.push_back("-");
      continue;
    }
    const std::string reg = hex(head[1].value);
    if (parts.size() == 1) {
      if (head.size() == 3)
        out.push_back(reg + "=" + hex(head[2].value));
      else
        out.push_back(reg + "<" + std::to_string(head.size() - 2));
    } else if (parts.size() == 2 && parts[1].size() == 2 && head.size() == 2) {
      out.push_back(parts[1][0].acked ? reg + "?" + hex(parts[1][1].value) : "-");
    } else {
      out.push_back(reg + ">" + std::to_string(parts.size() - 1));
    }
  }
  return out;
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
