// The host's log service. The host's runtime library exports `err` by name; the driver imports it
// and sends every message through it. On Linux the loading process defines and exports it.
#pragma once

#include <cstdint>

extern "C" void err(int32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

namespace tav {

// Every driver message is logged at this level...
inline constexpr int32_t kLogLevelNormal = 32;
// ...except the address parser's notice that an S7 station has no extended data blocks.
inline constexpr int32_t kLogLevelBlockType = 0;

}  // namespace tav
