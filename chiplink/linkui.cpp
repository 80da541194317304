#include "chiplink/linkui.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace morvane {
namespace {

// Turns the message-box line breaks "\r" into line ends for a terminal.
std::string ForTerminal(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\r') c = '\n';
  return out;
}

class TerminalUi final : public LinkUi {
 public:
  bool AskYesNo(std::string_view text, std::string_view caption) override {
    std::cerr << caption << ": " << ForTerminal(text);
    if (!isatty(STDIN_FILENO)) {
      std::cerr << " [y/N] n (no terminal to answer)\n";
      return false;
    }
    std::cerr << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
  }
  void ShowError(std::string_view text, std::string_view caption) override {
    std::cerr << caption << ": " << ForTerminal(text) << '\n';
  }
  void ShowMessage(std::string_view text) override { std::cerr << ForTerminal(text) << '\n'; }
  [[noreturn]] void ExitProcess(int code) override {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    _exit(code);
  }
};

TerminalUi g_terminal;
LinkUi* g_ui = &g_terminal;

}  // namespace

LinkUi& CurrentLinkUi() { return *g_ui; }

LinkUi* SetLinkUi(LinkUi* ui) {
  LinkUi* previous = g_ui == &g_terminal ? nullptr : g_ui;
  g_ui = ui ? ui : &g_terminal;
  return previous;
}

}  // namespace morvane
