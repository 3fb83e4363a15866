// What the simulated network exports besides the H1 operations: the C++ interface that tests and
// the host tool use to build networks, inject faults and look into the stations. The project
// compiles with hidden visibility, so every part of that interface is marked. On Windows the
// network is a DLL that exports what is marked while it is built (TAV_SIM_EXPORTS); the programs
// that use it bind to it through its import library.
#pragma once

#if !defined(_WIN32)
#define TAV_SIM_API __attribute__((visibility("default")))
#elif defined(TAV_SIM_EXPORTS)
#define TAV_SIM_API __declspec(dllexport)
#else
#define TAV_SIM_API
#endif
