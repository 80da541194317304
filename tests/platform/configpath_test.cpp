#include "platform/configpath.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace morvane {
namespace {

struct CommandLineCase {
  std::string commandLine;
  std::string expected;
};

class ConfigPathFromCommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(ConfigPathFromCommandLineTest, Forms) {
  EXPECT_EQ(ConfigPathFromCommandLine(GetParam().commandLine), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigPathFromCommandLineTest,
    ::testing::Values(
        // Quoted program path with an argument: quote and argument are cut.
        CommandLineCase{"\"D:\\Tools\\Morvane.exe\" /x", "D:\\TOOLS\\MORVANE.INI"},
        CommandLineCase{"D:\\Tools\\Morvane.exe", "D:\\TOOLS\\MORVANE.INI"},
        // No ".EXE": ".INI" goes at the end, arguments and all.
        CommandLineCase{"morvane", "MORVANE.INI"},
        CommandLineCase{"morvane /x", "MORVANE /X.INI"},
        // The first ".EXE" counts, even in a folder name.
        CommandLineCase{"D:\\A.EXE\\B\\MORVANE.EXE", "D:\\A.INI"},
        CommandLineCase{"morvane.exe.exe", "MORVANE.INI"},
        CommandLineCase{"Morvane.ExE -a -b", "MORVANE.INI"},
        // Only a leading quote is skipped; one without ".EXE" stays inside.
        CommandLineCase{"\"morvane\" /x", "MORVANE\" /X.INI"},
        CommandLineCase{" \"morvane.exe\"", " \"MORVANE.INI"},
        CommandLineCase{"", ".INI"},
        CommandLineCase{"\"", ".INI"},
        // Text after a NUL byte is not part of the command line.
        CommandLineCase{std::string("a.exe\0b", 7), "A.INI"},
        CommandLineCase{std::string("ab\0.exe", 7), "AB.INI"}));

TEST(ConfigFilePath, IsMorvaneIniNextToTheExecutable) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  const std::filesystem::path exe(std::string(self, static_cast<std::size_t>(n)));

  EXPECT_EQ(ExecutableDir(), exe.parent_path());
  EXPECT_TRUE(ExecutableDir().is_absolute());
  EXPECT_EQ(ConfigFilePath(), exe.parent_path() / "Morvane.ini");
  EXPECT_EQ(ConfigFilePath().filename(), "Morvane.ini");  // the case as shipped
}

}  // namespace
}  // namespace morvane
