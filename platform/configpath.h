#pragma once
// Where the program's configuration file is.
#include <filesystem>
#include <string>
#include <string_view>

namespace morvane {

// The file name the program forms from its command line on the system it
// was first written for: the command line upper-cased, cut at its first
// ".EXE" (or kept whole when there is none), ".INI" put in its place, and a
// leading double quote skipped. "\"D:\\Tools\\Morvane.exe\" /x" gives
// "D:\\TOOLS\\MORVANE.INI". Text after a NUL byte is not part of a command
// line and is ignored.
std::string ConfigPathFromCommandLine(std::string_view commandLine);

// The folder of the running executable, from /proc/self/exe; empty when the
// system does not tell it.
std::filesystem::path ExecutableDir();

// The configuration file the program reads and writes on this system:
// "Morvane.ini" in the folder of the executable (a bare "Morvane.ini", that
// is in the current folder, when that folder is unknown).
std::filesystem::path ConfigFilePath();

inline constexpr std::string_view kConfigFileName = "Morvane.ini";

}  // namespace morvane
