// The driver's one export. The host loads the library, and sends every request through it, one at
// a time.
#pragma once

#include <cstdint>

#include "abi/records.h"

// TavMain is the library's only visible symbol; the DLL names it in its module-definition file.
#if defined(__ELF__)
#define TAV_EXPORT __attribute__((visibility("default")))
#else
#define TAV_EXPORT
#endif

// Runs the request's command and returns its result: 0 for success, 1 or 2 for the failures each
// command defines. A null request or a code without a handler returns 1 and touches nothing.
extern "C" TAV_EXPORT int32_t TavMain(tav::Request* request);
