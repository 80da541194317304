#pragma once
// Debugger output: the two diagnostic texts of the chip link go here. On
// this platform they go to standard error; tests install a sink to see them.
#include <functional>
#include <string_view>

namespace morvane {

void DebugOutput(std::string_view text);

// Replaces where debugger output goes; an empty function restores standard
// error. Returns the previous sink.
using DebugSink = std::function<void(std::string_view)>;
DebugSink SetDebugSink(DebugSink sink);

}  // namespace morvane
