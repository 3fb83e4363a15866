// What libtavsh1sim exports besides the H1 operations: the C++ interface that tests and the host
// tool use to build networks, inject faults and look into the stations. The project compiles
// with hidden visibility, so every part of that interface is marked.
#pragma once

#define TAV_SIM_API __attribute__((visibility("default")))
