#pragma once
// Environment overrides: scripts and tests set variables to change settings
// without editing the configuration file.
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// The value of an environment variable; nothing when it is not set (a
// variable set to "" gives ""). Names that cannot be variable names (empty,
// holding '=' or a NUL byte) give nothing.
std::optional<std::string> GetEnv(std::string_view name);

}  // namespace morvane
