#pragma once
// The option parser of morvane-cli: long options ("--type hex" or
// "--type=hex"), flags, repeatable options, a few one-letter aliases ("-h"),
// and "--" to end the options. Anything else is a positional argument.
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::cli {

struct OptionSpec {
  std::string_view name;       // without the leading "--"
  char alias = 0;              // one-letter form ("-h"), 0 for none
  std::string_view valueName;  // shown in the help ("bin|hex"); empty for a flag
  bool repeatable = false;
  std::string_view help;       // one line for the help text
};

// A command line that does not parse; the text says what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ParsedArgs {
 public:
  bool Has(std::string_view name) const { return values_.count(std::string(name)) != 0; }
  // The value of an option given once, or null when it was not given.
  const std::string* Value(std::string_view name) const;
  // Every value of a repeatable option, in order.
  std::vector<std::string> Values(std::string_view name) const;

  std::vector<std::string> positional;

 private:
  friend void ParseOptions(std::span<const std::string>, std::span<const std::span<const OptionSpec>>, bool,
                           ParsedArgs&, size_t&);
  std::map<std::string, std::vector<std::string>> values_;
};

// Parses args into parsed (which may already hold options: a
// non-repeatable option given again is a usage error). specs are the option
// tables that apply. With stopAtPositional the parse ends at the first
// positional argument (the command name), which is not consumed; used is set
// to the number of arguments consumed. Throws UsageError.
void ParseOptions(std::span<const std::string> args, std::span<const std::span<const OptionSpec>> specs,
                  bool stopAtPositional, ParsedArgs& parsed, size_t& used);

// Help lines for an option table: "  --type bin|hex   text".
std::string OptionHelp(std::span<const OptionSpec> specs);

}  // namespace morvane::cli
