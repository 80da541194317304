#include "flash/gui_loop.h"

namespace morvane {

void GuiLoop::Synchronize(const std::function<void()>& fn) {
  Step step{&fn};
  std::unique_lock lock(mutex_);
  steps_.push_back(&step);
  queued_.notify_all();
  finished_.wait(lock, [&] { return step.done; });
}

void GuiLoop::RunUntil(const std::function<bool()>& done, const std::function<void()>& idle,
                       std::chrono::milliseconds tick) {
  std::unique_lock lock(mutex_);
  while (true) {
    while (!steps_.empty()) {
      Step* step = steps_.front();
      steps_.pop_front();
      lock.unlock();
      (*step->fn)();
      lock.lock();
      step->done = true;
      finished_.notify_all();
    }
    lock.unlock();
    if (idle) idle();
    const bool finished = done();
    lock.lock();
    if (finished && steps_.empty()) return;
    queued_.wait_for(lock, tick, [&] { return !steps_.empty(); });
  }
}

}  // namespace morvane
