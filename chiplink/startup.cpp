#include "chiplink/startup.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <memory>

#include "chiplink/backends/hardware_ports.h"
#include "chiplink/discovery.h"
#include "chiplink/linkstate.h"
#include "chiplink/linkui.h"
#include "chiplink/ports.h"
#include "chiplink/sim_ports.h"
#include "platform/clock.h"
#include "platform/configpath.h"
#include "platform/env.h"
#include "platform/profile.h"
#include "sim/machine.h"

extern char** environ;

namespace morvane {
namespace {

constexpr char kLinkSection[] = "I2C";
constexpr char kSimSection[] = "SIM";
constexpr char kSimEnvPrefix[] = "MORVANE_SIM_";
constexpr std::size_t kSlaveAddressBuffer = 10;

// What the running link owns: one set per process, like the link state.
struct Backend {
  std::unique_ptr<sim::Machine> machine;
  std::unique_ptr<PortSpace> ports;
  std::filesystem::path traceFile;
  TimeSource previousTime;
  bool timeInstalled = false;
};
Backend g_backend;
LinkSettings g_settings;

uint32_t SimTicks(void* machine) {
  return static_cast<uint32_t>(static_cast<sim::Machine*>(machine)->NowMicros() / 1000);
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The simulator's settings: the file's [SIM] keys, then the MORVANE_SIM_<KEY>
// variables, then the front end's own; each later one wins.
bool BuildSimConfig(const LinkOptions& options, const std::filesystem::path& file, sim::Config& config,
                    std::string* error) {
  std::vector<std::pair<std::string, std::string>> settings;
  for (const std::string& key : ReadProfileKeys(kSimSection, file))
    settings.emplace_back(key, ReadProfileString(kSimSection, key, "", 4096, file));
  for (char** env = environ; env && *env; ++env) {
    std::string_view entry(*env);
    if (entry.substr(0, sizeof kSimEnvPrefix - 1) != kSimEnvPrefix) continue;
    std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    settings.emplace_back(std::string(entry.substr(sizeof kSimEnvPrefix - 1, eq - (sizeof kSimEnvPrefix - 1))),
                          std::string(entry.substr(eq + 1)));
  }
  settings.insert(settings.end(), options.simSettings.begin(), options.simSettings.end());
  for (const auto& [key, value] : settings) {
    std::string problem = sim::ApplySetting(config, key, value);
    if (!problem.empty()) {
      *error = "Simulator setting: " + problem;
      return false;
    }
  }
  return true;
}

bool OpenBackend(const LinkOptions& options, const std::filesystem::path& file, std::string* error) {
  const std::string adapter = g_settings.adapter;
  if (Upper(adapter) == "SIM") {
    sim::Config config;
    if (!BuildSimConfig(options, file, config, error)) return false;
    try {
      g_backend.machine = std::make_unique<sim::Machine>(config);
    } catch (const std::exception& e) {
      *error = std::string("Simulator: ") + e.what();
      return false;
    }
    if (!options.traceFile.empty()) {
      g_backend.machine->EnableTrace(true);
      g_backend.traceFile = options.traceFile;
    }
    g_backend.ports = std::make_unique<SimPorts>(*g_backend.machine);
    // The link's tick count follows simulated time, so that the chip's
    // command times and the handshake limits agree however fast the host is.
    TimeSource source;
    source.tickCount = &SimTicks;
    source.context = g_backend.machine.get();
    g_backend.previousTime = SetTimeSource(source);
    g_backend.timeInstalled = true;
  } else {
    g_backend.ports = OpenHardwarePorts(adapter, error);
    if (!g_backend.ports) return false;
  }
  SetPortSpace(g_backend.ports.get());
  return true;
}

void CloseBackend() {
  SetPortSpace(nullptr);
  g_backend.ports.reset();
  if (g_backend.machine && !g_backend.traceFile.empty()) g_backend.machine->WriteVcd(g_backend.traceFile);
  if (g_backend.timeInstalled) SetTimeSource(g_backend.previousTime);
  g_backend.machine.reset();  // writes the simulated flash back to its file
  g_backend = Backend{};
}

[[noreturn]] void FailStartup(std::string_view text) {
  CloseBackend();
  CloseBusMarker();
  LinkUi& ui = CurrentLinkUi();
  ui.ShowError(text, kConnectErrorCaption);
  ui.ExitProcess(1);
  std::abort();  // not reached: ExitProcess does not return
}

}  // namespace

std::optional<uint8_t> ParseSlaveAddress(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
  uint32_t value = 0;
  bool any = false;
  for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    value = value * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'A' + 10);
    any = true;
  }
  if (!any) return std::nullopt;
  return static_cast<uint8_t>(value);
}

VELQ::VELQ(const LinkOptions& options) {
  g_settings.configFile = options.configFile.empty() ? ConfigFilePath() : options.configFile;
  const std::filesystem::path& file = g_settings.configFile;

  WaitUnits = static_cast<int32_t>(ReadProfileInt(kLinkSection, "WAIT", 0, file));
  if (auto address = ParseSlaveAddress(ReadProfileString(kLinkSection, "SlaveAddress", "7E", kSlaveAddressBuffer, file)))
    SlaveAddress = *address;

  if (options.adapter)
    g_settings.adapter = *options.adapter;
  else if (auto env = GetEnv("MORVANE_ADAPTER"))
    g_settings.adapter = *env;
  else
    g_settings.adapter = ReadProfileString(kLinkSection, "Adapter", kDefaultAdapter, 256, file);

  std::string error;
  if (!OpenBackend(options, file, &error)) FailStartup(error + "\n\n" + kConnectErrorText);
  if (DiscoverBus() == 0) FailStartup(kConnectErrorText);
}

VELQ::~VELQ() {
  CloseBusMarker();
  CloseBackend();
}

const LinkSettings& VELQ::Settings() { return g_settings; }

sim::Machine* VELQ::Simulator() { return g_backend.machine.get(); }

}  // namespace morvane
