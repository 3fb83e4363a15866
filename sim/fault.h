// Faults: answers forced onto the simulated H1 operations, so that tests can walk every path of
// the driver's polling and retry loops.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "sim/api.h"
#include "vocabulary/h1_operations.h"

namespace tav::sim {

// The eleven operations of the H1 driver library, as the vocabulary names them.
using Operation = H1Operation;
inline constexpr size_t kOperationCount = kH1OperationCount;

// After letting `after` calls through, the operation answers `result` (and `statusWord` where it
// hands one back) `times` times instead of doing its work. Exceptions, as a real library behaves:
// - an open answering a fault creates no connection and leaves the record's identifier field as
//   the caller filled it; the status word goes into the record;
// - receive read data and receive write acknowledgement answering 6 or 7 keep the pending request
//   (its response is still on its way); any other answer ends it: 3 and 9 as a lost request, 0
//   with a status word as the station's refusal, without data.
struct Fault {
  uint16_t result = 0;
  uint16_t statusWord = 0;
  int times = 1;
  int after = 0;
};

// The faults waiting on each operation, first in first out.
class TAV_SIM_API FaultQueue {
 public:
  void Add(Operation operation, const Fault& fault);
  // Counts one call of `operation`; returns the fault that answers it, if any.
  std::optional<Fault> Take(Operation operation);
  void Clear();

 private:
  std::array<std::deque<Fault>, kOperationCount> queues_;
};

}  // namespace tav::sim
