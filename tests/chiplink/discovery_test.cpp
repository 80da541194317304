// Bus discovery, delay calibration, the IAP presence query and link
// start-up, against the simulated machine.
#include "chiplink/discovery.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "chiplink/linkstate.h"
#include "chiplink/ports.h"
#include "chiplink/startup.h"
#include "tests/support/fakes.h"
#include "tests/support/i2c_decoder.h"
#include "tests/support/sim_link.h"

namespace morvane {
namespace {

using testing::DecodeI2c;
using testing::FakeClock;
using testing::FakeLinkUi;
using testing::ProcessExit;
using testing::SimLink;
using testing::TraceLevels;
using testing::Transactions;

// Each test process takes a marker name of its own, so that tests running
// side by side (and a real copy of the program) never meet.
std::string TestMarkerName() { return "morvane-test-" + std::to_string(getpid()); }

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { SetBusMarkerName(TestMarkerName()); }
  void TearDown() override {
    CloseBusMarker();
    SetBusMarkerName(std::string(kBusMarkerName));
  }
  static std::vector<std::pair<int, int>> Found() {
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < FoundCount; ++i) out.emplace_back(FoundSlaves[i].address, FoundSlaves[i].kind);
    return out;
  }
};

sim::Config ChipAt(uint8_t address) {
  sim::Config config;
  config.address = address;
  return config;
}

TEST_F(DiscoveryTest, FindsTheDefaultChipAndIdentifiesIt) {
  SimLink link({}, false);
  SlaveAddress = 0x7E;
  EXPECT_EQ(DiscoverBus(), 0x660301u);
  EXPECT_EQ(BusPort, 0x378);
  EXPECT_EQ(SlaveAddress, 0x7E);
  EXPECT_EQ(SlaveKind, 0);
  EXPECT_EQ(Found(), (std::vector<std::pair<int, int>>{{0x7E, 0}}));
  EXPECT_EQ(ChipVariant, 0x01);
  EXPECT_EQ(IapAnswer, kIapRunning);
  EXPECT_TRUE(BusMarker.IsOpen());
  EXPECT_EQ(link.machine().Register(0x02, 0x0D) & 0x80, 0x80);
}

TEST_F(DiscoveryTest, HeldMarkerMeansNoPortAccessAtAll) {
  BusMarkerResult other = AcquireBusMarker(TestMarkerName());
  ASSERT_EQ(other.state, BusMarkerState::Acquired);
  SimLink link({}, false);
  link.ports().SetRecording(true);
  SlaveAddress = 0x7E;
  EXPECT_EQ(DiscoverBus(), 0u);
  EXPECT_TRUE(link.ports().Log().empty());
  EXPECT_EQ(BusPort, 0);
  EXPECT_FALSE(BusMarker.IsOpen());
}

