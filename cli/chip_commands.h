#pragma once
// The commands that work on the chip: each starts the link as the desktop
// program does (link start-up, the IAP presence query, device set-up) and
// then runs its job or its short chip command.
#include "cli/cli.h"

namespace morvane::cli {

const Command& InfoCommand();
const Command& WriteCommand();
const Command& ReadCommand();
const Command& VerifyCommand();
const Command& EraseCommand();
const Command& LockBootBlockCommand();
const Command& RestartCommand();
const Command& EnterIapCommand();

}  // namespace morvane::cli
