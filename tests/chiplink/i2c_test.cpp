// I2C framing and the chip handshake, checked on the lines the master drives
// (decoded by the tests' own decoder) and against scripted line levels.
#include "chiplink/i2c.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "chiplink/linkstate.h"
#include "chiplink/lines.h"
#include "chiplink/ports.h"
#include "chiplink/recording_ports.h"
#include "tests/support/fakes.h"
#include "tests/support/i2c_decoder.h"

namespace morvane {
namespace {

using testing::Byte;
using testing::DecodeI2c;
using testing::Describe;
using testing::FakeClock;
using testing::I2cEvent;
using testing::MasterLevels;
using testing::Start;
using testing::Stop;

class I2cTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLinkState();
    SetPortSpace(&ports_);
    BusPort = 0x378;
    LineShadow = kDataIdle;
    SlaveAddress = 0x7E;
    // No slave: both lines read as the master leaves them (released: high).
    ports_.SetReader([this](uint16_t) { return StatusFromShadow(); });
  }
  void TearDown() override {
    SetPortSpace(nullptr);
    ResetLinkState();
  }
  uint8_t StatusFromShadow() const {
    uint8_t status = 0x07;
    if (!(LineShadow & kDataSclLow)) status |= kStatusScl;
    if (!(LineShadow & kDataSdaLow)) status |= kStatusSda;
    return status;
  }
  std::vector<I2cEvent> Events() const { return DecodeI2c(MasterLevels(ports_.Log(), 0x378)); }

  RecordingPorts ports_;
};

TEST_F(I2cTest, ConditionsAreTheirLineSequences) {
  const struct {
    const char* name;
    void (*op)();
    std::vector<uint8_t> writes;
  } cases[] = {
      // SCL low, SDA high, SCL high, SDA low, SCL low
      {"start", I2cStart, {0xFD, 0xFD, 0xFC, 0xFE, 0xFF}},
      // SDA low, SCL high, SDA high
      {"stop", I2cStop, {0xFE, 0xFE, 0xFC}},
      // SDA high, SCL high, SCL low
      {"nack", I2cNack, {0xFC, 0xFC, 0xFD}},
  };
  for (const auto& c : cases) {
    ports_.Clear();
    LineShadow = kDataIdle;
    c.op();
    std::vector<uint8_t> writes;
    for (const PortAccess& a : ports_.Log())
      if (a.kind == PortAccess::kOut) writes.push_back(a.value);
    EXPECT_EQ(writes, c.writes) << c.name;
  }
}

TEST_F(I2cTest, SendByteGoesMostSignificantBitFirstAndReportsTheAcknowledge) {
  LineShadow = kDataIdle | kDataSclLow;  // as a start condition leaves it
  EXPECT_FALSE(I2cSendByte(0xA5));       // nobody pulls SDA low
  std::vector<bool> sampled;
  std::vector<testing::Lines> levels = MasterLevels(ports_.Log(), 0x378, {false, true});
  for (std::size_t i = 1; i < levels.size(); ++i)
    if (!levels[i - 1].scl && levels[i].scl) sampled.push_back(levels[i].sda);
  EXPECT_EQ(sampled, (std::vector<bool>{1, 0, 1, 0, 0, 1, 0, 1, 1}));

  // A slave that holds SDA low acknowledges.
  ports_.SetReader([](uint16_t) { return kStatusScl; });
  EXPECT_TRUE(I2cSendByte(0x00));
}

TEST_F(I2cTest, ReceiveByteClocksEightBitsAndNoAcknowledge) {
  LineShadow = kDataIdle | kDataSclLow;
  EXPECT_EQ(I2cReceiveByte(), 0xFF);
  int rises = 0;
  std::vector<testing::Lines> levels = MasterLevels(ports_.Log(), 0x378, {false, true});
  for (std::size_t i = 1; i < levels.size(); ++i)
    if (!levels[i - 1].scl && levels[i].scl) ++rises;
  EXPECT_EQ(rises, 8);
}

TEST_F(I2cTest, ReadFromAnAbsentSlaveMakesFiveShortAttemptsAndGivesTheIdleBus) {
  EXPECT_EQ(I2cReadReg(0x7E, 0x10), kNoAnswer);
  std::vector<I2cEvent> expected;
  for (int i = 0; i < kRegisterAttempts; ++i) expected.insert(expected.end(), {Start(), Byte(0x7E, false), Stop()});
  EXPECT_EQ(Events(), expected) << Describe(Events());
}

TEST_F(I2cTest, WriteToAnAbsentSlaveIsTriedFiveTimesAndLostSilently) {
  I2cWriteReg(0x7F, 0x10, 0x55);  // bit 0 is cleared for the write
  std::vector<I2cEvent> expected;
  for (int i = 0; i < kRegisterAttempts; ++i) expected.insert(expected.end(), {Start(), Byte(0x7E, false), Stop()});
  EXPECT_EQ(Events(), expected) << Describe(Events());
}

TEST_F(I2cTest, RegisterTransactionsHoldTheBusLock) {
  bool heldElsewhere = false;
  ports_.SetReader([&](uint16_t) {
    std::thread probe([&] {
      if (BusLock.try_lock()) {
        BusLock.unlock();
      } else {
        heldElsewhere = true;
      }
    });
    probe.join();
    return StatusFromShadow();
  });
  I2cReadReg(0x7E, 0x00);
  EXPECT_TRUE(heldElsewhere);
  EXPECT_TRUE(BusLock.try_lock());  // released afterwards
  BusLock.unlock();
}

