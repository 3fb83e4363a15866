#include "support/fake_sleep.h"

#include <numeric>

#include "platform/sleep.h"

namespace tav {

namespace fake {

std::vector<uint32_t>& Sleeps() {
  static std::vector<uint32_t> sleeps;
  return sleeps;
}

uint64_t SleptMilliseconds() {
  return std::accumulate(Sleeps().begin(), Sleeps().end(), uint64_t{0});
}

void ClearSleeps() {
  Sleeps().clear();
}

}  // namespace fake

void SleepMilliseconds(uint32_t milliseconds) {
  fake::Sleeps().push_back(milliseconds);
}

}  // namespace tav
