// Device set-up: the entry format of the configuration file and the search
// for the chip's flash id.
#include "flash/device.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "chiplink/linkstate.h"
#include "flash/iap.h"
#include "tests/support/sim_link.h"

namespace morvane {
namespace {

using testing::SimLink;

TEST(ConfigInteger, DecimalOrHexadecimalWithPrefixAndLeadingBlanks) {
  const struct {
    const char* text;
    int32_t value;
  } good[] = {{"0", 0}, {"  42", 42}, {"0x7F", 0x7F}, {"$FF", 0xFF}, {"0XBF01", 0xBF01}, {"-1", -1}, {"0xFFFFFFFF", -1}};
  for (const auto& c : good) EXPECT_EQ(ParseConfigInteger(c.text), c.value) << c.text;
  for (const char* bad : {"", "  ", "BF01", "12 ", "0x", "$", "1a", "0x7FG", "99999999999"})
    EXPECT_THROW(ParseConfigInteger(bad), DeviceEntryError) << bad;
}

TEST(DeviceEntryFields, ReadByCharacterPositions) {
  DeviceEntry e = ParseDeviceEntry("SIM", "0xBF01,0x7F,1,0,0x3FFFF and a comment");
  EXPECT_EQ(e.flashId, 0xBF01);
  EXPECT_EQ(e.pageSize, 128);
  EXPECT_TRUE(e.unprotect);
  EXPECT_FALSE(e.wholeChip);
  EXPECT_EQ(e.deviceEnd, 0x3FFFFu);
  try {
    ParseDeviceEntry("SHORT", "0xBF01,0x7F,1,0");
    FAIL() << "a value too short for its end address converted";
  } catch (const DeviceEntryError& error) {
    EXPECT_NE(std::string(error.what()).find("SHORT"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("device end address"), std::string::npos) << error.what();
  }
}

TEST(BootArea, FollowsTheDeviceEnd) {
  EXPECT_EQ(BootSizeFor(0x7FFFF), 0x4000);
  EXPECT_EQ(BootSizeFor(0x3FFFF), 0x2000);
  EXPECT_EQ(BootSizeFor(0xFFFFF), 0x2000);
}

class SetupTest : public ::testing::Test {
 protected:
  SetupTest() { IapAnswer = 5; }
  ~SetupTest() override { BootSize = 0x4000; }
  std::filesystem::path Config(const std::string& devices) {
    auto file = std::filesystem::path(::testing::TempDir()) / ("morvane-device-" + std::to_string(getpid()) + ".ini");
    std::ofstream(file) << "[I2C]\nWAIT=0\n[DEVICE]\n" << devices << "[Olders]\n1=x\n";
    return file;
  }
  SimLink link_;
};

TEST_F(SetupTest, FirstMatchingEntryInFileOrderWins) {
  auto file = Config(
      "OTHER=0x1234,0xFF,0,0,0x7FFFF\n"
      "FIRST=0xBF01,0x7F,1,1,0x3FFFF\n"
      "SECOND=0xBF01,0xFF,0,0,0x7FFFF\n"
      "BROKEN=not read at all\n");
  DeviceSetup setup = SetupDevice(file);
  ASSERT_EQ(setup.outcome, DeviceSetup::Outcome::kReady);
  EXPECT_EQ(setup.device->name, "FIRST");
  EXPECT_EQ(setup.device->pageSize, 128);
  EXPECT_TRUE(setup.device->unprotect);
  EXPECT_TRUE(setup.device->wholeChip);
  EXPECT_EQ(setup.word, 0xBF01);
  EXPECT_EQ(setup.bootSize, 0x2000);
  EXPECT_EQ(BootSize, 0x2000);
  EXPECT_TRUE(setup.bootStateRead);
  EXPECT_FALSE(setup.bootLocked);
  // The chip was put into its programming state first.
  EXPECT_EQ(link_.machine().Register(0x10, 0x20), 0x49);
}

TEST_F(SetupTest, BootLockIsReported) {
  ASSERT_EQ(IapLockBootBlock(), 0);
  DeviceSetup setup = SetupDevice(Config("SIM=0xBF01,0xFF,0,0,0x7FFFF\n"));
  EXPECT_TRUE(setup.bootLocked);
  EXPECT_EQ(setup.bootSize, 0x4000);
}

TEST_F(SetupTest, AnEmptyEntryBeforeTheMatchIsAConversionError) {
  EXPECT_THROW(SetupDevice(Config("EMPTY=\nSIM=0xBF01,0xFF,0,0,0x7FFFF\n")), DeviceEntryError);
  EXPECT_THROW(SetupDevice(Config("HEXNOPREFIX=BF0100,0xFF,0,0,0x7FFFF\n")), DeviceEntryError);
  EXPECT_THROW(SetupDevice(Config("BADPAGE=0xBF01,0xZZ,0,0,0x7FFFF\n")), DeviceEntryError);
}

TEST_F(SetupTest, NoMatchingEntryIsAnUnsupportedDevice) {
  for (const char* devices : {"", "OTHER=0x1234,0xFF,0,0,0x7FFFF\n", "WIDE=0x1BF01,0xFF,0,0,0x7FFFF\n"}) {
    DeviceSetup setup = SetupDevice(Config(devices));
    EXPECT_EQ(setup.outcome, DeviceSetup::Outcome::kUnsupported) << devices;
    EXPECT_EQ(setup.message, "Don't support this kind of device!");
  }
}

TEST_F(SetupTest, UnreadableFlashIdStopsWithAClearMessage) {
  link_.machine().ForceStatus(kCmdReadInfo, 0x06, 2);
  DeviceSetup setup = SetupDevice(Config("SIM=0xBF01,0xFF,0,0,0x7FFFF\nZERO=0x0000,0xFF,0,0,0x7FFFF\n"));
  EXPECT_EQ(setup.outcome, DeviceSetup::Outcome::kFlashIdUnreadable);
  EXPECT_FALSE(setup.flashIdRead);
  EXPECT_NE(setup.message.find("flash id could not be read"), std::string::npos) << setup.message;
  EXPECT_FALSE(setup.device.has_value());
}

}  // namespace
}  // namespace morvane
