#pragma once
// Fakes shared by the chip-link tests: a clock that tests move by hand (or
// that moves a fixed step at every reading), a user interface that records
// what it was asked, and a capture of the debugger output.
#include <cstdint>
#include <string>
#include <vector>

#include "chiplink/linkui.h"
#include "platform/clock.h"
#include "platform/debugout.h"

namespace morvane::testing {

// Installed for the lifetime of the object.
class FakeClock {
 public:
  FakeClock();
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  void AdvanceMs(uint32_t ms) { nowMs_ += ms; }
  // Every reading of the tick count moves the clock on by this much first.
  void SetStepPerReadMs(uint32_t ms) { stepMs_ = ms; }
  void SetNowMs(uint32_t ms) { nowMs_ = ms; }
  uint32_t NowMs() const { return nowMs_; }
  int Readings() const { return readings_; }

  void SetCounter(int64_t counter) { counter_ = counter; }
  // Each reading of the performance counter adds this.
  void SetCounterStep(int64_t step) { counterStep_ = step; }
  void SetFrequency(int64_t frequency) { frequency_ = frequency; }

 private:
  static uint32_t Tick(void* self);
  static int64_t Counter(void* self);
  static int64_t Frequency(void* self);

  uint32_t nowMs_ = 0;
  uint32_t stepMs_ = 0;
  int readings_ = 0;
  int64_t counter_ = 0;
  int64_t counterStep_ = 0;
  int64_t frequency_ = 1'000'000;
  TimeSource previous_;
};

// What ExitProcess throws in tests, so that a test can see the exit code.
struct ProcessExit {
  int code;
};

class FakeLinkUi final : public LinkUi {
 public:
  FakeLinkUi();
  ~FakeLinkUi() override;

  bool AskYesNo(std::string_view text, std::string_view caption) override;
  void ShowError(std::string_view text, std::string_view caption) override;
  void ShowMessage(std::string_view text) override;
  [[noreturn]] void ExitProcess(int code) override;

  bool answerYes = false;
  struct Shown {
    std::string kind;  // "question", "error", "message"
    std::string text;
    std::string caption;
  };
  std::vector<Shown> shown;
  std::vector<int> exits;

 private:
  LinkUi* previous_;
};

class DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  const std::vector<std::string>& Texts() const { return texts_; }
  int Count(std::string_view text) const;

 private:
  std::vector<std::string> texts_;
  DebugSink previous_;
};

}  // namespace morvane::testing
