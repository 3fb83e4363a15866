#include <ctime>

#include "platform/sleep.h"

namespace tav {

void SleepMilliseconds(uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1'000'000L};
  // A signal may cut the sleep short; sleep on for what is left.
  while (nanosleep(&remaining, &remaining) != 0) {
  }
}

}  // namespace tav
