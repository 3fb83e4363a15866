// The host's log service: every driver message arrives here through `err` and goes on to the
// log's destinations (output.h). The driver library binds to this definition because the host
// exports it.
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "cli/output.h"
#include "runtime/host.h"

namespace {

bool echo = true;

}  // namespace

void tavhost::EchoDriverLog(bool on) {
  echo = on;
}

extern "C" __attribute__((visibility("default"))) void err(int32_t level, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  tavhost::RecordDriverLog(level, text, echo);
}
