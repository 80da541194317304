#include "tests/support/fakes.h"

#include <algorithm>

namespace morvane::testing {

FakeClock::FakeClock() {
  TimeSource source;
  source.tickCount = &FakeClock::Tick;
  source.performanceCounter = &FakeClock::Counter;
  source.performanceFrequency = &FakeClock::Frequency;
  source.context = this;
  previous_ = SetTimeSource(source);
}

FakeClock::~FakeClock() { SetTimeSource(previous_); }

uint32_t FakeClock::Tick(void* self) {
  auto* clock = static_cast<FakeClock*>(self);
  ++clock->readings_;
  clock->nowMs_ += clock->stepMs_;
  return clock->nowMs_;
}

int64_t FakeClock::Counter(void* self) {
  auto* clock = static_cast<FakeClock*>(self);
  int64_t value = clock->counter_;
  clock->counter_ += clock->counterStep_;
  return value;
}

int64_t FakeClock::Frequency(void* self) { return static_cast<FakeClock*>(self)->frequency_; }

FakeLinkUi::FakeLinkUi() : previous_(SetLinkUi(this)) {}
FakeLinkUi::~FakeLinkUi() { SetLinkUi(previous_); }

bool FakeLinkUi::AskYesNo(std::string_view text, std::string_view caption) {
  shown.push_back({"question", std::string(text), std::string(caption)});
  return answerYes;
}

void FakeLinkUi::ShowError(std::string_view text, std::string_view caption) {
  shown.push_back({"error", std::string(text), std::string(caption)});
}

void FakeLinkUi::ShowMessage(std::string_view text) { shown.push_back({"message", std::string(text), ""}); }

void FakeLinkUi::ExitProcess(int code) {
  exits.push_back(code);
  throw ProcessExit{code};
}

DebugCapture::DebugCapture()
    : previous_(SetDebugSink([this](std::string_view text) { texts_.emplace_back(text); })) {}

DebugCapture::~DebugCapture() { SetDebugSink(previous_); }

int DebugCapture::Count(std::string_view text) const {
  return static_cast<int>(std::count(texts_.begin(), texts_.end(), text));
}

}  // namespace morvane::testing
