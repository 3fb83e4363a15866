#include "platform/sleep.h"

#include <windows.h>

namespace tav {

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace tav
