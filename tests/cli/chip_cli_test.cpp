// morvane-cli's chip commands run as a user runs them, against the simulated
// chip: exit statuses, what they print, and what ends up in the flash, which
// the simulator keeps in a file between runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "tests/image/test_files.h"

extern char** environ;

namespace morvane {
namespace {

using test::RunResult;

const std::string kCli = MORVANE_CLI_PATH;
const std::string kSample = MORVANE_SAMPLE_HEX;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A running morvane-cli whose output the test reads as it comes.
class Running {
 public:
  explicit Running(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv{const_cast<char*>(kCli.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, kCli.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      throw std::runtime_error("spawn");
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    fd_ = out[0];
  }
  ~Running() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(fd_);
  }
  // Reads until the output holds text; false after the time-out or at its end.
  bool WaitFor(const std::string& text, int seconds = 20) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!Contains(output, text)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }
  void Signal(int signal) { kill(pid_, signal); }
  int Wait() {
    WaitFor("\x01", 60);  // drain to the end
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string output;

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

class ChipCliTest : public ::testing::Test {
 protected:
  ChipCliTest() : flash(dir.File("flash.bin")) {}
  // A chip command on the simulator, its flash kept in this test's file.
  RunResult Cli(std::vector<std::string> args, const std::vector<std::string>& sim = {}) {
    std::vector<std::string> all{"--adapter", "sim", "--sim", "FlashFile=" + flash};
    for (const std::string& s : sim) all.insert(all.end(), {"--sim", s});
    all.insert(all.end(), args.begin(), args.end());
    return test::RunProgram(kCli, all);
  }
  std::vector<uint8_t> SampleImage() {
    const std::string bin = dir.File("sample.bin");
    EXPECT_EQ(test::RunProgram(kCli, {"convert", kSample, bin}).status, 0);
    return test::ReadFile(bin);
  }
  std::vector<uint8_t> FlashBytes() { return test::ReadFile(flash); }
  // A configuration of the test's own: [I2C] keys, then the device entries.
  std::string Config(const std::string& i2c, const std::string& devices = "SIM-512K=0xBF01,0xFF,0,0,0x7FFFF\n") {
    const std::string file = dir.File("Morvane.ini");
    test::WriteFile(file, "[I2C]\nAdapter=sim\n" + i2c + "[DEVICE]\n" + devices);
    return file;
  }

  test::TempDir dir;
  std::string flash;
};

TEST_F(ChipCliTest, InfoShowsTheLinkTheChipAndTheDevice) {
  const RunResult r = Cli({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"Port:           378 (parallel)", "Slaves found:   7E", "Chip id:        660301, variant 01",
                           "IAP answer:     5", "Flash id:       BF01", "Boot block:     not locked",
                           "Device:         SIM-512K", "  page size     256", "  end address   7FFFF"})
    EXPECT_TRUE(Contains(r.out, line)) << line << "\n" << r.out;
}

TEST_F(ChipCliTest, WriteWithoutVerifyProgramsTheImage) {
  const RunResult r = Cli({"write", kSample});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Downloading...\nWriting...\nDone\n");
  const std::vector<uint8_t> image = SampleImage();
  const std::vector<uint8_t> flashBytes = FlashBytes();
  ASSERT_EQ(flashBytes.size(), 0x80000u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flashBytes.begin()));
}

TEST_F(ChipCliTest, WriteWithVerifyThenReadBackByteForByte) {
  RunResult r = Cli({"write", kSample, "--verify"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Downloading...\nWriting...\nDone\nVerifying...\nSUCCESS!\n");

  const std::string back = dir.File("back.bin");
  const std::vector<uint8_t> image = SampleImage();
  char end[16];
  std::snprintf(end, sizeof end, "%zX", image.size() - 1);
  r = Cli({"read", back, "--dev-end", end});  // a new run: the flash came from the file
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "Reading...\nSUCCESS!\n")) << r.out;
  EXPECT_EQ(test::ReadFile(back), image);
}

TEST_F(ChipCliTest, VerifyFindsAByteChangedByHandAtItsAddress) {
  ASSERT_EQ(Cli({"write", kSample}).status, 0);
  std::vector<uint8_t> bytes = FlashBytes();
  bytes[0x1234] ^= 0x5A;
  test::WriteFile(flash, bytes);
  const RunResult r = Cli({"verify", kSample});
  EXPECT_EQ(r.status, 5);
  EXPECT_TRUE(Contains(r.out, "FAILED!\nChip Addr : 00001234, Buffer Addr : 00001234\n")) << r.out;
}

TEST_F(ChipCliTest, CellsThatDoNotTakeAValueAreFoundAndWriteTillSuccessRepairsThem) {
  RunResult r = Cli({"write", kSample, "--verify"}, {"DeafCells=2345"});
  EXPECT_EQ(r.status, 5);
  EXPECT_TRUE(Contains(r.out, "Chip Addr : 00002345, Buffer Addr : 00002345")) << r.out;

  // A cell that fails only its first programming: the chain writes again
  // from its page and the second verify passes.
  std::remove(flash.c_str());  // an erased flash again
  r = Cli({"write", kSample, "--until-success"}, {"DeafCells=4234*1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "Downloading...\nWriting...\nDone\nVerifying...\nFAILED!\nChip Addr : 00004234, Buffer Addr : 00004234\n"
            "Downloading...\nWriting...\nDone\nVerifying...\nSUCCESS!\n");
}

TEST_F(ChipCliTest, WholeChipDeviceIsErasedAndWritten) {
  const std::vector<std::string> sim = {"FlashId=BF03", "FlashSize=0x100000"};
  std::vector<uint8_t> junk(0x100000, 0x00);
  test::WriteFile(flash, junk);  // whatever was there goes with the erase
  RunResult r = Cli({"write", kSample, "--verify"}, sim);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<uint8_t> image = SampleImage();
  const std::vector<uint8_t> bytes = FlashBytes();
  // A device that ends at 0xFFFFF has a boot area of 0x2000 bytes: the 256
  // bytes after it are skipped and stay erased.
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x2000, bytes.begin()));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 0x2000, bytes.begin() + 0x2100), std::vector<uint8_t>(0x100, 0xFF));
  EXPECT_TRUE(std::equal(image.begin() + 0x2100, image.end(), bytes.begin() + 0x2100));
  EXPECT_EQ(bytes[image.size()], 0xFF);  // past the image, erased
}

