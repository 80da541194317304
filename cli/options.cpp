#include "cli/options.h"

#include <algorithm>

namespace morvane::cli {
namespace {

const OptionSpec* FindLong(std::span<const std::span<const OptionSpec>> specs, std::string_view name) {
  for (auto table : specs) {
    for (const OptionSpec& option : table) {
      if (option.name == name) return &option;
    }
  }
  return nullptr;
}

const OptionSpec* FindAlias(std::span<const std::span<const OptionSpec>> specs, char alias) {
  for (auto table : specs) {
    for (const OptionSpec& option : table) {
      if (option.alias != 0 && option.alias == alias) return &option;
    }
  }
  return nullptr;
}

}  // namespace

const std::string* ParsedArgs::Value(std::string_view name) const {
  auto it = values_.find(std::string(name));
  if (it == values_.end() || it->second.empty()) return nullptr;
  return &it->second.back();
}

std::vector<std::string> ParsedArgs::Values(std::string_view name) const {
  auto it = values_.find(std::string(name));
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

void ParseOptions(std::span<const std::string> args, std::span<const std::span<const OptionSpec>> specs,
                  bool stopAtPositional, ParsedArgs& parsed, size_t& used) {
  size_t i = 0;
  bool optionsEnded = false;
  while (i < args.size()) {
    const std::string& arg = args[i];
    const bool looksLikeOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (!looksLikeOption) {
      if (stopAtPositional) break;
      parsed.positional.push_back(arg);
      ++i;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      ++i;
      if (stopAtPositional) break;
      continue;
    }

    const OptionSpec* option = nullptr;
    std::string shown;  // the option as the user wrote it, for messages
    std::string inlineValue;
    bool hasInlineValue = false;
    if (arg[1] == '-') {
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      shown = "--" + name;
      if (equals != std::string::npos) {
        inlineValue = arg.substr(equals + 1);
        hasInlineValue = true;
      }
      option = FindLong(specs, name);
    } else {
      shown = arg;
      if (arg.size() == 2) option = FindAlias(specs, arg[1]);
    }
    if (option == nullptr) throw UsageError("unknown option '" + shown + "'");
    const std::string name(option->name);
    ++i;

    std::string value;
    if (option->valueName.empty()) {
      if (hasInlineValue) throw UsageError("option '--" + name + "' takes no value");
    } else if (hasInlineValue) {
      value = inlineValue;
    } else {
      if (i >= args.size()) {
        throw UsageError("option '--" + name + "' needs a value (" + std::string(option->valueName) + ")");
      }
      value = args[i++];
    }
    auto& values = parsed.values_[name];
    if (!values.empty() && !option->repeatable) throw UsageError("option '--" + name + "' given more than once");
    values.push_back(value);
  }
  used = i;
}

std::string OptionHelp(std::span<const OptionSpec> specs) {
  std::vector<std::string> heads;
  size_t width = 0;
  for (const OptionSpec& option : specs) {
    std::string head = "  ";
    if (option.alias != 0) head += std::string("-") + option.alias + ", ";
    head += "--" + std::string(option.name);
    if (!option.valueName.empty()) head += " " + std::string(option.valueName);
    width = std::max(width, head.size());
    heads.push_back(std::move(head));
  }
  // The help texts start in one column and wrap before column 100.
  const size_t indent = width + 3;
  std::string text;
  for (size_t k = 0; k < specs.size(); ++k) {
    std::string help(specs[k].help);
    if (specs[k].repeatable && !specs[k].valueName.empty()) help += " (may be repeated)";
    std::string line = heads[k] + std::string(indent - heads[k].size(), ' ');
    size_t column = line.size();
    size_t pos = 0;
    bool first = true;
    while (pos < help.size()) {
      size_t end = help.find(' ', pos);
      if (end == std::string::npos) end = help.size();
      const std::string word = help.substr(pos, end - pos);
      if (!first && column + 1 + word.size() > 99) {
        text += line + '\n';
        line = std::string(indent, ' ');
        column = indent;
        first = true;
      }
      if (!first) {
        line += ' ';
        ++column;
      }
      line += word;
      column += word.size();
      first = false;
      pos = end + 1;
    }
    text += line + '\n';
  }
  return text;
}

}  // namespace morvane::cli
