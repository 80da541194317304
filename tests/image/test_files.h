#pragma once
// Files for the image and command-line tests: a private temporary folder,
// whole-file reads and writes, Intel HEX records with their checksums, and
// running a program with its output captured.
#include <cstdint>
#include <string>
#include <vector>

namespace morvane::test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // The names in the folder, sorted.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& contents);
void WriteFile(const std::string& path, const std::vector<uint8_t>& contents);
std::vector<uint8_t> ReadFile(const std::string& path);
std::string ReadText(const std::string& path);
bool FileExists(const std::string& path);

// One Intel HEX record, upper-case digits, without a line end.
std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data);
// The same with its checksum digit pair replaced by the given one.
std::string HexRecordWithChecksum(uint8_t type, uint16_t address, const std::vector<uint8_t>& data,
                                  const std::string& checksum);

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs program with args (not through a shell), standard input empty. With
// stdoutPath, standard output goes to that file and out stays empty.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdoutPath = "");

// Whether a program is found on PATH.
bool HaveProgram(const std::string& name);

}  // namespace morvane::test
