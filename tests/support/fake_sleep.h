// Sleeping that returns at once and records how long the driver asked to sleep.
#pragma once

#include <cstdint>
#include <vector>

namespace tav::fake {

std::vector<uint32_t>& Sleeps();  // each sleep's milliseconds, in order
uint64_t SleptMilliseconds();     // their sum
void ClearSleeps();

}  // namespace tav::fake
