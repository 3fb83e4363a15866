// Command 14: the driver describes itself to the host.
#pragma once

#include <string_view>

#include "abi/records.h"

namespace tav {

inline constexpr std::string_view kDriverName = "SIEMENS, SIMATIC H1";

// The start-up banner in code page 437: a line feed, then six framed lines of 63 characters,
// each followed by a line feed.
std::string_view DriverBanner();

// Fills the InfoBlock with the name, the banner and the DriverInstance size; reads no instance, so
// the host may send it before it allocated one. Returns 0; 1 when the InfoBlock pointer is null.
CommandResult DriverInformation(const Request& request);

}  // namespace tav
