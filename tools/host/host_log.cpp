// The host's log service: every driver message arrives here through `err`. The driver library
// binds to this definition because the host exports it.
#include <fmt/core.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "host.h"

namespace {

bool echo = true;

}  // namespace

void tavhost::EchoDriverLog(bool on) {
  echo = on;
}

extern "C" __attribute__((visibility("default"))) void err(int32_t level, const char* format, ...) {
  if (!echo) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  fmt::print("[log {:2}] {}\n", level, text);
}
