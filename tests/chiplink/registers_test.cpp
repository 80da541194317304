// Registers, tables and chip memory against the simulated chip, with the
// traffic on the wires decoded by the tests' own I2C decoder.
#include "chiplink/registers.h"

#include <gtest/gtest.h>

#include <numeric>

#include "chiplink/i2c.h"
#include "chiplink/linkstate.h"
#include "tests/support/fakes.h"
#include "tests/support/i2c_decoder.h"
#include "tests/support/sim_link.h"

namespace morvane {
namespace {

using testing::DebugCapture;
using testing::DecodeI2c;
using testing::SimLink;
using testing::TraceLevels;
using testing::Transactions;
using Strings = std::vector<std::string>;

class RegistersTest : public ::testing::Test {
 protected:
  explicit RegistersTest(sim::Config config = {}) : link_(config) {}
  sim::Machine& chip() { return link_.machine(); }
  void Trace() { chip().EnableTrace(true); }
  Strings Traffic() { return Transactions(DecodeI2c(TraceLevels(chip().Trace()))); }

  SimLink link_;
  DebugCapture debug_;
};

TEST_F(RegistersTest, RegistersRoundTripOnSeveralPages) {
  const struct {
    uint8_t page, reg, value;
  } cases[] = {{0x01, 0x10, 0x5A}, {0x02, 0x10, 0xA5}, {0x04, 0x80, 0x3C}, {0x08, 0xB2, 0x50}, {0x10, 0x20, 0x49}};
  for (const auto& c : cases) {
    RegWrite(kPageRegister, c.page);
    RegWrite(c.reg, c.value);
  }
  for (const auto& c : cases) {
    RegWrite(kPageRegister, c.page);
    EXPECT_EQ(RegRead(c.reg), c.value) << "page " << int(c.page);
    EXPECT_EQ(chip().Register(c.page, c.reg), c.value);
  }
  EXPECT_EQ(CurrentPage, 0x10);
  EXPECT_EQ(RegRead(kPageRegister), 0x10);
}

TEST_F(RegistersTest, RegisterFrameOnTheWires) {
  Trace();
  RegWrite(0x10, 0x55);
  EXPECT_EQ(RegRead(0x10), 0x55);
  using testing::Byte;
  using testing::Start;
  using testing::Stop;
  const std::vector<testing::I2cEvent> expected = {
      Start(), Byte(0x7E, true), Byte(0x10, true), Byte(0x55, true), Stop(),
      Start(), Byte(0x7E, true), Byte(0x10, true), Start(), Byte(0x7F, true),
      Byte(0x55, false),  // the master's not-acknowledge after the value
      Stop()};
  EXPECT_EQ(DecodeI2c(TraceLevels(chip().Trace())), expected) << testing::Describe(DecodeI2c(TraceLevels(chip().Trace())));
}

TEST_F(RegistersTest, GuardRegisterIsOnlyEverWrittenWithZero) {
  Trace();
  RegWrite(kGuardRegister, 0x5A);
  RegWrite(kGuardRegister, 0xFF);
  EXPECT_EQ(Traffic(), (Strings{"FE=00", "FE=00"}));
  EXPECT_EQ(debug_.Count("Set FE register."), 2);
}

TEST_F(RegistersTest, PageIsTrackedEvenWhenTheWriteIsLost) {
  chip().SetChipPresent(false);
  RegWrite(kPageRegister, 0x08);
  EXPECT_EQ(CurrentPage, 0x08);
  EXPECT_EQ(RegRead(0x10), kNoAnswer);  // every attempt failed: the idle bus
}

TEST_F(RegistersTest, UnacknowledgedValueByteRepeatsTheWholeWriteFromTheStart) {
  Trace();
  chip().InjectNaks(1, 2);  // address and register taken, the value refused
  RegWrite(0x10, 0x66);
  using testing::Byte;
  using testing::Start;
  using testing::Stop;
  const std::vector<testing::I2cEvent> expected = {
      Start(), Byte(0x7E, true), Byte(0x10, true), Byte(0x66, false), Stop(),
      Start(), Byte(0x7E, true), Byte(0x10, true), Byte(0x66, true), Stop()};
  EXPECT_EQ(DecodeI2c(TraceLevels(chip().Trace())), expected);
  EXPECT_EQ(chip().Register(chip().Page(), 0x10), 0x66);
}

TEST_F(RegistersTest, UpdateBitsIsOneReadAndOneWrite) {
  RegWrite(0x0D, 0x05);
  Trace();
  RegUpdateBits(0x0D, 0x80, true);
  RegUpdateBits(0x0D, 0x04, false);
  EXPECT_EQ(Traffic(), (Strings{"0D?05", "0D=85", "0D?85", "0D=81"}));
}

TEST_F(RegistersTest, SwapsGiveTheChipsByteOrder) {
  EXPECT_EQ(Swap16(0x1802), 0x0218);
  EXPECT_EQ(Swap16(static_cast<uint16_t>(ChipInitTable[1] | ChipInitTable[2] << 8)), 536);
  EXPECT_EQ(Swap32(0x11223344), 0x44332211u);
  EXPECT_EQ(Swap32(0x00090100), 0x00010900u);
}

TEST_F(RegistersTest, MemoryPointerLoad) {
  Trace();
  SetMemPointer(kReadChannel, 0x90100);
  EXPECT_EQ(Traffic(), (Strings{"FF=04", "F2?00", "F2=80", "F2=00", "F8=00", "F9=01", "FA=09", "F1?00", "F1=20",
                                "F1?20", "F1=00"}));
  EXPECT_EQ(chip().ReadPointer(), 0x90100u);
}

TEST_F(RegistersTest, WriteChipMemoryWithNoBytesStillRunsEverySequence) {
  Trace();
  WriteChipMemory(0x1000, 0, nullptr);
  EXPECT_EQ(Traffic(), (Strings{"FF=04", "FB=3F", "FC=F8", "FD=7F", "F2=40", "F2=00",             // prepare
                                "FF=04", "F2?00", "F2=80", "F2=00", "F8=00", "F9=10", "FA=00",   // pointer
                                "F1?00", "F1=10", "F1?10", "F1=00", "F1=82", "FF=04", "EF<0",    // burst
                                "F2=01", "F2=02", "F2=00"}));                                     // finish
}

TEST_F(RegistersTest, BlockOfChipMemoryRoundTripsThroughABurstRead) {
  std::vector<uint8_t> block(300);
  std::iota(block.begin(), block.end(), uint8_t{7});
  WriteChipMemory(0x1100, static_cast<uint16_t>(block.size()), block.data());
  EXPECT_EQ(chip().Memory(0x1100, 300), block);

  SetMemPointer(kReadChannel, 0x1100);
  BurstBegin(kMemData);
  std::vector<uint8_t> back;
  for (std::size_t i = 0; i < block.size(); ++i) back.push_back(I2cReadNext());
  BurstEnd();
  EXPECT_EQ(back, block);
}

TEST_F(RegistersTest, BurstReadIsRepeatedStartsWithTheNinthClockOfEachByteANotAcknowledge) {
  const uint8_t bytes[] = {0x00, 0xA5, 0xFF};
  chip().SetMemory(0x90100, bytes);
  SetMemPointer(kReadChannel, 0x90100);
  Trace();
  BurstBegin(kMemData);
  for (uint8_t b : bytes) EXPECT_EQ(I2cReadNext(), b);
  BurstEnd();
  using testing::Byte;
  using testing::Start;
  using testing::Stop;
  const std::vector<testing::I2cEvent> expected = {
      Start(), Byte(0x7E, true), Byte(0xEF, true),
      Start(), Byte(0x7F, true), Byte(0x00, false),  // ninth clock: the next start's SDA high
      Start(), Byte(0x7F, true), Byte(0xA5, false),
      Start(), Byte(0x7F, true), Byte(0xFF, true),   // closed by the stop: ninth clock with SDA low
      Stop()};
  EXPECT_EQ(DecodeI2c(TraceLevels(chip().Trace())), expected)
      << testing::Describe(DecodeI2c(TraceLevels(chip().Trace())));
}

TEST_F(RegistersTest, BurstHoldsTheBusLockUntilItEnds) {
  BurstBegin(kMemData);
  bool free = true;
  std::thread([&] {
    free = BusLock.try_lock();
    if (free) BusLock.unlock();
  }).join();
  BurstEnd();
  EXPECT_FALSE(free);
}

// Register tables: small tables of our own, then the chip's own.
class TableTest : public RegistersTest {};

TEST_F(TableTest, UnknownModeOrNoTableWritesNothing) {
  const uint8_t table[] = {0x80, 0x00, 0x01, 0x01, 0x05, 0x10, 0x77};
  Trace();
  ApplyRegisterTable(table, 0x06);
  ApplyRegisterTable(nullptr, 0x00);
  EXPECT_TRUE(Traffic().empty());
}

TEST_F(TableTest, SecondModeTakesTheSecondRow) {
  // N = 2, modes 0x00 and 0x03: row 1 starts N bytes after row 0.
  const uint8_t table[] = {0x80, 0x00, 0x02, 0x02, 0x00, 0x03, 0x10, 0x11, 0xA0, 0xA1, 0xB0, 0xB1};
  Trace();
  ApplyRegisterTable(table, 0x03);
  EXPECT_EQ(Traffic(), (Strings{"10=B0", "11=B1"}));
}

TEST_F(TableTest, MasksKeepTheBitsTheyDoNotCover) {
  RegWrite(0x20, 0x3C);
  RegWrite(0x21, 0x99);
  // Masks 0x0F, 0xFF, 0x00 on registers 0x20, 0x22, 0x21.
  const uint8_t table[] = {0x81, 0x00, 0x03, 0x01, 0x00, 0x20, 0x22, 0x21, 0x0F, 0xFF, 0x00, 0xA5, 0x42, 0x00};
  Trace();
  ApplyRegisterTable(table, 0x00);
  EXPECT_EQ(Traffic(), (Strings{"20?3C", "20=35", "22=42", "21?99", "21=99"}));
}

TEST_F(TableTest, PairListStopsOnlyAtTheEndPair) {
  const uint8_t pairs[] = {0xFF, 0x08, 0xB2, 0x50, 0xFF, 0xFE, 0x10, 0x01, 0xFF, 0xFF, 0x11, 0x02};
  Trace();
  ApplyRegisterPairs(pairs);
  EXPECT_EQ(Traffic(), (Strings{"FF=08", "B2=50", "FF=FE", "10=01"}));
  EXPECT_EQ(CurrentPage, 0xFE);
}

TEST_F(TableTest, ChipInitTableHasItsSevenPageSegmentsAndTellingRows) {
  ASSERT_EQ(ChipInitTable[0], 0x80);
  const int n = ChipInitTable[1] << 8 | ChipInitTable[2];
  ASSERT_EQ(n, 536);
  ASSERT_EQ(ChipInitTable[3], 1);
  ASSERT_EQ(ChipInitTable[4], 0x00);
  ASSERT_EQ(ChipInitTableSize, 5u + 2u * 536u);
  const uint8_t* regs = ChipInitTable + 5;
  const uint8_t* values = regs + n;
  std::vector<std::pair<int, uint8_t>> selects;
  for (int j = 0; j < n; ++j)
    if (regs[j] == 0xFF) selects.emplace_back(j, values[j]);
  const std::vector<std::pair<int, uint8_t>> expected = {{0, 0x10},   {4, 0x02},   {184, 0x01}, {393, 0x04},
                                                         {420, 0x08}, {513, 0x10}, {532, 0x08}};
  EXPECT_EQ(selects, expected);
  // Step 1, the opening run of step 2, and step 7.
  EXPECT_EQ(std::vector<uint8_t>(values + 1, values + 4), (std::vector<uint8_t>{0x49, 0x43, 0x80}));
  EXPECT_EQ(std::vector<uint8_t>(regs + 5, regs + 5 + 25),
            (std::vector<uint8_t>{0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x11, 0x10, 0x12, 0x10, 0x10, 0x10, 0x10,
                                  0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F, 0x10, 0x1F}));
  EXPECT_EQ(std::vector<uint8_t>(values + 5, values + 5 + 25),
            (std::vector<uint8_t>{0x00, 0x00, 0x30, 0x20, 0x24, 0x20, 0xE0, 0x24, 0x5A, 0x00, 0x24, 0x20, 0x24,
                                  0x20, 0x24, 0x20, 0x24, 0x20, 0x24, 0x20, 0x24, 0x28, 0x03, 0x02, 0x06}));
  EXPECT_EQ(std::vector<uint8_t>(regs + 533, regs + 536), (std::vector<uint8_t>{0xC8, 0xC9, 0xCA}));
  EXPECT_EQ(std::vector<uint8_t>(values + 533, values + 536), (std::vector<uint8_t>{0x60, 0x30, 0x50}));
}

TEST_F(TableTest, ChipInitTableAndPairsGoOutInOrder) {
  Trace();
  ApplyRegisterTable(ChipInitTable, 0x00);
  ApplyRegisterPairs(ChipInitPairs);
  const Strings traffic = Traffic();
  ASSERT_EQ(traffic.size(), 536u + 11u);
  EXPECT_EQ(traffic[0], "FF=10");
  EXPECT_EQ(traffic[1], "20=49");
  EXPECT_EQ(traffic[536], "FF=08");
  EXPECT_EQ(traffic.back(), "1E=24");
  EXPECT_EQ(CurrentPage, 0x02);
}

// Variant detection and the inverted registers of variant 0x40.
struct VariantCase {
  uint32_t chipId;
  uint8_t variant;
};

class VariantTest : public ::testing::TestWithParam<VariantCase> {};

TEST_P(VariantTest, FamilyFromRegister96AndRevisionFrom98) {
  sim::Config config;
  config.chipId = GetParam().chipId;
  SimLink link(config);
  DetectChipVariant();
  EXPECT_EQ(ChipVariant, GetParam().variant);
  EXPECT_EQ(CurrentPage, 0x02);
}

INSTANTIATE_TEST_SUITE_P(Families, VariantTest,
                         ::testing::Values(VariantCase{0x660301, 0x01}, VariantCase{0x6700F2, 0x12},
                                           VariantCase{0x680000, 0x20}, VariantCase{0x64AA0F, 0x3F},
                                           VariantCase{0x690040, 0x40}, VariantCase{0x650007, 0x07}));

TEST(VariantDetection, UnsetAddressBecomesTheDefault) {
  SimLink link({}, true);
  SlaveAddress = 0x00;
  DetectChipVariant();
  EXPECT_EQ(SlaveAddress, 0x7E);
  EXPECT_EQ(ChipVariant, 0x01);
}

TEST(InvertedRegisters, OnlyVariant40OnPage8AndOnlyC0ToCF) {
  sim::Config config;
  config.chipId = 0x690040;
  SimLink link(config);
  sim::Machine& chip = link.machine();
  for (uint8_t reg : {0xBF, 0xC0, 0xCF, 0xD0}) chip.SetRegister(0x08, reg, 0x3C);
  chip.SetRegister(0x01, 0xC0, 0x3C);

  const struct {
    uint8_t variant, page, reg, expected;
  } cases[] = {{0x40, 0x08, 0xC0, 0x3C}, {0x40, 0x08, 0xCF, 0x3C}, {0x40, 0x08, 0xBF, 0x3C},
               {0x40, 0x08, 0xD0, 0x3C}, {0x41, 0x08, 0xC0, 0xC3}, {0x40, 0x01, 0xC0, 0x3C}};
  for (const auto& c : cases) {
    ChipVariant = c.variant;
    RegWrite(kPageRegister, c.page);
    // The simulated chip of variant 0x40 inverts these registers on the bus;
    // the link inverts them back.
    EXPECT_EQ(RegRead(c.reg), c.expected) << std::hex << int(c.variant) << " " << int(c.page) << " " << int(c.reg);
  }
}

}  // namespace
}  // namespace morvane
