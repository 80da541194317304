#pragma once
// A GUI thread for front ends without an event loop of their own (the
// command line, tests): the thread that runs the loop is the GUI thread;
// worker threads hand it their synchronised steps and wait for them.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "flash/worker.h"

namespace morvane {

class GuiLoop : public GuiDispatcher {
 public:
  // From a worker thread: runs fn on the loop's thread and waits for it.
  void Synchronize(const std::function<void()>& fn) override;

  // On the loop's thread: runs queued steps until done() answers true,
  // calling idle() at least every `tick` while it waits.
  void RunUntil(const std::function<bool()>& done, const std::function<void()>& idle = {},
                std::chrono::milliseconds tick = std::chrono::milliseconds(20));

 private:
  struct Step {
    const std::function<void()>* fn;
    bool done = false;
  };
  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<Step*> steps_;
};

}  // namespace morvane
