// Opens libh1eth's driver once and prints what it logged and answered: the program the
// capability test runs with CAP_NET_RAW taken away.
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "platform/h1_library.h"

extern "C" void err(int32_t /*level*/, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::printf("\n");
}

int main() {
  std::printf("result %u\n", static_cast<unsigned>(H1OpenDriver()));
  H1CloseDriver();
  return 0;
}
