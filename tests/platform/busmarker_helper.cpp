// A second process for the bus marker tests.
//   busmarker_helper try NAME    exit 0 when it took the marker, 1 when the
//                                marker is held, 2 on any other failure
//   busmarker_helper hold NAME   take the marker, write "held\n" (or
//                                "refused\n") to standard output, then wait
//                                until killed or until standard input ends
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/busmarker.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  morvane::BusMarkerResult r = morvane::AcquireBusMarker(argv[2]);
  if (std::strcmp(argv[1], "try") == 0) {
    switch (r.state) {
      case morvane::BusMarkerState::Acquired: return 0;
      case morvane::BusMarkerState::Held: return 1;
      case morvane::BusMarkerState::Failed: return 2;
    }
  }
  if (std::strcmp(argv[1], "hold") == 0) {
    const char* answer = r.state == morvane::BusMarkerState::Acquired ? "held\n" : "refused\n";
    if (::write(STDOUT_FILENO, answer, std::strlen(answer)) < 0) return 2;
    char c;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
    return 0;
  }
  return 2;
}
