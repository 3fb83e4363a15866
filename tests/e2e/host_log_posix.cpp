// This test program's own host log: the loaded driver must find it, not the C library's err(3).
#include <cstdarg>
#include <cstdio>

#include "loaded_driver.h"

extern "C" __attribute__((visibility("default"))) void err(int32_t level, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  tav::e2e::HostLog().push_back({level, text});
}
