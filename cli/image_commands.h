#pragma once
// The commands that work on image files alone: convert and dump.
#include "cli/cli.h"

namespace morvane::cli {

const Command& ConvertCommand();
const Command& DumpCommand();

}  // namespace morvane::cli
