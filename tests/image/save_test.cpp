// SaveToFile: exactly Length bytes, an existing file replaced, and a failed
// save reported without leaving a half-written file under the name.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "image/buffer.h"
#include "tests/image/test_files.h"

namespace morvane {
namespace {

TBuffer ImageOf(const std::vector<uint8_t>& bytes) {
  TBuffer image("buffer", kBinaryFile);
  image.ResetForRead(static_cast<int32_t>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), image.Data.begin());
  return image;
}

TEST(SaveToFile, WritesLengthBytesOnly) {
  test::TempDir dir;
  const std::string hex = dir.File("fw.hex");
  test::WriteFile(hex, ":0400000001020304F2\n:00000001FF\n");
  TBuffer image(hex, kIntelHexFile);
  image.Load();
  image.Data.resize(0x10000, 0xFF);  // Data larger than Length, as after a load with gaps
  image.SaveToFile(dir.File("fw.bin"));
  EXPECT_EQ(test::ReadFile(dir.File("fw.bin")), (std::vector<uint8_t>{1, 2, 3, 4}));

  TBuffer empty("buffer", kBinaryFile);
  empty.SaveToFile(dir.File("empty.bin"));
  EXPECT_TRUE(test::ReadFile(dir.File("empty.bin")).empty());
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"empty.bin", "fw.bin", "fw.hex"}));  // nothing left over
}

TEST(SaveToFile, ReplacesExistingFileKeepingItsPermissions) {
  test::TempDir dir;
  const std::string path = dir.File("out.bin");
  test::WriteFile(path, std::string(1000, 'x'));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ImageOf({9, 8, 7}).SaveToFile(path);
  EXPECT_EQ(test::ReadFile(path), (std::vector<uint8_t>{9, 8, 7}));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(SaveToFile, ThroughSymbolicLinkReplacesTheFileItNames) {
  test::TempDir dir;
  test::WriteFile(dir.File("real.bin"), "old");
  ASSERT_EQ(::symlink("real.bin", dir.File("link.bin").c_str()), 0);
  ImageOf({1, 2}).SaveToFile(dir.File("link.bin"));
  EXPECT_EQ(test::ReadFile(dir.File("real.bin")), (std::vector<uint8_t>{1, 2}));
  struct stat st;
  ASSERT_EQ(::lstat(dir.File("link.bin").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(SaveToFile, FileThatCannotBeCreated) {
  test::TempDir dir;
  const std::string path = dir.File("no-such-folder/out.bin");
  try {
    ImageOf({1}).SaveToFile(path);
    FAIL() << "SaveToFile did not throw";
  } catch (const FileCreateError& error) {
    EXPECT_EQ(std::string(error.what()), "cannot create '" + path + "': No such file or directory");
  }
}

TEST(SaveToFile, DeviceIsWrittenInPlaceAndItsFailureReported) {
  ImageOf({1, 2, 3}).SaveToFile("/dev/null");
  if (!test::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_THROW(ImageOf({1, 2, 3}).SaveToFile("/dev/full"), FileCreateError);
}

// A write that fails part-way (here: the file-size limit) leaves the old
// file as it was and no temporary file behind.
TEST(SaveToFile, FailedWriteLeavesExistingFileIntact) {
  test::TempDir dir;
  const std::string path = dir.File("out.bin");
  test::WriteFile(path, "previous contents");

  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    ImageOf(std::vector<uint8_t>(100000, 0xA5)).SaveToFile(path);
  } catch (const FileCreateError& error) {
    threw = true;
    EXPECT_NE(std::string(error.what()).find("cannot write '" + path + "'"), std::string::npos) << error.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_TRUE(threw);
  EXPECT_EQ(test::ReadText(path), "previous contents");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.bin"});
}

}  // namespace
}  // namespace morvane
