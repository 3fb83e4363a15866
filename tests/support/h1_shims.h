// The eleven operations of the H1 driver library, defined once (h1_shims.cpp) for every program
// that links the driver's objects without the real library: each call goes on to the operations
// the program's stand-in installed. The recording fake and the instant library install themselves
// as the program starts; the fault soak and the transfer fuzzer install theirs before the first
// request.
#pragma once

#include "platform/h1_library.h"

namespace tav::testing {

// Hands every later call of an H1 operation on to `operations`. Calling an operation that is not
// set, or any before something is installed, ends the program with a message.
void InstallH1Library(const H1Operations& operations);

}  // namespace tav::testing