TEST_F(ChipCliTest, LockedBootBlockIsLeftAloneAndNotCompared) {
  std::vector<uint8_t> old(0x80000, 0xFF);
  for (size_t i = 0; i < 0x4000; ++i) old[i] = static_cast<uint8_t>(i);
  test::WriteFile(flash, old);
  const RunResult r = Cli({"write", kSample, "--verify"}, {"BootLocked=1"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "Done\nVerifying...\nSUCCESS!\n")) << r.out;
  const std::vector<uint8_t> bytes = FlashBytes();
  const std::vector<uint8_t> image = SampleImage();
  EXPECT_TRUE(std::equal(old.begin(), old.begin() + 0x4000, bytes.begin()));  // kept
  EXPECT_TRUE(std::equal(image.begin() + 0x4100, image.end(), bytes.begin() + 0x4100));
}

TEST_F(ChipCliTest, RangeOfEqualStartAndEndDoesNothing) {
  ASSERT_EQ(Cli({"write", kSample}).status, 0);
  const std::vector<uint8_t> before = FlashBytes();
  const RunResult r = Cli({"write", kSample, "--dev-start", "8000", "--dev-end", "0x8000"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "nothing was done")) << r.err;
  EXPECT_EQ(FlashBytes(), before);
}

TEST_F(ChipCliTest, CtrlCDuringStreamingCancelsAndClosesTheBurst) {
  // A pause after each line change makes the stream take many seconds.
  const std::string config = Config("WAIT=2\n");
  {
    Running run({"--config", config, "--sim", "FlashFile=" + flash, "write", kSample, "--verify"});
    ASSERT_TRUE(run.WaitFor("Downloading...\n")) << run.output;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(), 130);
    EXPECT_TRUE(Contains(run.output, "Canceled\n")) << run.output;
    EXPECT_FALSE(Contains(run.output, "Writing...")) << run.output;
    EXPECT_FALSE(Contains(run.output, "Verifying...")) << run.output;
  }
  // Nothing was programmed, and the bus is free for the next run.
  EXPECT_EQ(FlashBytes(), std::vector<uint8_t>(0x80000, 0xFF));
  EXPECT_EQ(Cli({"info"}).status, 0);
}

