#pragma once
// What the chip link asks of the user interface: a Yes/No question, an error
// message, and ending the process at once. Each front end installs its own
// (message boxes, a terminal prompt); tests install a fake.
#include <string_view>

namespace morvane {

class LinkUi {
 public:
  virtual ~LinkUi() = default;
  // A question with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(std::string_view text, std::string_view caption) = 0;
  // An error message with a single OK button; returns once it is closed.
  virtual void ShowError(std::string_view text, std::string_view caption) = 0;
  // A plain message with an OK button; returns once it is closed.
  virtual void ShowMessage(std::string_view text) = 0;
  // Ends the process at once with this exit code, without the normal
  // shutdown of the program or of the link.
  [[noreturn]] virtual void ExitProcess(int code) = 0;
};

// The interface in use. Until a front end installs one, questions are asked
// on the terminal (No when standard input is not a terminal) and messages go
// to standard error.
LinkUi& CurrentLinkUi();
// Installs an interface (null: the terminal default); returns the previous one.
LinkUi* SetLinkUi(LinkUi* ui);

}  // namespace morvane
