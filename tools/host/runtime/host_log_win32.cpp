// On Windows the driver imports `err` from KORHOST.DLL, which hands each formatted message to the
// function registered here: tavhost's own `err` (host_log.cpp) prints it as on Linux.
#include <cstdint>

#include "korhost.h"
#include "platform/host_log.h"

namespace tavhost {
namespace {

void PrintDriverMessage(int32_t level, const char* text) {
  err(level, "%s", text);
}

[[maybe_unused]] const bool registered = (KorHostSetLogSink(PrintDriverMessage), true);

}  // namespace
}  // namespace tavhost
