// On Windows the driver binds its H1 imports to the module named like the H1 library that is
// already in the process: in tavhost.exe, the simulated network's DLL. To reach real stations
// through another implementation of the H1 library (libh1tcp's DLL, of the same file name in
// another folder), the simulated network loads that DLL by its full path, which gives a second
// module of the same name, and hands each H1 operation on to it from then on.
#pragma once

#include <string>

#include "sim/api.h"

namespace tav::sim {

// Loads the H1 library DLL at `dllPath` and forwards the eleven operations to its ordinals.
// Returns "" on success, else why not (the DLL does not load, an ordinal is missing).
TAV_SIM_API std::string ForwardH1OperationsTo(const std::string& dllPath);

}  // namespace tav::sim
