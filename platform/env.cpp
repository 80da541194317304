#include "platform/env.h"

#include <cstdlib>

namespace morvane {

std::optional<std::string> GetEnv(std::string_view name) {
  if (name.empty() || name.find_first_of(std::string_view("=\0", 2)) != std::string_view::npos)
    return std::nullopt;
  const char* value = std::getenv(std::string(name).c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace morvane
