// The flash command sequences against the simulated IAP firmware: the
// register and chip-memory traffic of each command, and the chip's answers.
#include "flash/iap.h"

#include <gtest/gtest.h>

#include <numeric>

#include "chiplink/i2c.h"
#include "chiplink/linkstate.h"
#include "chiplink/registers.h"
#include "tests/support/i2c_decoder.h"
#include "tests/support/sim_link.h"

namespace morvane {
namespace {

using testing::DecodeI2c;
using testing::SimLink;
using testing::TraceLevels;
using testing::Transactions;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

class IapTest : public ::testing::Test {
 protected:
  IapTest() { IapAnswer = 5; }
  sim::Machine& chip() { return link_.machine(); }
  Strings Traffic() { return Transactions(DecodeI2c(TraceLevels(chip().Trace()))); }
  // The commands' own register writes: what is left of the traffic without
  // the chip-memory sequences of the descriptor copy.
  static Strings CommandRegisters(const Strings& traffic) {
    Strings out;
    for (const std::string& t : traffic)
      if (t.size() >= 2 && t[0] == 'E' && t[1] >= '0' && t[1] <= '7') out.push_back(t);
    return out;
  }
  Bytes StreamOut(uint32_t address, uint32_t count) {
    SetMemPointer(kReadChannel, address);
    BurstBegin(kMemData);
    Bytes out;
    for (uint32_t i = 0; i < count; ++i) out.push_back(I2cReadNext());
    BurstEnd();
    return out;
  }

