// Ctrl-C as a request to stop: standard C++ signal handling, the same on every system.
#include "cli/terminal.h"

#include <csignal>

namespace tavhost {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int /*signal*/) {
  interrupted = 1;
}

}  // namespace

void CatchInterrupt() {
  interrupted = 0;
  std::signal(SIGINT, OnInterrupt);
}

bool Interrupted() {
  return interrupted != 0;
}

void ReleaseInterrupt() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

void CatchTermination() {
  std::signal(SIGTERM, OnInterrupt);
}

}  // namespace tavhost
