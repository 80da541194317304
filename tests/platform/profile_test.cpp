#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace morvane {
namespace {

namespace fs = std::filesystem;

// Each test gets a folder of its own holding at most one profile file.
class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "morvane-profile-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    file_ = dir_ / "Morvane.ini";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Put(const std::string& content) {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::string Get() const {
    std::ifstream in(file_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
  fs::path file_;
};

struct StringCase {
  const char* what;
  const char* content;
  const char* section;
  const char* key;
  const char* defaultValue;
  std::size_t bufferSize;
  const char* expected;
};

const StringCase kStringCases[] = {
    {"plain value", "[I2C]\nSlaveAddress=7C\n", "I2C", "SlaveAddress", "7E", 10, "7C"},
    {"names without regard to case", "[i2c]\nslaveaddress=7c\n", "I2C", "SLAVEADDRESS", "7E", 10,
     "7c"},
    {"blanks around names and value", "  [ I2C ]  \n \t SlaveAddress \t=  7C \t\n", "I2C",
     "SlaveAddress", "7E", 10, "7C"},
    {"missing key gives the default", "[I2C]\nWAIT=3\n", "I2C", "SlaveAddress", "7E", 10, "7E"},
    {"missing section gives the default", "[DEVICE]\nSlaveAddress=10\n", "I2C", "SlaveAddress",
     "7E", 10, "7E"},
    {"key of another section is not seen", "[DEVICE]\nSlaveAddress=10\n[I2C]\nWAIT=1\n", "I2C",
     "SlaveAddress", "7E", 10, "7E"},
    {"trailing blanks of the default dropped", "", "I2C", "SlaveAddress", "7E  \t", 10, "7E"},
    {"leading blanks of the default kept", "", "I2C", "SlaveAddress", " 7E", 10, " 7E"},
    {"ten-character buffer keeps nine", "[I2C]\nSlaveAddress=0123456789ABC\n", "I2C",
     "SlaveAddress", "7E", 10, "012345678"},
    {"buffer limit applies to the default", "", "I2C", "SlaveAddress", "0123456789ABC", 10,
     "012345678"},
    {"buffer of one gives nothing", "[I2C]\nSlaveAddress=7C\n", "I2C", "SlaveAddress", "7E", 1, ""},
    {"buffer of zero gives nothing", "[I2C]\nSlaveAddress=7C\n", "I2C", "SlaveAddress", "7E", 0,
     ""},
    {"empty value is not missing", "[I2C]\nSlaveAddress=\n", "I2C", "SlaveAddress", "7E", 10, ""},
    {"double quotes dropped", "[A]\nk=\" a b \"\n", "A", "k", "", 64, " a b "},
    {"single quotes dropped", "[A]\nk='ab'\n", "A", "k", "", 64, "ab"},
    {"unmatched quote kept", "[A]\nk=\"ab\n", "A", "k", "", 64, "\"ab"},
    {"mixed quotes kept", "[A]\nk=\"ab'\n", "A", "k", "", 64, "\"ab'"},
    {"a lone quote kept", "[A]\nk=\"\n", "A", "k", "", 64, "\""},
    {"quotes dropped before the buffer limit", "[A]\nk=\"0123456789\"\n", "A", "k", "", 5, "0123"},
    {"first of two equal keys wins", "[I2C]\nWAIT=1\nwait=2\n", "I2C", "WAIT", "", 10, "1"},
    {"comment line is no key", "[I2C]\n;SlaveAddress=10\n  ; WAIT=4\n", "I2C", "SlaveAddress",
     "7E", 10, "7E"},
    {"semicolon inside a value is kept", "[A]\nk=1 ; note\n", "A", "k", "", 64, "1 ; note"},
    {"value may hold '='", "[A]\nk=a=b\n", "A", "k", "", 64, "a=b"},
    {"line without '=' is no key", "[A]\nk\n", "A", "k", "none", 64, "none"},
    {"key before any section is not in one", "k=1\n[A]\n", "A", "k", "none", 64, "none"},
    {"CRLF line ends", "[I2C]\r\nSlaveAddress=7C\r\n", "I2C", "SlaveAddress", "7E", 10, "7C"},
    {"last line without line end", "[I2C]\nSlaveAddress=7C", "I2C", "SlaveAddress", "7E", 10,
     "7C"},
    {"section appearing twice read as one", "[I2C]\nWAIT=1\n[X]\nk=0\n[I2C]\nSlaveAddress=84\n",
     "I2C", "SlaveAddress", "7E", 10, "84"},
    {"header text after ']' ignored", "[I2C] old\nSlaveAddress=84\n", "I2C", "SlaveAddress", "7E",
     10, "84"},
};

TEST_F(ProfileTest, ReadStringCases) {
  for (const StringCase& c : kStringCases) {
    SCOPED_TRACE(c.what);
    Put(c.content);
    EXPECT_EQ(ReadProfileString(c.section, c.key, c.defaultValue, c.bufferSize, file_), c.expected);
  }
}

TEST_F(ProfileTest, MissingFileGivesDefaults) {
  EXPECT_EQ(ReadProfileString("I2C", "SlaveAddress", "7E", 10, file_), "7E");
  EXPECT_EQ(ReadProfileInt("I2C", "WAIT", 0, file_), 0u);
  EXPECT_EQ(ReadProfileInt("I2C", "WAIT", 5, file_), 5u);
  EXPECT_TRUE(ReadProfileKeys("DEVICE", file_).empty());
  // A folder where the file should be reads like a missing file.
  EXPECT_EQ(ReadProfileString("I2C", "SlaveAddress", "7E", 10, dir_), "7E");
}

TEST_F(ProfileTest, EachReadSeesTheFileAsItIsNow) {
  Put("[I2C]\nWAIT=1\n");
  EXPECT_EQ(ReadProfileInt("I2C", "WAIT", 0, file_), 1u);
  Put("[I2C]\nWAIT=2\n");
  EXPECT_EQ(ReadProfileInt("I2C", "WAIT", 0, file_), 2u);
}

struct IntCase {
  const char* value;
  uint32_t expected;
};

const IntCase kIntCases[] = {
    {"3", 3},
    {"  42  ", 42},
    {"007", 7},
    {"+7", 7},
    {"-3", 0xFFFFFFFDu},
    {"12abc", 12},
    {"3 4", 3},
    {"1.5", 1},
    {"abc", 0},
    {"", 0},
    {"-", 0},
    {"0x1F", 31},
    {"0X1f", 31},
    {"0x", 0},
    {"0xG", 0},
    {"$10", 0},
    {"4294967295", 0xFFFFFFFFu},
    {"4294967296", 0},  // wraps like the 32-bit result
    {"\"5\"", 0},       // quotes are not digits
};

TEST_F(ProfileTest, ReadIntCases) {
  for (const IntCase& c : kIntCases) {
    SCOPED_TRACE(std::string("value \"") + c.value + "\"");
    Put(std::string("[I2C]\nWAIT=") + c.value + "\n");
    EXPECT_EQ(ReadProfileInt("I2C", "WAIT", 9, file_), c.expected);
  }
}

TEST_F(ProfileTest, ReadIntDefaultOnlyForMissingKey) {
  Put("[I2C]\nSlaveAddress=7E\n");
  EXPECT_EQ(ReadProfileInt("I2C", "WAIT", 0, file_), 0u);
  EXPECT_EQ(ReadProfileInt("I2C", "WAIT", 3, file_), 3u);
  EXPECT_EQ(ReadProfileInt("I2C", "WAIT", -1, file_), 0xFFFFFFFFu);
  EXPECT_EQ(ReadProfileInt("i2c", "wait", 3, file_), 3u);
  Put("[I2C]\nWAIT=\n");
  EXPECT_EQ(ReadProfileInt("I2C", "WAIT", 3, file_), 0u);
}

TEST_F(ProfileTest, KeysInFileOrder) {
  Put(
      "; supported devices\n"
      "[DEVICE]\n"
      "Zeta=0x00BF 0x7F 0 1 0x7FFFF\n"
      "\n"
      "alpha = 0x00C2 0x7F 1 0 0x3FFFF\n"
      ";Hidden=0x0001\n"
      "not a key\n"
      "ALPHA=0x0002\n"
      "[I2C]\n"
      "WAIT=0\n"
      "[device]\n"
      "Mid=0x0003\n");
  EXPECT_EQ(ReadProfileKeys("DEVICE", file_), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  EXPECT_EQ(ReadProfileKeys("I2C", file_), (std::vector<std::string>{"WAIT"}));
  EXPECT_TRUE(ReadProfileKeys("Olders", file_).empty());
}

struct WriteCase {
  const char* what;
  const char* before;
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};

const WriteCase kWriteCases[] = {
    {"existing key changes only its value",
     "; recent files\n[Olders]\n1=a.bin\n\n2=b.hex\n[I2C]\nWAIT=0\n", "Olders", "2", "c.bin",
     "; recent files\n[Olders]\n1=a.bin\n\n2=c.bin\n[I2C]\nWAIT=0\n"},
    {"blanks before the value and the key's spelling kept", "[olders]\n  1 =  a.bin  \n", "Olders",
     "1", "b.bin", "[olders]\n  1 =  b.bin\n"},
    {"empty value written", "[Olders]\n9=x\n", "Olders", "9", "", "[Olders]\n9=\n"},
    {"only the first of two equal keys changes", "[Olders]\n1=a\n1=b\n", "Olders", "1", "c",
     "[Olders]\n1=c\n1=b\n"},
    {"new key after the last key of its section",
     "[Olders]\n1=a\n\n; the link\n[I2C]\nWAIT=0\n", "Olders", "2", "b",
     "[Olders]\n1=a\n2=b\n\n; the link\n[I2C]\nWAIT=0\n"},
    {"new key in a section without keys", "[Olders]\n\n[I2C]\n", "Olders", "1", "a",
     "[Olders]\n1=a\n\n[I2C]\n"},
    {"new key after a last line without line end", "[Olders]\n1=a", "Olders", "2", "b",
     "[Olders]\n1=a\n2=b\n"},
    {"new section at the end of the file", "[I2C]\nWAIT=0\n", "Olders", "1", "a",
     "[I2C]\nWAIT=0\n\n[Olders]\n1=a\n"},
    {"new section after a blank last line", "[I2C]\nWAIT=0\n\n", "Olders", "1", "a",
     "[I2C]\nWAIT=0\n\n[Olders]\n1=a\n"},
    {"new section after a last line without line end", "[I2C]\nWAIT=0", "Olders", "1", "a",
     "[I2C]\nWAIT=0\n\n[Olders]\n1=a\n"},
    {"empty file", "", "Olders", "1", "a", "[Olders]\n1=a\n"},
    {"CRLF file keeps CRLF", "[I2C]\r\nWAIT=0\r\n[Olders]\r\n1=a\r\n", "Olders", "2", "b",
     "[I2C]\r\nWAIT=0\r\n[Olders]\r\n1=a\r\n2=b\r\n"},
    {"mixed line ends kept line by line", "[Olders]\r\n1=a\n2=b\r\n", "Olders", "1", "c",
     "[Olders]\r\n1=c\n2=b\r\n"},
    {"commented-out key is not the key", "[Olders]\n;1=old\n", "Olders", "1", "a",
     "[Olders]\n1=a\n;1=old\n"},
    {"new key goes to the section seen last with keys",
     "[Olders]\n1=a\n[I2C]\nWAIT=0\n[Olders]\n2=b\n", "Olders", "3", "c",
     "[Olders]\n1=a\n[I2C]\nWAIT=0\n[Olders]\n2=b\n3=c\n"},
};

TEST_F(ProfileTest, WriteCases) {
  for (const WriteCase& c : kWriteCases) {
    SCOPED_TRACE(c.what);
    Put(c.before);
    ASSERT_TRUE(WriteProfileString(c.section, c.key, c.value, file_));
    EXPECT_EQ(Get(), c.after);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Morvane.ini"}) << "temporary file left";
  }
}

TEST_F(ProfileTest, WriteCreatesMissingFile) {
  ASSERT_TRUE(WriteProfileString("Olders", "1", "fw.bin", file_));
  EXPECT_EQ(Get(), "[Olders]\n1=fw.bin\n");
  EXPECT_EQ(ReadProfileString("Olders", "1", "", 260, file_), "fw.bin");
}

TEST_F(ProfileTest, WrittenValuesReadBack) {
  Put("[DEVICE]\nA=0x00BF 0x7F 0 1 0x7FFFF\n");
  const char* names[] = {"D:\\fw\\one.bin", "two.hex", "sub dir/three.bin"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(WriteProfileString("Olders", std::to_string(i + 1), names[i], file_));
  }
  ASSERT_TRUE(WriteProfileString("Olders", "9", "", file_));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ReadProfileString("Olders", std::to_string(i + 1), "", 260, file_), names[i]);
  }
  EXPECT_EQ(ReadProfileKeys("Olders", file_), (std::vector<std::string>{"1", "2", "3", "9"}));
  EXPECT_EQ(ReadProfileString("DEVICE", "A", "", 260, file_), "0x00BF 0x7F 0 1 0x7FFFF");
}

