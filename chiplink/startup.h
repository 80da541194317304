#pragma once
// Link start-up and shutdown. The program has one VELQ object, created first
// thing in main (before any window) and destroyed after the message loop:
// its construction reads the [I2C] settings, opens the adapter, and runs bus
// discovery; when no chip answers, it tells the user and ends the process
// with exit code 1. Its destruction releases the bus.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morvane {

namespace sim {
class Machine;
}

inline constexpr char kConnectErrorText[] = "Can not connect VELQ via I2C.";
inline constexpr char kConnectErrorCaption[] = "VELQ I2C Error";
inline constexpr char kDefaultAdapter[] = "sim";

// What a front end may set beyond the configuration file.
struct LinkOptions {
  // The configuration file; empty: Morvane.ini next to the executable.
  std::filesystem::path configFile;
  // The adapter, as the Adapter key (over the MORVANE_ADAPTER variable and
  // the file).
  std::optional<std::string> adapter;
  // Simulator settings, as the [SIM] keys (over MORVANE_SIM_<KEY> and the file).
  std::vector<std::pair<std::string, std::string>> simSettings;
  // Where to write the simulated bus trace as a VCD file at shutdown.
  std::filesystem::path traceFile;
};

// The settings start-up reads, for front ends that show them.
struct LinkSettings {
  std::filesystem::path configFile;
  std::string adapter;
};

class VELQ {
 public:
  explicit VELQ(const LinkOptions& options = {});
  ~VELQ();
  VELQ(const VELQ&) = delete;
  VELQ& operator=(const VELQ&) = delete;

  // What start-up used.
  static const LinkSettings& Settings();
  // The simulated machine when the link runs on the simulator, else null.
  static sim::Machine* Simulator();
};

// Reads the SlaveAddress text: blanks skipped, an optional "0x", hexadecimal
// digits up to the first other character; the low 8 bits of the number.
// Nothing when the text holds no number.
std::optional<uint8_t> ParseSlaveAddress(std::string_view text);

}  // namespace morvane
