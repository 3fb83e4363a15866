// Counts the allocations a program makes while a request runs: operator new is replaced and the
// malloc family wrapped at link time (the GNU linker's --wrap, which the library
// tav_allocation_counter adds to whatever links it), so nothing the driver could call escapes.
#pragma once

#include <cstdint>

namespace tav::testing {

// Counting runs from Start to Stop; Stop returns the allocations made in between.
void StartCountingAllocations();
uint64_t StopCountingAllocations();

// While one lives, allocations are not counted: a call out of the driver into the H1 library or
// the host log, whose allocations are theirs.
class NotCounted {
 public:
  NotCounted();
  ~NotCounted();
  NotCounted(const NotCounted&) = delete;
  NotCounted& operator=(const NotCounted&) = delete;
};

}  // namespace tav::testing
