// libh1eth answers with the contract every H1 library keeps (vocabulary/h1_results.h): the same
// numbers, for the same situations, as the simulated H1 network's and libh1tcp's.
#pragma once

#include "vocabulary/h1_results.h"

namespace tav::h1eth {
using namespace tav::h1;  // NOLINT(google-build-using-namespace): the contract's names, as ours
}  // namespace tav::h1eth
