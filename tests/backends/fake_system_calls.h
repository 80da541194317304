#pragma once
// System calls that never reach the machine: each call is logged as a line
// of text, and each can be told to fail with an errno. Ports answer from a
// reader function, device files from a table of contents.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include "chiplink/backends/system_calls.h"

namespace morvane::testing {

inline std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lX", value);
  return text;
}

inline std::string IoctlName(unsigned long request) {
  switch (request) {
    case PPEXCL: return "PPEXCL";
    case PPCLAIM: return "PPCLAIM";
    case PPRELEASE: return "PPRELEASE";
    case PPWDATA: return "PPWDATA";
    case PPRDATA: return "PPRDATA";
    case PPRSTATUS: return "PPRSTATUS";
    default: return Hex(request);
  }
}

class FakeSystemCalls : public SystemCalls {
 public:
  static constexpr int kFirstFd = 7;

  // Failures by call: "ioperm 0x378" fails ioperm of that base, "ioperm"
  // every ioperm, "open /dev/parport0", "PPCLAIM" and so on.
  std::map<std::string, int> failures;
  // Contents of readable files by path; any other path is missing.
  std::map<std::string, std::string> files;
  std::map<std::string, std::string> environment;
  std::function<uint8_t(uint16_t)> reader = [](uint16_t) { return uint8_t{0xFF}; };
  unsigned char statusLines = 0x78;  // what PPRSTATUS reports
  unsigned char dataLines = 0x00;    // set by PPWDATA, read by PPRDATA
  pid_t pid = 4242;
  uid_t euid = 1000;
  bool logToStderr = false;  // for checks in a child process that exits
  std::vector<std::string> log;

  int Ioperm(unsigned long from, unsigned long count, int on) override {
    Note("ioperm " + Hex(from) + " " + std::to_string(count) + " " + std::to_string(on));
    return Fails("ioperm " + Hex(from)) || Fails("ioperm") ? -1 : 0;
  }
  uint8_t In(uint16_t port) override {
    uint8_t value = reader(port);
    Note("in " + Hex(port) + " -> " + Hex(value));
    return value;
  }
  void Out(uint16_t port, uint8_t value) override { Note("out " + Hex(port) + " " + Hex(value)); }

  int Open(const char* path, int) override {
    Note(std::string("open ") + path);
    if (Fails(std::string("open ") + path)) return -1;
    if (std::string(path).rfind("/dev/", 0) == 0) return Allocate(path, "");
    auto file = files.find(path);
    if (file == files.end()) {
      errno = ENOENT;
      return -1;
    }
    return Allocate(path, file->second);
  }
  ssize_t Read(int fd, void* buffer, size_t size) override {
    auto& file = open_.at(fd);
    size_t n = std::min(size, file.size());
    std::memcpy(buffer, file.data(), n);
    file.erase(0, n);
    return static_cast<ssize_t>(n);
  }
  int Ioctl(int fd, unsigned long request, void* argument) override {
    std::string name = IoctlName(request);
    std::string line = "ioctl " + std::to_string(fd) + " " + name;
    if (request == PPWDATA) line += " " + Hex(*static_cast<unsigned char*>(argument));
    Note(line);
    if (Fails(name)) return -1;
    if (request == PPWDATA) dataLines = *static_cast<unsigned char*>(argument);
    if (request == PPRDATA) *static_cast<unsigned char*>(argument) = dataLines;
    if (request == PPRSTATUS) *static_cast<unsigned char*>(argument) = statusLines;
    return 0;
  }
  int Close(int fd) override {
    Note("close " + std::to_string(fd));
    open_.erase(fd);
    return 0;
  }
  const char* Getenv(const char* name) override {
    auto it = environment.find(name);
    return it == environment.end() ? nullptr : it->second.c_str();
  }
  pid_t Getpid() override { return pid; }
  uid_t Geteuid() override { return euid; }

  // The log without the given kinds of lines (e.g. "open /sys").
  std::vector<std::string> LogWithout(const std::string& prefix) const {
    std::vector<std::string> kept;
    for (const auto& line : log)
      if (line.rfind(prefix, 0) != 0) kept.push_back(line);
    return kept;
  }

 protected:
  void Note(const std::string& line) {
    log.push_back(line);
    if (logToStderr) std::fprintf(stderr, "%s\n", line.c_str());
  }
  bool Fails(const std::string& call) {
    auto it = failures.find(call);
    if (it == failures.end()) return false;
    errno = it->second;
    return true;
  }

 private:
  int Allocate(const std::string&, std::string contents) {
    int fd = kFirstFd + static_cast<int>(opened_++);
    open_[fd] = std::move(contents);
    return fd;
  }
  size_t opened_ = 0;
  std::map<int, std::string> open_;
};

}  // namespace morvane::testing
