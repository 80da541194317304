#include "flash/worker.h"

#include <exception>
#include <mutex>

#include "platform/debugout.h"

namespace morvane {
namespace {
std::mutex g_runningMutex;
int g_running = 0;
}  // namespace

WorkerThread::~WorkerThread() = default;

void WorkerThread::Start() {
  {
    std::lock_guard lock(g_runningMutex);
    ++g_running;
  }
  std::thread(&WorkerThread::Run, this).detach();
}

void WorkerThread::Run(WorkerThread* self) {
  // Errors are caught at the thread boundary: a job must never take the
  // process down, and it still ends through its on-terminate step.
  try {
    self->Execute();
  } catch (const std::exception& e) {
    DebugOutput(std::string("job stopped by an error: ") + e.what() + "\n");
  } catch (...) {
    DebugOutput("job stopped by an error\n");
  }
  self->gui_.Synchronize([self] { self->OnTerminate(); });
  delete self;
  std::lock_guard lock(g_runningMutex);
  --g_running;
}

int WorkerThread::Running() {
  std::lock_guard lock(g_runningMutex);
  return g_running;
}

}  // namespace morvane