TEST_F(DiscoveryTest, ASecondProcessIsRefusedWhileTheFirstHoldsTheBus) {
  SimLink link({}, false);
  SlaveAddress = 0x7E;
  ASSERT_NE(DiscoverBus(), 0u);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The other process: its own machine and link, the same marker.
    ResetLinkState();
    SimLink own({}, false);
    SlaveAddress = 0x7E;
    _exit(DiscoverBus() == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the second process got the bus";
}

struct AddressCase {
  const char* name;
  uint8_t chip;
  uint8_t secondSlave;
  uint8_t configured;
  uint8_t chosen;
  uint8_t kind;
  std::vector<std::pair<int, int>> found;
};

class AddressTest : public DiscoveryTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(AddressTest, SettlesTheSlaveAddress) {
  const AddressCase& c = GetParam();
  sim::Config config = ChipAt(c.chip);
  config.secondSlave = c.secondSlave;
  SimLink link(config, false);
  SlaveAddress = c.configured;
  EXPECT_EQ(DiscoverBus(), 0x660301u);
  EXPECT_EQ(SlaveAddress, c.chosen);
  EXPECT_EQ(SlaveKind, c.kind);
  EXPECT_EQ(Found(), c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddressTest,
    ::testing::Values(
        AddressCase{"SwitchToAFoundAddressOfTheSameKind", 0x7C, 0, 0x7E, 0x7C, 0, {{0x7C, 0}}},
        AddressCase{"NoFoundAddressOfTheKindTakesTheFirst", 0x86, 0, 0x7E, 0x86, 1, {{0x86, 1}}},
        AddressCase{"ConfiguredCandidateOfAnotherKind", 0x84, 0, 0x84, 0x84, 1, {{0x84, 1}}},
        AddressCase{"ConfiguredNonCandidateAnsweringBesideAFoundOne", 0x40, 0x7E, 0x40, 0x40, 0, {{0x7E, 0}, {0x40, 0}}},
        AddressCase{"NoConfiguredAddressTakesTheFoundOne", 0x7E, 0, 0x00, 0x7E, 0, {{0x7E, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DiscoveryTest, KindTwoChipIsNotIdentifiedButConnects) {
  SimLink link(ChipAt(0x6C), false);
  link.machine().EnableTrace(true);
  SlaveAddress = 0x7E;
  EXPECT_EQ(DiscoverBus(), kUnidentifiedChipId);
  EXPECT_EQ(SlaveAddress, 0x6C);
  EXPECT_EQ(SlaveKind, 2);
  for (const std::string& t : Transactions(DecodeI2c(TraceLevels(link.machine().Trace())))) {
    for (const char* reg : {"FE", "96", "97", "98", "0D"}) EXPECT_NE(t.substr(0, 2), reg) << t;
  }
}

TEST_F(DiscoveryTest, FindsTheAdapterOnEveryPort) {
  for (uint16_t port : {0x378, 0x278, 0x3BC, 0x2BC, 0x3D4, 0x3CE}) {
    sim::Config config;
    config.port = port;
    SimLink link(config, false);
    SlaveAddress = 0x7E;
    EXPECT_EQ(DiscoverBus(), 0x660301u) << std::hex << port;
    EXPECT_EQ(BusPort, port);
    EXPECT_EQ(LineShadow & (port == 0x3D4 || port == 0x3CE ? 0x00 : 0xFC), port == 0x3D4 || port == 0x3CE ? 0 : 0xFC);
    CloseBusMarker();
  }
}

TEST_F(DiscoveryTest, UnsupportedVgaControllerIsSkippedWithoutLineActivity) {
  sim::Config config;
  config.port = 0x3D4;
  config.vgaId = 0xE3;
  SimLink link(config, false);
  link.ports().SetRecording(true);
  SlaveAddress = 0x7E;
  EXPECT_EQ(DiscoverBus(), 0u);
  EXPECT_EQ(BusPort, 0);
  EXPECT_EQ(ChipId, 0u);
  EXPECT_FALSE(BusMarker.IsOpen());
  for (const PortAccess& a : link.ports().Log()) {
    EXPECT_NE(a.port, 0x3D4);
    EXPECT_NE(a.port, 0x3D5);
  }
  // Only the identification read of the two VGA kinds reached the sequencer.
  int sequencer = 0;
  for (const PortAccess& a : link.ports().Log()) sequencer += a.port == 0x3C4 || a.port == 0x3C5;
  EXPECT_EQ(sequencer, 4);
}

TEST_F(DiscoveryTest, NoChipAnywhereFailsAndReleasesTheMarker) {
  sim::Config config;
  config.present = false;
  SimLink link(config, false);
  SlaveAddress = 0x7E;
  EXPECT_EQ(DiscoverBus(), 0u);
  EXPECT_EQ(BusPort, 0);
  EXPECT_FALSE(BusMarker.IsOpen());
}

TEST(Calibration, TruncatesTheCounterFrequencyToWholeCountsPerMicrosecond) {
  const struct {
    int64_t frequency, elapsed;
    int32_t loops;
  } cases[] = {
      {2'500'000, 100, 200},       // 2 counts per microsecond, not 2.5
      {10'000'000, 1000, 100},
      {999'999, 10, 0},            // below 1 MHz: delays of no length
      {1'000'000'000, 0, 10'000'000},  // a counter that did not move counts as one tick
  };
  for (const auto& c : cases) {
    FakeClock clock;
    clock.SetFrequency(c.frequency);
    clock.SetCounterStep(c.elapsed);
    CalibrateDelay();
    EXPECT_EQ(LoopsPerUnit, c.loops) << c.frequency << " " << c.elapsed;
  }
  LoopsPerUnit = 0;
}

TEST(IapQueryTest, FirstLimitDependsOnTheLastAnswer) {
  sim::Config config;
  config.iap = false;
  config.resetMicros = 60'000'000;  // nobody resets the board meanwhile
  for (uint8_t previous : {0, 5}) {
    SimLink link(config);
    IapAnswer = previous;
    const uint64_t before = link.machine().NowMicros();
    EXPECT_NE(IapQuery(), kIapRunning);
    const uint64_t waited = (link.machine().NowMicros() - before) / 1000;
    const uint64_t limit = previous ? 10000 : 1000;
    EXPECT_GE(waited, limit);
    EXPECT_LT(waited, limit + 100);
    EXPECT_EQ(IapAnswer, 0);
  }
}

// Start-up through the link object, with a configuration file of the test's own.
class StartupTest : public DiscoveryTest {
 protected:
  std::filesystem::path WriteConfig(const std::string& text) {
    std::filesystem::path file = std::filesystem::path(::testing::TempDir()) / ("morvane-startup-" + std::to_string(getpid()) + ".ini");
    std::ofstream(file) << text;
    return file;
  }
  FakeLinkUi ui_;
};

TEST_F(StartupTest, ReadsTheLinkSettingsAndFindsTheSimulatedChip) {
  LinkOptions options;
  options.configFile = WriteConfig("[I2C]\nWAIT=3\nSlaveAddress=7c\nAdapter=sim\n[SIM]\nAddress=7C\n");
  {
    VELQ link(options);
    EXPECT_EQ(WaitUnits, 3);
    EXPECT_EQ(SlaveAddress, 0x7C);
    EXPECT_NE(ChipId, 0u);
    EXPECT_NE(VELQ::Simulator(), nullptr);
    EXPECT_EQ(VELQ::Settings().adapter, "sim");
  }
  EXPECT_EQ(VELQ::Simulator(), nullptr);
  EXPECT_FALSE(BusMarker.IsOpen());
  ResetLinkState();
}

TEST_F(StartupTest, NoChipShowsTheConnectionMessageAndExitsWith1) {
  LinkOptions options;
  options.configFile = WriteConfig("[I2C]\n");
  options.simSettings = {{"Present", "0"}};
  EXPECT_THROW(VELQ link(options), ProcessExit);
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].kind, "error");
  EXPECT_EQ(ui_.shown[0].text, "Can not connect VELQ via I2C.");
  EXPECT_EQ(ui_.shown[0].caption, "VELQ I2C Error");
  EXPECT_EQ(ui_.exits, std::vector{1});
  EXPECT_EQ(CurrentPortSpace(), nullptr);
  ResetLinkState();
}

TEST_F(StartupTest, BadSimulatorSettingOrAdapterIsReportedAtStartUp) {
  const struct {
    std::optional<std::string> adapter;
    std::vector<std::pair<std::string, std::string>> sim;
    std::string says;
  } cases[] = {
      {std::nullopt, {{"Port", "zz"}}, "Port"},
      {std::string("nonsense"), {}, "nonsense"},
  };
  for (const auto& c : cases) {
    ui_.shown.clear();
    LinkOptions options;
    options.configFile = WriteConfig("");
    options.adapter = c.adapter;
    options.simSettings = c.sim;
    EXPECT_THROW(VELQ link(options), ProcessExit);
    ASSERT_EQ(ui_.shown.size(), 1u);
    EXPECT_NE(ui_.shown[0].text.find(c.says), std::string::npos) << ui_.shown[0].text;
    EXPECT_NE(ui_.shown[0].text.find("Can not connect VELQ via I2C."), std::string::npos);
    ResetLinkState();
  }
}

TEST(SlaveAddressText, ReadsHexadecimalAndKeepsTheLowByte) {
  const struct {
    const char* text;
    std::optional<uint8_t> value;
  } cases[] = {{"7E", 0x7E}, {"7c", 0x7C}, {"0x84", 0x84}, {"  86", 0x86}, {"17E", 0x7E},
               {"6Cz", 0x6C}, {"xyz", std::nullopt}, {"", std::nullopt}, {"0x", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseSlaveAddress(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace morvane
