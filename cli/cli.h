#pragma once
// morvane-cli: the command-line front end. The program is a table of
// commands, each with its own options, help text and exit statuses, behind a
// few global options:
//
//   morvane-cli [global options] COMMAND [arguments]
//
// Everything a command prints goes to the streams of its Context, so that the
// program can be run in-process as well as from main().
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "cli/options.h"

namespace morvane::cli {

inline constexpr std::string_view kProgram = "morvane-cli";

// Exit statuses of the program.
inline constexpr int kExitSuccess = 0;
// The command line does not parse: an unknown command or option, a missing
// or extra argument, a bad option value.
inline constexpr int kExitUsage = 2;
// A file that does not load as an image ("Illegal File Type"), or an output
// file that cannot be written.
inline constexpr int kExitFileError = 3;
// The link cannot start: no chip answers, the bus is held by another
// process, or the adapter cannot be opened.
inline constexpr int kExitLinkFailed = 1;
// The chip's IAP firmware does not run, or the configuration does not support
// the chip's flash device (or one of its entries does not read).
inline constexpr int kExitNoDevice = 4;
// A job or chip command failed ("FAIL!", "FAILED!"), a verify difference included.
inline constexpr int kExitJobFailed = 5;
// Cancelled with Ctrl-C.
inline constexpr int kExitCanceled = 130;

struct ExitStatusInfo {
  int code;
  std::string_view meaning;
};

// Every exit status with its meaning, for the help texts.
std::span<const ExitStatusInfo> ExitStatuses();

struct Context {
  std::ostream& out;
  std::ostream& err;
  // The global options and the command's own; positional holds the
  // command's arguments.
  const ParsedArgs& args;
};

struct Command {
  std::string_view name;
  std::string_view arguments;    // the positional arguments, for the usage line ("IN OUT")
  std::string_view summary;      // one line in the program's help
  std::string_view description;  // the body of the command's help
  std::span<const OptionSpec> options;
  size_t minArgs = 0;
  size_t maxArgs = 0;
  std::span<const int> exitStatuses;  // the statuses the command can end with
  int (*run)(Context& context) = nullptr;
};

// The command table, in the order of the program's help.
std::span<const Command> Commands();

// Options that apply to every command; given before the command name or
// among its arguments.
std::span<const OptionSpec> GlobalOptions();

// Runs the program on its arguments (without the program name) and returns
// the exit status.
int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// main() of morvane-cli: Run on the process's arguments and standard streams.
int Main(int argc, char** argv);

// Tells a usage error: the message, then where to find the help.
int ReportUsageError(Context& context, const Command* command, std::string_view message);

}  // namespace morvane::cli
