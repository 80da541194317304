#include "platform/debugout.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace morvane {
namespace {
std::mutex g_sinkMutex;
DebugSink g_sink;
}  // namespace

void DebugOutput(std::string_view text) {
  std::lock_guard lock(g_sinkMutex);
  if (g_sink) {
    g_sink(text);
    return;
  }
  // A debugger shows each text as a line of its own; so does the terminal.
  std::fwrite(text.data(), 1, text.size(), stderr);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
  std::fflush(stderr);
}

DebugSink SetDebugSink(DebugSink sink) {
  std::lock_guard lock(g_sinkMutex);
  return std::exchange(g_sink, std::move(sink));
}

}  // namespace morvane