TEST_F(I2cTest, ReadNextWithoutAnAcknowledgeStillClocksInTheByte) {
  SlaveAddress = 0x7E;
  EXPECT_EQ(I2cReadNext(), 0xFF);
  std::vector<I2cEvent> events = Events();
  int starts = 0;
  for (const I2cEvent& e : events) starts += e.kind == I2cEvent::kStart;
  EXPECT_EQ(starts, kRegisterAttempts) << Describe(events);
  // Five address bytes, none acknowledged, then the eight data bits.
  ASSERT_GE(events.size(), 1u + 2u * kRegisterAttempts - 1u);
  EXPECT_EQ(events[1], Byte(0x7F, false)) << Describe(events);
}

// The chip's side of the handshake, scripted on the status port: SCL reads
// high for a number of samples after the master has released it, then the
// chip holds it low; SDA reads low for a number of samples, then rises.
class HandshakeTest : public I2cTest {
 protected:
  void Script(int sclHighSamples, int sdaLowSamples) {
    ports_.SetReader([=, this](uint16_t) mutable {
      uint8_t status = StatusFromShadow();
      const bool masterHoldsSdaLow = LineShadow & kDataSdaLow;
      const bool masterReleasedScl = !(LineShadow & kDataSclLow);
      if (phase_ == 0 && masterHoldsSdaLow && masterReleasedScl) {
        // Phase 1 after the master's SCL high: the rise itself is seen.
        if (++seen_ > 1 + sclHighSamples) status &= ~kStatusScl;
        if (seen_ > 1 + sclHighSamples) phase_ = 1;
      } else if (phase_ == 1 && !masterHoldsSdaLow) {
        if (++held_ <= sdaLowSamples) {
          status &= ~kStatusSda;
        } else {
          phase_ = 2;
        }
      }
      return status;
    });
  }
  int phase_ = 0, seen_ = 0, held_ = 0;
};

TEST_F(HandshakeTest, ChipTakesAndFinishesTheCommand) {
  FakeClock clock;
  IapAnswer = 5;
  Script(3, 4);
  ChipHandshake(60000, 60000);
  EXPECT_EQ(IapAnswer, 5);
  EXPECT_EQ(phase_, 2);
  std::vector<I2cEvent> events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), Stop());
}

TEST_F(HandshakeTest, ChipThatNeverTakesTheCommandTimesOutAndClearsTheAnswer) {
  FakeClock clock;
  clock.SetStepPerReadMs(1000);
  IapAnswer = 5;
  Script(1 << 30, 0);
  ChipHandshake(60000, 60000);
  EXPECT_EQ(IapAnswer, 0);
  // The first reading starts the clock; the limit passes at the 61st second.
  EXPECT_EQ(clock.Readings(), 62);
  EXPECT_EQ(Events().back(), Stop());
}

TEST_F(HandshakeTest, ChipThatNeverFinishesTimesOutInTheSecondPhase) {
  FakeClock clock;
  clock.SetStepPerReadMs(100);
  IapAnswer = 5;
  Script(0, 1 << 30);
  ChipHandshake(1000, 10000);
  EXPECT_EQ(IapAnswer, 0);
  EXPECT_EQ(phase_, 1);
  // The start of each phase, then 101 samples of 100 ms (SCL was seen low at
  // its first sample, so phase 1 read no time).
  EXPECT_EQ(clock.Readings(), 1 + 1 + 101);
}

TEST_F(HandshakeTest, LimitsCountFromBeforeTheLineChangesAndFromAfterStepThree) {
  FakeClock clock;
  // Time passes only while the lines change: 10 ms per reading of the clock
  // and a jump of 500 ms between the two phases.
  clock.SetStepPerReadMs(10);
  IapAnswer = 5;
  int sclSamples = 0;
  ports_.SetReader([&](uint16_t) {
    uint8_t status = StatusFromShadow();
    if ((LineShadow & kDataSdaLow) && !(LineShadow & kDataSclLow) && ++sclSamples > 1) {
      status &= ~kStatusScl;
      clock.AdvanceMs(500);  // the chip took its time, but within phase 1
    }
    return status;
  });
  ChipHandshake(600, 100);
  EXPECT_EQ(IapAnswer, 5);  // phase 2 started afresh after the 500 ms
}

TEST_F(HandshakeTest, WithoutLimitsItWaitsAsLongAsTheChipNeeds) {
  FakeClock clock;
  clock.SetStepPerReadMs(3'600'000);  // an hour per sample
  IapAnswer = 5;
  Script(50, 50);
  ChipHandshake(kNoTimeLimit, kNoTimeLimit);
  EXPECT_EQ(IapAnswer, 5);
  EXPECT_EQ(phase_, 2);
}

TEST_F(HandshakeTest, ATickCountThatWrapsDoesNoHarm) {
  FakeClock clock;
  clock.SetNowMs(0xFFFFFF00u);
  clock.SetStepPerReadMs(10);
  IapAnswer = 5;
  Script(40, 0);  // 400 ms across the wrap
  ChipHandshake(1000, 1000);
  EXPECT_EQ(IapAnswer, 5);
}

}  // namespace
}  // namespace morvane
