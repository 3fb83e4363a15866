#include <windows.h>

#include "platform/sleep.h"

namespace tav {

void SleepMilliseconds(uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace tav
