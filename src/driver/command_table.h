// The table of command handlers that TavMain dispatches through.
#pragma once

#include "abi/records.h"

namespace tav {

// A handler reads the instance and parameter pointers from the request and returns the command's
// result; it never changes the request.
using CommandHandler = CommandResult (*)(const Request& request);

// The handler for `code`, or nullptr when the code has none.
CommandHandler FindHandler(int32_t code);

}  // namespace tav
