#include "cli/cli.h"

#include <algorithm>
#include <iostream>
#include <vector>

#include "cli/chip_commands.h"
#include "cli/image_commands.h"

#ifndef MORVANE_VERSION
#define MORVANE_VERSION "unknown"
#endif

namespace morvane::cli {
namespace {

constexpr ExitStatusInfo kExitStatuses[] = {
    {kExitSuccess, "success"},
    {kExitLinkFailed, "the link cannot start: no chip answers, the bus is held, or the adapter cannot be opened"},
    {kExitUsage, "usage error: unknown command or option, missing or extra argument, bad option value"},
    {kExitFileError, "a file that does not load (\"Illegal File Type\"), or an output file that cannot be written"},
    {kExitNoDevice, "no IAP firmware runs, or the configuration does not support the chip's flash device"},
    {kExitJobFailed, "a job or chip command failed (\"FAIL!\", \"FAILED!\"), a verify difference included"},
    {kExitCanceled, "cancelled with Ctrl-C"},
};

// "--help" belongs to the program and to every command.
constexpr OptionSpec kHelpOption{"help", 'h', "", true, "Show this help and exit"};

constexpr OptionSpec kGlobalOptions[] = {
    kHelpOption,
    {"version", 0, "", false, "Show the program's version and exit"},
    {"adapter", 0, "NAME", false, "What carries the bus: sim, ports, ppdev or ppdev:/dev/parportN (as the Adapter key)"},
    {"sim", 0, "KEY=VALUE", true, "A setting of the simulated chip (as a key of [SIM]); repeatable"},
    {"trace", 0, "FILE", false, "Write the simulated bus's SCL and SDA as a VCD file"},
    {"config", 0, "FILE", false, "The configuration file (default: Morvane.ini next to the program)"},
};

const Command* FindCommand(std::string_view name) {
  for (const Command& command : Commands()) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::string ExitStatusHelp(std::span<const int> codes) {
  std::string text = "Exit statuses:\n";
  for (const ExitStatusInfo& status : ExitStatuses()) {
    if (!codes.empty() && std::find(codes.begin(), codes.end(), status.code) == codes.end()) continue;
    text += "  " + std::to_string(status.code) + (status.code < 10 ? "    " : status.code < 100 ? "   " : "  ");
    text += std::string(status.meaning) + "\n";
  }
  return text;
}

// The global options other than --help, which a command's table carries itself.
std::vector<OptionSpec> GlobalOptionsAfterCommand() {
  std::vector<OptionSpec> specs;
  for (const OptionSpec& option : GlobalOptions()) {
    if (option.name != kHelpOption.name) specs.push_back(option);
  }
  return specs;
}

std::string UsageLine(const Command& command) {
  std::string line = "Usage: " + std::string(kProgram) + " [global options] " + std::string(command.name);
  if (!command.arguments.empty()) line += " " + std::string(command.arguments);
  line += " [options]\n";
  return line;
}

void ProgramHelp(std::ostream& out) {
  std::string text = "Usage: " + std::string(kProgram) + " [global options] COMMAND [arguments]\n\n";
  text +=
      "Programs the flash of a VELQ display-processor chip over its I2C bus: writes, reads back, verifies\n"
      "and erases it; and works with flash images: raw binary and Intel HEX files, converted and dumped.\n"
      "Without hardware everything runs against the simulated chip (--adapter sim, the default).\n\n"
      "Commands:\n";
  size_t width = 0;
  for (const Command& command : Commands()) {
    width = std::max(width, command.name.size() + 1 + command.arguments.size());
  }
  for (const Command& command : Commands()) {
    std::string head = std::string(command.name) + " " + std::string(command.arguments);
    text += "  " + head + std::string(width + 3 - head.size(), ' ') + std::string(command.summary) + "\n";
  }
  text += "\nGlobal options:\n" + OptionHelp(GlobalOptions());
  text += "\nRun '" + std::string(kProgram) + " COMMAND --help' for the arguments and options of a command.\n\n";
  text += ExitStatusHelp({});
  out << text;
}

void CommandHelp(std::ostream& out, const Command& command) {
  std::string text = UsageLine(command) + "\n" + std::string(command.description) + "\n";
  std::vector<OptionSpec> specs(command.options.begin(), command.options.end());
  specs.push_back(kHelpOption);
  text += "\nOptions:\n" + OptionHelp(specs);
  text += "\nGlobal options (before or after the command name): see '" + std::string(kProgram) + " --help'.\n\n";
  text += ExitStatusHelp(command.exitStatuses);
  out << text;
}

}  // namespace

std::span<const ExitStatusInfo> ExitStatuses() { return kExitStatuses; }

std::span<const OptionSpec> GlobalOptions() { return kGlobalOptions; }

std::span<const Command> Commands() {
  static const Command table[] = {
      InfoCommand(),  WriteCommand(),         ReadCommand(),    VerifyCommand(),   EraseCommand(),
      LockBootBlockCommand(), RestartCommand(), EnterIapCommand(), ConvertCommand(), DumpCommand(),
  };
  return table;
}

int ReportUsageError(Context& context, const Command* command, std::string_view message) {
  context.err << kProgram << ": " << message << "\n";
  context.err << "Try '" << kProgram << (command ? " " + std::string(command->name) : std::string()) << " --help'.\n";
  return kExitUsage;
}

int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  ParsedArgs parsed;
  Context context{out, err, parsed};
  const Command* command = nullptr;
  try {
    size_t used = 0;
    const std::span<const OptionSpec> globalTables[] = {GlobalOptions()};
    ParseOptions(args, globalTables, true, parsed, used);
    if (used == args.size()) {
      if (parsed.Has("help")) {
        ProgramHelp(out);
        return kExitSuccess;
      }
      if (parsed.Has("version")) {
        out << kProgram << " " << MORVANE_VERSION << "\n";
        return kExitSuccess;
      }
      return ReportUsageError(context, nullptr, "no command given");
    }
    command = FindCommand(args[used]);
    if (command == nullptr) return ReportUsageError(context, nullptr, "unknown command '" + args[used] + "'");

    const std::vector<OptionSpec> globals = GlobalOptionsAfterCommand();
    const OptionSpec help[] = {kHelpOption};
    const std::span<const OptionSpec> commandTables[] = {command->options, help, globals};
    size_t commandUsed = 0;
    ParseOptions(args.subspan(used + 1), commandTables, false, parsed, commandUsed);
    if (parsed.Has("help")) {
      CommandHelp(out, *command);
      return kExitSuccess;
    }
    const size_t count = parsed.positional.size();
    if (count < command->minArgs || count > command->maxArgs) {
      std::string message = count < command->minArgs ? "missing argument" : "too many arguments";
      message += " for '" + std::string(command->name) + "'; it takes " + std::string(command->arguments);
      return ReportUsageError(context, command, message);
    }
    return command->run(context);
  } catch (const UsageError& error) {
    return ReportUsageError(context, command, error.what());
  }
}

int Main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const int status = Run(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}

}  // namespace morvane::cli
