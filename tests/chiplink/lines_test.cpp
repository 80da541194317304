// Port access and the line operations, checked port access by port access
// against the recording wrapper.
#include "chiplink/lines.h"

#include <gtest/gtest.h>

#include <climits>

#include "chiplink/linkstate.h"
#include "chiplink/ports.h"
#include "chiplink/recording_ports.h"
#include "tests/support/fakes.h"

namespace morvane {
namespace {

using testing::DebugCapture;
using testing::FakeLinkUi;
using testing::ProcessExit;

constexpr PortAccess Out(uint16_t port, uint8_t value) { return {PortAccess::kOut, port, value}; }
constexpr PortAccess In(uint16_t port, uint8_t value) { return {PortAccess::kIn, port, value}; }

class LinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLinkState();
    SetPortSpace(&ports_);
  }
  void TearDown() override {
    SetPortSpace(nullptr);
    ResetLinkState();
  }
  void UseParallel(uint16_t base = 0x378) {
    BusPort = base;
    LineShadow = kDataIdle;
  }
  void UseVga(uint16_t index) {
    BusPort = index;
    LineShadow = 0x00;
  }

  RecordingPorts ports_;
  FakeLinkUi ui_;
  DebugCapture debug_;
};

TEST_F(LinesTest, PortsAtOrBelow0x200AreNeverTouched) {
  ports_.SetReader([](uint16_t) { return 0x12; });
  EXPECT_EQ(PortIn(0x200), kFloatingBus);
  PortOut(0x200, 0x55);
  PortOut(0x000, 0x55);
  EXPECT_TRUE(ports_.Log().empty());

  EXPECT_EQ(PortIn(0x201), 0x12);
  PortOut(0x201, 0x55);
  EXPECT_EQ(ports_.Log(), (std::vector{In(0x201, 0x12), Out(0x201, 0x55)}));
}

TEST_F(LinesTest, WithoutAPortSpaceReadsFloatHigh) {
  SetPortSpace(nullptr);
  EXPECT_EQ(CurrentPortSpace(), nullptr);
  EXPECT_EQ(PortIn(0x379), 0xFF);
  PortOut(0x378, 0x00);  // goes nowhere
}

TEST_F(LinesTest, DelayOfNoUnitsOrNegativeUnitsReturnsAtOnce) {
  // With the bound this high, a negative count taken as a large one would
  // never finish.
  LoopsPerUnit = INT_MAX;
  BusDelay(0);
  BusDelay(-1);
  WaitUnits = -7;  // a bad configuration value behaves as 0
  UseParallel();
  SetSda(false);
  EXPECT_EQ(ports_.Log(), (std::vector{Out(0x378, 0xFE)}));
}

TEST_F(LinesTest, ParallelSdaAndSclLowTouchOnlyTheirBits) {
  UseParallel(0x278);
  SetSda(false);
  SetScl(false);
  SetSda(true);
  EXPECT_EQ(ports_.Log(), (std::vector{Out(0x278, 0xFE), Out(0x278, 0xFF), Out(0x278, 0xFD)}));
  EXPECT_EQ(LineShadow, 0xFD);
}

TEST_F(LinesTest, ParallelSamplesReadTheStatusPort) {
  UseParallel();
  const struct {
    uint8_t status;
    bool scl, sda;
  } cases[] = {{0x30, true, true}, {0x20, true, false}, {0x10, false, true}, {0xCF, false, false}};
  for (const auto& c : cases) {
    ports_.SetReader([&](uint16_t) { return c.status; });
    EXPECT_EQ(GetScl(), c.scl) << int(c.status);
    EXPECT_EQ(GetSda(), c.sda) << int(c.status);
  }
  for (const PortAccess& a : ports_.Log()) EXPECT_EQ(a, In(0x379, a.value));
}

// The slave holds SCL low for a number of status reads, then lets it rise.
struct StretchCase {
  int lowReads;
  bool stuck;
};

class StretchTest : public LinesTest, public ::testing::WithParamInterface<StretchCase> {};

TEST_P(StretchTest, SclHighWaitsForTheSlaveUpToTheLimit) {
  UseParallel();
  LineShadow = kDataIdle | kDataSclLow;
  int reads = 0;
  const int lowReads = GetParam().lowReads;
  ports_.SetReader([&](uint16_t) { return ++reads <= lowReads ? uint8_t{0x10} : uint8_t{0x30}; });
  SetScl(true);
  const int attempts = GetParam().stuck ? kSclRiseAttempts : lowReads + 1;
  EXPECT_EQ(reads, attempts);
  EXPECT_EQ(ports_.Log().size(), static_cast<std::size_t>(2 * attempts));
  EXPECT_EQ(ports_.Log().front(), Out(0x378, 0xFC));
  EXPECT_EQ(debug_.Count(kSclErrorText), GetParam().stuck ? 1 : 0);
  EXPECT_TRUE(ui_.shown.empty());  // no chip identified: never a question
}

INSTANTIATE_TEST_SUITE_P(Attempts, StretchTest,
                         ::testing::Values(StretchCase{0, false}, StretchCase{1, false},
                                           StretchCase{kSclRiseAttempts - 1, false},
                                           StretchCase{kSclRiseAttempts, true}));