TEST_F(ChipCliTest, ASecondCopyIsRefusedWhileTheFirstHoldsTheBus) {
  const std::string config = Config("WAIT=2\n");
  Running first({"--config", config, "--sim", "FlashFile=" + flash, "write", kSample});
  ASSERT_TRUE(first.WaitFor("Downloading...\n")) << first.output;
  const RunResult second = Cli({"info"});
  EXPECT_EQ(second.status, 1);
  EXPECT_TRUE(Contains(second.err, "Can not connect VELQ via I2C.")) << second.err;
  first.Signal(SIGINT);
  EXPECT_EQ(first.Wait(), 130);
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> sim;
  std::string devices;  // the [DEVICE] entries; "" for the shipped configuration
  int status;
  std::string says;
};

class ChipCliRefusalTest : public ChipCliTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ChipCliRefusalTest, EndsWithItsStatusAndMessage) {
  const RefusalCase& c = GetParam();
  std::vector<std::string> args;
  if (!c.devices.empty()) args = {"--config", Config("", c.devices)};
  args.insert(args.end(), {"write", kSample});
  const RunResult r = Cli(args, c.sim);
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
  EXPECT_FALSE(Contains(r.out, "Downloading")) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChipCliRefusalTest,
    ::testing::Values(
        RefusalCase{"NoChip", {"Present=0"}, "", 1, "Can not connect VELQ via I2C."},
        RefusalCase{"NoIapFirmware", {"Iap=0"}, "", 4, "No IAP found!"},
        RefusalCase{"DeviceNotConfigured", {"FlashId=1234"}, "", 4, "Don't support this kind of device!"},
        RefusalCase{"EntryThatDoesNotConvert", {}, "BROKEN=BF01xx\nSIM=0xBF01,0xFF,0,0,0x7FFFF\n", 4,
                    "Device entry 'BROKEN'"},
        RefusalCase{"BadSimulatorSetting", {"Port=zz"}, "", 1, "Port"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChipCliTest, ShortChipCommands) {
  ASSERT_EQ(Cli({"write", kSample}).status, 0);
  RunResult r = Cli({"erase"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FlashBytes(), std::vector<uint8_t>(0x80000, 0xFF));

  r = Cli({"lock-boot-block"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "the boot block is locked")) << r.out;

  r = Cli({"restart"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(ChipCliTest, EnterIapBringsTheFirmwareUp) {
  const RunResult r = Cli({"enter-iap"}, {"Iap=0"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "Please reset system to start IAP")) << r.out;
  EXPECT_TRUE(Contains(r.out, "device SIM-512K is ready")) << r.out;
}

TEST_F(ChipCliTest, TraceIsAVcdFileOfTheTwoWires) {
  const std::string vcd = dir.File("bus.vcd");
  const RunResult r = test::RunProgram(kCli, {"--trace", vcd, "--sim", "FlashFile=" + flash, "info"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = test::ReadText(vcd);
  EXPECT_TRUE(Contains(text, "$timescale 1 us $end")) << text.substr(0, 400);
  EXPECT_TRUE(Contains(text, " SCL $end")) << text.substr(0, 400);
  EXPECT_TRUE(Contains(text, " SDA $end")) << text.substr(0, 400);
  EXPECT_GT(text.size(), 10000u);
}

TEST_F(ChipCliTest, BadRangeOrSimOptionIsAUsageError) {
  EXPECT_EQ(Cli({"write", kSample, "--dev-start", "zz"}).status, 2);
  EXPECT_EQ(test::RunProgram(kCli, {"--sim", "Iap", "info"}).status, 2);
  const RunResult help = test::RunProgram(kCli, {"write", "--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"--verify", "--until-success", "--dev-start", "\n  130 "})
    EXPECT_TRUE(Contains(help.out, part)) << part << help.out;
}

}  // namespace
}  // namespace morvane
