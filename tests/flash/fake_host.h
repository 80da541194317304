#pragma once
// A main window for the job tests: the test's thread is the GUI thread (a
// GuiLoop), and every change a job makes is recorded.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "flash/Actionthread.h"
#include "flash/gui_loop.h"

namespace morvane::testing {

class FakeHost final : public JobHost {
 public:
  void Synchronize(const std::function<void()>& fn) override { loop.Synchronize(fn); }
  void EnableCommands(bool on) override {
    commandsEnabled = on;
    enableCalls.push_back(on);
  }
  void SetLockBootBlockEnabled(bool on) override { lockBootBlockEnabled = on; }
  void SetBusyCursor(bool busy) override { busyCursor = busy; }
  void SetProgress(int position) override {
    progress.push_back(position);
    if (onProgress) onProgress(position);
  }
  void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
  void SetCancelEnabled(bool on) override { cancelEnabled = on; }
  bool VerifyAfterWrite() override { return verifyAfterWrite; }
  bool WriteTillSuccess() override { return writeTillSuccess; }
  std::string RangeText(RangeField field) override { return fields[field]; }
  void SetRangeText(RangeField field, const std::string& text) override { fields[field] = text; }
  int32_t SelectedPageSize() override { return pageSize; }
  bool UnprotectFlag() override { return unprotect; }
  bool WholeChipFlag() override { return wholeChip; }
  bool BootLocked() override { return bootLocked; }
  TBuffer* Buffer() override { return image; }
  void ShowBuffer(TBuffer& shown) override { buffersShown.push_back(shown.Length); }
  void SetJob(ActionThread* started) override {
    job = started;
    ++jobsStarted;
  }
  void JobEnded(const std::string& status, const std::string& detail) override {
    ended.push_back({status, detail});
    if (onEnded) onEnded(status);
  }

  // Runs the GUI loop until every job of the chain has ended.
  void RunChain() {
    loop.RunUntil([] { return WorkerThread::Running() == 0; });
  }
  // Starts a job as the main window's command does and runs its chain.
  void Run(JobKind kind) {
    StartJobFromFields(kind, *image, *this);
    RunChain();
  }
  void SetRange(const std::string& devStart, const std::string& devEnd, const std::string& bufStart,
                const std::string& bufEnd) {
    fields[RangeField::kDevStart] = devStart;
    fields[RangeField::kDevEnd] = devEnd;
    fields[RangeField::kBufStart] = bufStart;
    fields[RangeField::kBufEnd] = bufEnd;
  }

  GuiLoop loop;
  TBuffer* image = nullptr;
  bool verifyAfterWrite = false, writeTillSuccess = false;
  bool unprotect = false, wholeChip = false, bootLocked = false;
  int32_t pageSize = 0x100;
  std::map<RangeField, std::string> fields;

  bool commandsEnabled = true, lockBootBlockEnabled = true, busyCursor = false, cancelEnabled = false;
  std::vector<bool> enableCalls;
  std::vector<int> progress;
  std::vector<std::string> statusTexts;
  std::vector<int32_t> buffersShown;
  struct End {
    std::string status, detail;
  };
  std::vector<End> ended;
  ActionThread* job = nullptr;
  int jobsStarted = 0;
  std::function<void(int)> onProgress;
  std::function<void(const std::string&)> onEnded;
};

}  // namespace morvane::testing
