// Blocking the host's thread for a while: the only way the driver waits.
#pragma once

#include <cstdint>

namespace tav {

// Suspends the calling thread for at least `milliseconds` milliseconds.
void SleepMilliseconds(uint32_t milliseconds);

}  // namespace tav
