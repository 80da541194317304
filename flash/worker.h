#pragma once
// A worker thread shaped like the class library's: Execute runs on a thread
// of its own; Synchronize runs a step on the GUI thread while the worker
// waits; the terminate request is a flag the worker polls; when Execute has
// returned, the on-terminate step runs on the GUI thread and the object then
// frees itself.
#include <atomic>
#include <functional>
#include <thread>

namespace morvane {

// How a front end runs code on its GUI thread.
class GuiDispatcher {
 public:
  virtual ~GuiDispatcher() = default;
  // Runs fn on the GUI thread and returns once it has run. Called from a
  // worker thread only.
  virtual void Synchronize(const std::function<void()>& fn) = 0;
};

class WorkerThread {
 public:
  explicit WorkerThread(GuiDispatcher& gui) : gui_(gui) {}
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts Execute on a new thread. The object frees itself once its
  // on-terminate step has run; do not touch it after that.
  void Start();
  // Asks Execute to stop at its next checkpoint.
  void Terminate() { terminated_.store(true, std::memory_order_relaxed); }

  // Worker threads started and not yet ended (freed): a front end waits for
  // none to be left before the process ends.
  static int Running();

 protected:
  virtual void Execute() = 0;
  // Runs on the GUI thread after Execute has returned.
  virtual void OnTerminate() {}
  bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
  void Synchronize(const std::function<void()>& fn) { gui_.Synchronize(fn); }

 private:
  static void Run(WorkerThread* self);

  GuiDispatcher& gui_;
  std::atomic<bool> terminated_{false};
};

}  // namespace morvane
