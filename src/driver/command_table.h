// The table of command handlers that TavMain dispatches through.
#pragma once

#include <array>

#include "driver/records.h"

namespace tav {

// A handler reads the instance and parameter pointers from the request and returns the command's
// result; it never changes the request.
using CommandHandler = CommandResult (*)(const Request& request);

inline constexpr int kCommandSlots = 15;  // codes 1 to 15; code 0 has no slot

// Result of a code that has no handler (0, 8, 9, above 15, negative).
inline constexpr CommandResult kNoHandler = 1;

// The handler for `code`, or nullptr when the code has none.
CommandHandler FindHandler(int32_t code);

}  // namespace tav
