// morvane-cli run as a user runs it: exit status, standard output and
// standard error of convert, dump, the help texts and usage errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/image/test_files.h"

namespace morvane {
namespace {

using test::HexRecord;
using test::RunResult;

const std::string kCli = MORVANE_CLI_PATH;
const std::string kEof = ":00000001FF";

RunResult Cli(const std::vector<std::string>& args, const std::string& stdoutPath = "") {
  return test::RunProgram(kCli, args, stdoutPath);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CliTest : public testing::Test {
 protected:
  void SetUp() override {
    hex = dir.File("fw.hex");
    test::WriteFile(hex, ":0400000001020304F2\n" + HexRecord(0, 0x0010, {0x41, 0x42}) + "\n" + kEof + "\n");
  }
  test::TempDir dir;
  std::string hex;
  const std::vector<uint8_t> hexImage = {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x41, 0x42};
};

TEST_F(CliTest, ProgramHelpListsCommandsAndExitStatuses) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}}) {
    const RunResult r = Cli(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_TRUE(Contains(r.out, "Usage: morvane-cli [global options] COMMAND [arguments]")) << r.out;
    EXPECT_TRUE(Contains(r.out, "  convert IN OUT")) << r.out;
    EXPECT_TRUE(Contains(r.out, "  dump FILE")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Exit statuses:")) << r.out;
    for (const char* status : {"\n  0 ", "\n  2 ", "\n  3 "}) EXPECT_TRUE(Contains(r.out, status)) << status;
  }
}

TEST_F(CliTest, CommandHelpInAnyPosition) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"convert", "--help"}, {"--help", "convert"}, {"convert", "a", "b", "-h"}, {"convert", "--type=hex", "--help"}}) {
    const RunResult r = Cli(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_TRUE(Contains(r.out, "Usage: morvane-cli [global options] convert IN OUT")) << r.out;
    EXPECT_TRUE(Contains(r.out, "--type bin|hex")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Exit statuses:")) << r.out;
  }
  const RunResult dump = Cli({"dump", "--help"});
  EXPECT_EQ(dump.status, 0);
  EXPECT_TRUE(Contains(dump.out, "Usage: morvane-cli [global options] dump FILE")) << dump.out;
}

struct UsageCase {
  std::vector<std::string> args;
  std::string message;  // on standard error after "morvane-cli: "
  std::string hint;     // the help to look at
};

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  const std::vector<UsageCase> cases = {
      {{}, "no command given", "Try 'morvane-cli --help'."},
      {{"flash"}, "unknown command 'flash'", "Try 'morvane-cli --help'."},
      {{"--frob", "dump", "x"}, "unknown option '--frob'", "Try 'morvane-cli --help'."},
      {{"dump", hex, "--frob"}, "unknown option '--frob'", "Try 'morvane-cli dump --help'."},
      {{"dump", hex, "-x"}, "unknown option '-x'", "Try 'morvane-cli dump --help'."},
      {{"dump"}, "missing argument for 'dump'; it takes FILE", "Try 'morvane-cli dump --help'."},
      {{"convert", hex}, "missing argument for 'convert'; it takes IN OUT", "Try 'morvane-cli convert --help'."},
      {{"convert", hex, "a", "b"}, "too many arguments for 'convert'; it takes IN OUT",
       "Try 'morvane-cli convert --help'."},
      {{"dump", hex, "--type", "srec"}, "invalid value 'srec' for --type; use bin or hex",
       "Try 'morvane-cli dump --help'."},
      {{"dump", hex, "--type"}, "option '--type' needs a value (bin|hex)", "Try 'morvane-cli dump --help'."},
      {{"dump", hex, "--type=bin", "--type=hex"}, "option '--type' given more than once",
       "Try 'morvane-cli dump --help'."},
      {{"dump", "--help=yes"}, "option '--help' takes no value", "Try 'morvane-cli dump --help'."},
  };
  for (const UsageCase& c : cases) {
    const RunResult r = Cli(c.args);
    const std::string shown = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_TRUE(r.out.empty()) << shown << ": " << r.out;
    EXPECT_EQ(r.err, "morvane-cli: " + c.message + "\n" + c.hint + "\n") << shown;
  }
}

