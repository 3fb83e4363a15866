// Results of the H1 driver library's transfer operations, named by what the driver does on them.
// What they mean inside the library is the library's business.
#pragma once

#include <cstdint>

namespace tav {

inline constexpr uint16_t kH1Done = 0;
// Send: the request was not taken; send it again after a pause. Receive: send it again.
inline constexpr uint16_t kH1Busy = 3;
// Receive: nothing has arrived yet; poll again after a millisecond.
inline constexpr uint16_t kH1Waiting = 6;
inline constexpr uint16_t kH1InProgress = 7;
// Receive read data: the request has to be sent again.
inline constexpr uint16_t kH1Resend = 9;
// Send read request: collect and drop whatever is pending, then give up.
inline constexpr uint16_t kH1Abandon = 14;

constexpr bool IsWaiting(uint16_t status) {
  return status == kH1Waiting || status == kH1InProgress;
}
constexpr bool WantsResend(uint16_t status) {
  return status == kH1Busy || status == kH1Resend;
}

}  // namespace tav
