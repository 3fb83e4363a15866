#include "korhost.h"

#include <cstdarg>
#include <cstdio>

#include "platform/host_log.h"

namespace {

KorHostLogSink logSink = nullptr;

// A message longer than this is cut; the driver's longest is a station line of 135 characters
// with its text around it.
constexpr size_t kMessageBytes = 1024;

}  // namespace

void KorHostSetLogSink(KorHostLogSink sink) {
  logSink = sink;
}

// C linkage, cdecl, variable arguments: the host's log as the driver imports it.
extern "C" void err(int32_t level, const char* format, ...) {
  char text[kMessageBytes];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (logSink != nullptr) {
    logSink(level, text);
    return;
  }
  std::fprintf(stderr, "[log %2d] %s\n", static_cast<int>(level), text);
}
