// The simulated H1 driver library answers with the contract every H1 library keeps
// (vocabulary/h1_results.h), named here as sim::h1.
#pragma once

#include "vocabulary/h1_results.h"

namespace tav::sim {
namespace h1 = tav::h1;
}  // namespace tav::sim