TEST_F(LinesTest, StuckClockAsksOnceAChipIsIdentifiedAndNoGoesOn) {
  UseParallel();
  ChipId = 0x660301;
  LineShadow = kDataIdle | kDataSdaLow | kDataSclLow;
  ports_.SetReader([](uint16_t) { return uint8_t{0x00}; });
  SetScl(true);
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].kind, "question");
  EXPECT_EQ(ui_.shown[0].text, "I2C bus Error. Please check.\r\rDo you want to exit ?");
  EXPECT_EQ(ui_.shown[0].caption, "I2C bus Error");
  EXPECT_EQ(debug_.Count(" Set 'SCL' ERROR.\n"), 1);
  EXPECT_TRUE(ui_.exits.empty());
  EXPECT_EQ(LineShadow, kDataIdle | kDataSdaLow);  // lines stay as they are
  EXPECT_EQ(ports_.Log().back(), In(0x379, 0x00));
}

TEST_F(LinesTest, StuckClockYesReleasesBothLinesAndExitsWithCode1) {
  UseParallel();
  ChipId = 1;
  ui_.answerYes = true;
  LineShadow = kDataIdle | kDataSdaLow;
  ports_.SetReader([](uint16_t) { return uint8_t{0x00}; });
  EXPECT_THROW(SetScl(true), ProcessExit);
  EXPECT_EQ(ui_.exits, std::vector{1});
  EXPECT_EQ(ports_.Log().back(), Out(0x378, 0xFC));
}

TEST_F(LinesTest, VgaSdaUnlocksAndDrivesThroughTheExtendedRegister) {
  const struct {
    uint16_t index;
    uint8_t reg;
  } kinds[] = {{0x3D4, 0x37}, {0x3CE, 0x3B}};
  for (const auto& k : kinds) {
    ports_.Clear();
    UseVga(k.index);
    SetSda(true);
    SetSda(false);
    const uint16_t data = static_cast<uint16_t>(k.index + 1);
    EXPECT_EQ(ports_.Log(), (std::vector{Out(0x3C4, 0x11), Out(0x3C5, 0x92), Out(k.index, k.reg), Out(data, 0x0D),
                                         Out(0x3C4, 0x11), Out(0x3C5, 0x92), Out(k.index, k.reg), Out(data, 0x0C)}));
  }
}

TEST_F(LinesTest, VgaSclHighHonoursReleasedSdaAndChecksTheReadBackOnTheCrtcPort) {
  UseVga(0x3D4);
  LineShadow = 0x01;
  SdaReleased = true;
  ports_.SetReader([](uint16_t) { return uint8_t{0x40}; });
  SetScl(true);
  EXPECT_EQ(ports_.Log(), (std::vector{Out(0x3C4, 0x11), Out(0x3C5, 0x92), Out(0x3D4, 0x37), Out(0x3D5, 0x07),
                                       In(0x3D5, 0x40)}));
  EXPECT_TRUE(SdaReleased);  // only GetSda clears it

  ports_.Clear();
  SdaReleased = false;
  SetScl(false);
  EXPECT_EQ(ports_.Log()[3], Out(0x3D5, 0x0D));
}

TEST_F(LinesTest, VgaGraphicsPortMakesOneAttemptAndNeverReportsABusError) {
  UseVga(0x3CE);
  ChipId = 1;
  ports_.SetReader([](uint16_t) { return uint8_t{0x00}; });
  SetScl(true);
  EXPECT_EQ(ports_.Log().size(), 5u);
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_EQ(debug_.Count(kSclErrorText), 0);
}

TEST_F(LinesTest, VgaCrtcPortStuckClockYesWrites0x0FToTheSelectedRegister) {
  UseVga(0x3D4);
  ChipId = 1;
  ui_.answerYes = true;
  ports_.SetReader([](uint16_t) { return uint8_t{0x00}; });
  EXPECT_THROW(SetScl(true), ProcessExit);
  EXPECT_EQ(ports_.Log().back(), Out(0x3D5, 0x0F));
  // 1000 attempts of index write, value write and read-back, after one unlock.
  EXPECT_EQ(ports_.Log().size(), 2u + 3u * kSclRiseAttempts + 1u);
}

TEST_F(LinesTest, VgaSamplesLeaveSdaFree) {
  UseVga(0x3D4);
  LineShadow = 0x02;
  SdaReleased = true;
  ports_.SetReader([](uint16_t) { return uint8_t{0x41}; });
  EXPECT_TRUE(GetScl());
  EXPECT_TRUE(SdaReleased);
  EXPECT_TRUE(GetSda());
  EXPECT_FALSE(SdaReleased);
  const auto& log = ports_.Log();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[3], Out(0x3D5, 0x06));
  EXPECT_EQ(log[8], Out(0x3D5, 0x06));
  ports_.SetReader([](uint16_t) { return uint8_t{0xBE}; });
  EXPECT_FALSE(GetScl());
  EXPECT_FALSE(GetSda());
}

}  // namespace
}  // namespace morvane