TEST_F(CliTest, ConvertIntelHexToBinary) {
  for (const std::string name : {"a.hex", "B.HEX", "c.Hex"}) {
    test::WriteFile(dir.File(name), test::ReadText(hex));
    const RunResult r = Cli({"convert", dir.File(name), dir.File(name + ".bin")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(test::ReadFile(dir.File(name + ".bin")), hexImage) << name;
  }
}

TEST_F(CliTest, ConvertTypeOptionOverridesTheName) {
  const std::string text = dir.File("fw.txt");
  test::WriteFile(text, test::ReadText(hex));

  // Without --type a name not ending in .hex is binary: a plain copy.
  ASSERT_EQ(Cli({"convert", text, dir.File("copy.bin")}).status, 0);
  EXPECT_EQ(test::ReadText(dir.File("copy.bin")), test::ReadText(hex));

  ASSERT_EQ(Cli({"convert", "--type", "hex", text, dir.File("image.bin")}).status, 0);
  EXPECT_EQ(test::ReadFile(dir.File("image.bin")), hexImage);

  ASSERT_EQ(Cli({"convert", hex, dir.File("raw.bin"), "--type=BIN"}).status, 0);
  EXPECT_EQ(test::ReadText(dir.File("raw.bin")), test::ReadText(hex));
}

TEST_F(CliTest, ConvertReplacesExistingOutput) {
  const std::string out = dir.File("out.bin");
  test::WriteFile(out, std::string(5000, 'x'));
  ASSERT_EQ(Cli({"convert", hex, out}).status, 0);
  EXPECT_EQ(test::ReadFile(out), hexImage);
}

struct LoadFailureCase {
  const char* name;
  std::string contents;
  bool exists;            // false: no file of that name
  std::string firstLine;  // on standard error
};

TEST_F(CliTest, FileThatDoesNotLoadExitsWithThreeAndWritesNothing) {
  const std::vector<LoadFailureCase> cases = {
      {"checksum.hex", ":0400000001020304F3\n" + kEof, true, "Illegal File Type: checksum error"},
      {"cut.hex", ":0400000001020304F2\n", true, "Illegal File Type: no end-of-file record"},
      {"far.hex", ":02000004FFFFFC\n:0100000055AA\n" + kEof, true, "Illegal File Type: too large"},
      {"missing.hex", "", false, "Illegal File Type: cannot open '" + dir.File("missing.hex") + "': No such file or directory"},
  };
  for (const LoadFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in = dir.File(c.name);
    if (c.exists) test::WriteFile(in, c.contents);
    const std::string fresh = dir.File(std::string(c.name) + ".bin");
    const std::string existing = dir.File("existing.bin");
    test::WriteFile(existing, "keep me");

    const RunResult convert = Cli({"convert", in, fresh});
    EXPECT_EQ(convert.status, 3);
    EXPECT_TRUE(convert.out.empty());
    EXPECT_EQ(convert.err.substr(0, convert.err.find('\n')), c.firstLine) << convert.err;
    EXPECT_TRUE(Contains(convert.err, "nothing was written to '" + fresh + "'")) << convert.err;
    EXPECT_FALSE(test::FileExists(fresh));

    EXPECT_EQ(Cli({"convert", in, existing}).status, 3);
    EXPECT_EQ(test::ReadText(existing), "keep me");

    const RunResult dump = Cli({"dump", in});
    EXPECT_EQ(dump.status, 3);
    EXPECT_TRUE(dump.out.empty()) << dump.out;
    EXPECT_EQ(dump.err.substr(0, dump.err.find('\n')), c.firstLine) << dump.err;
  }
}

TEST_F(CliTest, ConvertToUnwritablePlaceExitsWithThree) {
  const std::string out = dir.File("no-such-folder/out.bin");
  const RunResult r = Cli({"convert", hex, out});
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(Contains(r.err, "morvane-cli: cannot create '" + out + "': No such file or directory")) << r.err;
  EXPECT_TRUE(Contains(r.err, "the image was not saved")) << r.err;
}

TEST_F(CliTest, DumpWritesTheHexDumpLines) {
  const RunResult r = Cli({"dump", hex});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty());
  EXPECT_EQ(r.out,
            "00000000: 01 02 03 04 FF FF FF FF FF FF FF FF FF FF FF FF ................\n"
            "00000010: 41 42 " + std::string(42, ' ') + "AB\n");
}

TEST_F(CliTest, DumpOfEmptyBinaryPrintsNothing) {
  test::WriteFile(dir.File("empty.bin"), "");
  const RunResult r = Cli({"dump", dir.File("empty.bin")});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.empty());
}

TEST_F(CliTest, DoubleDashEndsTheOptions) {
  const RunResult asOption = Cli({"dump", "-x.bin"});
  EXPECT_EQ(asOption.status, 2);
  const RunResult asFile = Cli({"dump", "--", "-x.bin"});
  EXPECT_EQ(asFile.status, 3);
  EXPECT_TRUE(Contains(asFile.err, "cannot open '-x.bin'")) << asFile.err;
}

TEST_F(CliTest, DumpToFullDeviceFails) {
  if (!test::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const RunResult r = Cli({"dump", hex}, "/dev/full");
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(Contains(r.err, "cannot write the dump to standard output")) << r.err;
}

}  // namespace
}  // namespace morvane
