#include "tests/image/test_files.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace morvane::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morvane-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& contents) {
  WriteFile(path, std::string(contents.begin(), contents.end()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

std::string HexRecordWithChecksum(uint8_t type, uint16_t address, const std::vector<uint8_t>& data,
                                  const std::string& checksum) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string record = ":";
  auto put = [&](uint8_t b) {
    record += kHex[b >> 4];
    record += kHex[b & 0xF];
  };
  put(static_cast<uint8_t>(data.size()));
  put(static_cast<uint8_t>(address >> 8));
  put(static_cast<uint8_t>(address));
  put(type);
  for (uint8_t b : data) put(b);
  return record + checksum;
}

std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  uint8_t sum = static_cast<uint8_t>(data.size() + (address >> 8) + (address & 0xFF) + type);
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  const uint8_t check = static_cast<uint8_t>(-sum);
  static constexpr char kHex[] = "0123456789ABCDEF";
  return HexRecordWithChecksum(type, address, data, std::string{kHex[check >> 4], kHex[check & 0xF]});
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdoutPath) {
  TempDir capture;
  const std::string outPath = stdoutPath.empty() ? capture.File("stdout") : stdoutPath;
  const std::string errPath = capture.File("stderr");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);

  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
  }
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  if (stdoutPath.empty()) result.out = ReadText(outPath);
  result.err = ReadText(errPath);
  return result;
}

bool HaveProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace morvane::test
