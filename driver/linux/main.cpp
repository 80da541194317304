// morvane-ports PROGRAM [ARGS...]: runs PROGRAM with the I/O ports of the bus
// open to it and no other privilege.
#include <iostream>

#include "chiplink/backends/system_calls.h"
#include "driver/linux/launcher.h"

int main(int argc, char** argv) {
  return morvane::RunPortLauncher(argc, argv, morvane::RealSystemCalls(),
                                  morvane::RealLauncherCalls(), std::cerr);
}
