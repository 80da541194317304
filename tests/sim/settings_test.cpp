// The [SIM] settings parsed into the simulator's configuration.
#include <gtest/gtest.h>

#include "sim/machine.h"

namespace morvane::sim {
namespace {

TEST(SimSettings, ValuesReachTheirFields) {
  struct Case {
    const char* key;
    const char* value;
    bool (*check)(const Config&);
  };
  const Case cases[] = {
      {"Address", "7c", [](const Config& c) { return c.address == 0x7C; }},
      {"address", "0x86", [](const Config& c) { return c.address == 0x86; }},
      {"PORT", "3D4", [](const Config& c) { return c.port == 0x3D4; }},
      {"Port", "0x278", [](const Config& c) { return c.port == 0x278; }},
      {"VgaId", "D3", [](const Config& c) { return c.vgaId == 0xD3; }},
      {"ChipId", "690100", [](const Config& c) { return c.chipId == 0x690100; }},
      {"FlashId", "0xBF02", [](const Config& c) { return c.flashId == 0xBF02; }},
      {"FlashSize", "262144", [](const Config& c) { return c.flashSize == 0x40000; }},
      {"FlashSize", "0x100000", [](const Config& c) { return c.flashSize == 0x100000; }},
      {"FlashSize", "$2000", [](const Config& c) { return c.flashSize == 0x2000; }},
      {"BootSize", "0x2000", [](const Config& c) { return c.bootSize == 0x2000; }},
      {"Iap", "0", [](const Config& c) { return !c.iap; }},
      {"BootLocked", "1", [](const Config& c) { return c.bootLocked; }},
      {"Protect", "yes", [](const Config& c) { return c.protect; }},
      {"Present", "false", [](const Config& c) { return !c.present; }},
      {"SclStuck", "1", [](const Config& c) { return c.sclStuck; }},
      {"SecondSlave", "40", [](const Config& c) { return c.secondSlave == 0x40; }},
      {"FlashFile", " /tmp/flash.bin ", [](const Config& c) { return c.flashFile == "/tmp/flash.bin"; }},
      {"TraceFile", "bus.vcd", [](const Config& c) { return c.traceFile == "bus.vcd"; }},
      {"NakRate", "0.05", [](const Config& c) { return c.nakRate == 0.05; }},
      {"Seed", "12345", [](const Config& c) { return c.seed == 12345; }},
      {"Stretch", "20", [](const Config& c) { return c.stretch == 20; }},
      {"TakeUpMicros", "5", [](const Config& c) { return c.takeUpMicros == 5; }},
      {"PulseMicros", "7", [](const Config& c) { return c.pulseMicros == 7; }},
      {"CommandMicros", "0", [](const Config& c) { return c.commandMicros == 0; }},
      {"ProgramMicros", "20", [](const Config& c) { return c.programMicros == 20; }},
      {"ReadMicros", "2", [](const Config& c) { return c.readMicros == 2; }},
      {"EraseMicros", "1000000", [](const Config& c) { return c.eraseMicros == 1'000'000; }},
      {"RestartMicros", "10", [](const Config& c) { return c.restartMicros == 10; }},
      {"ResetMicros", "3000000", [](const Config& c) { return c.resetMicros == 3'000'000; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    Config config;
    EXPECT_EQ(ApplySetting(config, c.key, c.value), "");
    EXPECT_TRUE(c.check(config));
  }
}

TEST(SimSettings, BadValuesNameKeyAndValueAndChangeNothing) {
  struct Case {
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"Address", "7G"},     {"Address", "100"},    {"Address", ""},       {"Port", "10000"},
      {"ChipId", "1000000"}, {"FlashId", "x"},      {"FlashSize", "0"},    {"FlashSize", "0x1000001"},
      {"FlashSize", "12ab"}, {"BootSize", "-1"},    {"Iap", "maybe"},      {"NakRate", "1.5"},
      {"NakRate", "abc"},    {"NakRate", "-0.1"},   {"Seed", "4294967296"}, {"Stretch", "-3"},
      {"PulseMicros", "0"},  {"EraseMicros", "1s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    Config config;
    const Config before = config;
    const std::string error = ApplySetting(config, c.key, c.value);
    EXPECT_NE(error.find(c.key), std::string::npos) << error;
    EXPECT_NE(error.find(std::string("\"") + c.value + "\""), std::string::npos) << error;
    EXPECT_EQ(config.address, before.address);
    EXPECT_EQ(config.port, before.port);
    EXPECT_EQ(config.flashSize, before.flashSize);
    EXPECT_EQ(config.nakRate, before.nakRate);
    EXPECT_EQ(config.iap, before.iap);
  }
}

TEST(SimSettings, DeafCellsAreAListOfAddressesWithCounts) {
  Config c;
  EXPECT_EQ(ApplySetting(c, "DeafCells", "1234, 0x8000*2"), "");
  EXPECT_EQ(c.deafCells, (std::vector<std::pair<uint32_t, int>>{{0x1234, -1}, {0x8000, 2}}));
  for (const char* bad : {"12G4", "1234*0", "1234*x", "1000000"}) {
    EXPECT_NE(ApplySetting(c, "DeafCells", bad), "") << bad;
    EXPECT_EQ(c.deafCells.size(), 2u);
  }
  EXPECT_EQ(ApplySetting(c, "DeafCells", ""), "");
  EXPECT_TRUE(c.deafCells.empty());
}

TEST(SimSettings, UnknownKeyListsTheKnownOnes) {
  Config config;
  const std::string error = ApplySetting(config, "Adress", "7E");
  EXPECT_NE(error.find("\"Adress\""), std::string::npos) << error;
  EXPECT_NE(error.find("Address"), std::string::npos) << error;
  EXPECT_NE(error.find("FlashFile"), std::string::npos) << error;
}

TEST(SimSettings, DefaultsMakeASupportedChip) {
  const Config c;
  EXPECT_EQ(c.address, 0x7E);
  EXPECT_EQ(c.port, 0x378);
  EXPECT_EQ(c.vgaId, 0xF3);
  EXPECT_EQ(c.flashSize, 0x80000u);
  EXPECT_EQ(c.bootSize, 0x4000u);
  EXPECT_TRUE(c.iap);
  EXPECT_GT(c.resetMicros, 1'000'000u);  // an ordinary presence query never resets the board
  EXPECT_GT(c.eraseMicros, c.commandMicros + c.flashSize / 0x100 * c.programMicros);
}

}  // namespace
}  // namespace morvane::sim