  SimLink link_;
};

TEST(BlockDescriptor, FieldsAreBigEndianWithTwentyFourBitAddresses) {
  const struct {
    uint16_t page;
    uint32_t work, first, last;
    Bytes bytes;
  } cases[] = {
      {0x0100, 0x1000, 0x4000, 0x40FF, {0x01, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0xFF}},
      {0x0100, 0x90000, 0x4000, 0x4100, {0x01, 0x00, 0x00, 0x09, 0x01, 0x00, 0x00, 0x40, 0x00, 0x00, 0x41, 0x00}},
      // Addresses wider than 24 bits lose their upper bits.
      {0x0080, 0x1000, 0x1234567, 0x1FFFFFF, {0x00, 0x80, 0x00, 0x00, 0x11, 0x00, 0x23, 0x45, 0x67, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    BlockDescriptor d = MakeBlockDescriptor(c.page, c.work, c.first, c.last);
    EXPECT_EQ(Bytes(d.bytes, d.bytes + 12), c.bytes);
  }
}

TEST_F(IapTest, ProgramBlockStagesItsDescriptorAndRunsCommand0B) {
  chip().EnableTrace(true);
  EXPECT_EQ(IapProgramBlock(0x1000, 0x0100, 0x4000, 0x100), 0);
  const Strings traffic = Traffic();
  EXPECT_EQ(CommandRegisters(traffic), (Strings{"E3=0C", "E4=00", "E5=10", "E6=00", "E0=0B", "E7?00"}));
  // The descriptor goes to chip memory 0x1000 in one burst of twelve bytes,
  // between the parameters and the command.
  auto burst = std::find(traffic.begin(), traffic.end(), "EF<12");
  auto command = std::find(traffic.begin(), traffic.end(), "E0=0B");
  EXPECT_LT(burst, command);
  EXPECT_EQ(chip().Memory(0x1000, 12), (Bytes{0x01, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0xFF}));
  EXPECT_EQ(CurrentPage, 0x04);  // left on the memory page
}

TEST_F(IapTest, ReadBlockAsksForOneByteMoreAtWorkArea90000) {
  chip().EnableTrace(true);
  EXPECT_EQ(IapReadBlock(0x90000, 0x0100, 0x4000, 0x100), 0);
  EXPECT_EQ(CommandRegisters(Traffic()), (Strings{"E3=0C", "E4=00", "E5=00", "E6=09", "E0=0D", "E7?00"}));
  EXPECT_EQ(chip().Memory(0x90000, 12), (Bytes{0x01, 0x00, 0x00, 0x09, 0x01, 0x00, 0x00, 0x40, 0x00, 0x00, 0x41, 0x00}));
}

TEST_F(IapTest, ProgrammedBlockReadsBackThroughReadBlockAndABurst) {
  Bytes data(0x200);
  std::iota(data.begin(), data.end(), uint8_t{0x30});
  chip().SetMemory(0x1100, data);
  ASSERT_EQ(IapProgramBlock(0x1000, 0x100, 0x8000, 0x200), 0);
  EXPECT_EQ(Bytes(chip().Flash().begin() + 0x8000, chip().Flash().begin() + 0x8200), data);

  ASSERT_EQ(IapReadBlock(kReadWorkArea, 0x100, 0x8000, 0x200), 0);
  EXPECT_EQ(StreamOut(kReadDataAddress, 0x200), data);
}

TEST_F(IapTest, EraseLeavesTheFlashErased) {
  chip().SetFlash(0x100, Bytes{1, 2, 3});
  EXPECT_EQ(IapEraseChip(), 0);
  for (uint8_t b : chip().Flash()) ASSERT_EQ(b, 0xFF);
}

TEST_F(IapTest, LockingTheBootBlockShowsInInformationItem2) {
  uint16_t state = 0xAAAA;
  ASSERT_EQ(IapReadInfo(kInfoBootState, state), 0);
  EXPECT_EQ(state & 1, 0);
  EXPECT_EQ(IapLockBootBlock(), 0);
  ASSERT_EQ(IapReadInfo(kInfoBootState, state), 0);
  EXPECT_EQ(state & 1, 1);

  // The locked boot block refuses changes; the rest of the flash does not.
  EXPECT_NE(IapProgramBlock(0x1000, 0x100, 0x0000, 0x100), 0);
  EXPECT_EQ(IapProgramBlock(0x1000, 0x100, 0x8000, 0x100), 0);
}

TEST_F(IapTest, InformationItem1IsTheFlashId) {
  uint16_t id = 0;
  chip().EnableTrace(true);
  EXPECT_EQ(IapReadInfo(kInfoFlashId, id), 0);
  EXPECT_EQ(id, 0xBF01);
  EXPECT_EQ(CommandRegisters(Traffic()), (Strings{"E5=01", "E0=09", "E7?00", "E6?BF", "E5?01"}));
}

TEST_F(IapTest, FailedInformationReadLeavesTheValueAlone) {
  chip().ForceStatus(kCmdReadInfo, 0x07);
  uint16_t value = 0x1234;
  EXPECT_EQ(IapReadInfo(kInfoFlashId, value), 0x07);
  EXPECT_EQ(value, 0x1234);
}

TEST_F(IapTest, MarkAndProtectionWriteTheirParameters) {
  chip().EnableTrace(true);
  EXPECT_EQ(IapSetMark(0x4000, 1), 0);
  EXPECT_EQ(IapSetProtection(0), 0);
  EXPECT_EQ(CommandRegisters(Traffic()), (Strings{"E3=01", "E5=00", "E6=40", "E0=0E", "E7?00", "E3=00", "E0=0F", "E7?00"}));
  EXPECT_EQ(chip().Mark(1), 0x4000);
}

TEST_F(IapTest, RefusalsComeBackAsTheChipsStatus) {
  // Last address below the first (count 0), and a range beyond the flash.
  EXPECT_NE(IapProgramBlock(0x1000, 0x100, 0x8000, 0), 0);
  EXPECT_NE(IapProgramBlock(0x1000, 0x100, 0x7FF00, 0x200), 0);
  chip().ForceStatus(kCmdEraseChip, 0x42);
  EXPECT_EQ(IapEraseChip(), 0x42);
}

TEST_F(IapTest, CommandThatNeverCompletesReturnsAfterBothLimitsWithTheAnswerCleared) {
  chip().SetHang(sim::Hang::kNotFinished);
  const uint64_t before = chip().NowMicros();
  IapEraseChip();
  EXPECT_EQ(IapAnswer, 0);
  // Phase 1 ends when the chip takes the command; phase 2 runs out after 60 s.
  EXPECT_GE(chip().NowMicros() - before, 60'000'000u);
  EXPECT_LT(chip().NowMicros() - before, 61'000'000u);
}

TEST_F(IapTest, RestartReturnsZeroEvenWhenTheChipNeverAnswers) {
  chip().SetHang(sim::Hang::kNotTaken);
  chip().EnableTrace(true);
  const uint64_t before = chip().NowMicros();
  EXPECT_EQ(IapRestart(), 0);
  EXPECT_GE(chip().NowMicros() - before, 60'000'000u);
  EXPECT_EQ(IapAnswer, 0);
  // The status register is not read.
  const Strings traffic = CommandRegisters(Traffic());
  EXPECT_EQ(traffic, (Strings{"E0=0C"}));
}

TEST_F(IapTest, RestartOfARunningChipRestartsIt) {
  EXPECT_EQ(IapRestart(), 0);
  EXPECT_EQ(chip().Restarts(), 1u);
  EXPECT_EQ(IapAnswer, 5);
}

}  // namespace
}  // namespace morvane
