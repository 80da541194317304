#pragma once
// An I2C protocol decoder of the tests' own: turns a sequence of line levels
// into start, stop and byte events, so that tests check the framing on the
// wires rather than the calls that made it.
#include <cstdint>
#include <string>
#include <vector>

#include "chiplink/recording_ports.h"

namespace morvane::testing {

struct Lines {
  bool scl;
  bool sda;
  bool operator==(const Lines&) const = default;
};

struct I2cEvent {
  enum Kind : uint8_t { kStart, kStop, kByte };
  Kind kind;
  uint8_t value = 0;   // kByte: the eight bits, most significant first
  bool acked = false;  // kByte: SDA low during the ninth clock
  bool operator==(const I2cEvent&) const = default;
};

// Decodes level changes. A byte is reported at its ninth clock; eight bits
// followed by a start or a stop without a ninth clock are reported as a byte
// that was not acknowledged.
std::vector<I2cEvent> DecodeI2c(const std::vector<Lines>& levels);

// The levels the master drove on a parallel-port adapter at `base`, from the
// data-port writes of a port log (SCL and SDA are released when their bits
// are 0).
// `initial` is the levels before the first write of the log.
std::vector<Lines> MasterLevels(const std::vector<PortAccess>& log, uint16_t base, Lines initial = {true, true});

// A compact text of events for readable failure messages: "S 7E+ 10+ P".
std::string Describe(const std::vector<I2cEvent>& events);

// The register transactions in a list of events, one text each:
//   "FF=02"       a register write (register, value)
//   "FF?02"       a register read (register, the value read)
//   "EF<3"        a burst write of that many data bytes to a register
//   "EF>3"        a burst read of that many bytes from a register
//   "-"           a transaction whose address or register was not acknowledged
// The slave address is not shown; tests that care look at the events.
std::vector<std::string> Transactions(const std::vector<I2cEvent>& events);

// The levels of a simulated machine's trace.
template <typename Trace>
std::vector<Lines> TraceLevels(const Trace& trace) {
  std::vector<Lines> levels;
  levels.reserve(trace.size());
  for (const auto& e : trace) levels.push_back({e.scl, e.sda});
  return levels;
}

// Shorthands for expected event lists.
inline I2cEvent Start() { return {I2cEvent::kStart}; }
inline I2cEvent Stop() { return {I2cEvent::kStop}; }
inline I2cEvent Byte(uint8_t value, bool acked) { return {I2cEvent::kByte, value, acked}; }

}  // namespace morvane::testing