TEST_F(ProfileTest, WriteRefusesWhatWouldBreakLinesApart) {
  const std::string before = "[Olders]\n1=a\n";
  struct Bad {
    const char* section;
    const char* key;
    const char* value;
  } const bad[] = {
      {"Olders", "1", "a\n[I2C]\nWAIT=99"}, {"Olders", "1", "a\rb"},  {"Olders", "k=v", "a"},
      {"Olders", "[I2C]", "a"},             {"Olders", ";c", "a"},    {"Olders", "", "a"},
      {"Olders", "  ", "a"},                {"Old]ers", "1", "a"},    {"", "1", "a"},
      {"Olders\n[I2C]", "1", "a"},          {"Olders", "1\n2", "a"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(std::string(b.section) + " / " + b.key + " / " + b.value);
    Put(before);
    EXPECT_FALSE(WriteProfileString(b.section, b.key, b.value, file_));
    EXPECT_EQ(Get(), before);
  }
}

TEST_F(ProfileTest, WriteFailureLeavesEverythingAsItWas) {
  // A folder that does not exist: nothing is created.
  EXPECT_FALSE(WriteProfileString("Olders", "1", "a", dir_ / "missing" / "Morvane.ini"));
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  // A name that is a folder, not a file: it is not replaced.
  fs::create_directory(file_);
  EXPECT_FALSE(WriteProfileString("Olders", "1", "a", file_));
  EXPECT_TRUE(fs::is_directory(file_));
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Morvane.ini"});
}

TEST_F(ProfileTest, WriteKeepsPermissions) {
  Put("[Olders]\n1=a\n");
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(WriteProfileString("Olders", "1", "b", file_));
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::mask,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ProfileTest, WriteThroughSymbolicLinkChangesTheTarget) {
  const fs::path real = dir_ / "real.ini";
  {
    std::ofstream(real) << "[Olders]\n1=a\n";
  }
  fs::create_symlink(real, file_);
  ASSERT_TRUE(WriteProfileString("Olders", "1", "b", file_));
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(ReadProfileString("Olders", "1", "", 64, real), "b");
}

}  // namespace
}  // namespace morvane
