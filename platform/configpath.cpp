#include "platform/configpath.h"

#include <system_error>

namespace morvane {

std::string ConfigPathFromCommandLine(std::string_view commandLine) {
  std::string copy(commandLine.substr(0, commandLine.find('\0')));
  for (char& c : copy) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const auto exe = copy.find(".EXE");
  copy.resize(exe == std::string::npos ? copy.size() : exe);
  copy += ".INI";
  if (copy.front() == '"') copy.erase(0, 1);
  return copy;
}

std::filesystem::path ExecutableDir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path();
}

std::filesystem::path ConfigFilePath() { return ExecutableDir() / kConfigFileName; }

}  // namespace morvane
