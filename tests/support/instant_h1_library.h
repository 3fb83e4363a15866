// An H1 driver library, host log and sleep that answer at once, record nothing and never allocate:
// for measuring the driver's own work and for proving that a request allocates no memory. The
// library answers every operation with the results set here; receive read data leaves the buffer
// as it is, so whatever a test put into the TransferBuffer is what the driver reads.
#pragma once

#include <cstdint>

namespace tav::instant {

struct Answers {
  uint16_t sendRead = 0;
  uint16_t receiveRead = 0;
  uint16_t readStatusWord = 0;
  uint16_t sendWrite = 0;
  uint16_t acknowledge = 0;
  uint16_t writeStatusWord = 0;
};

struct Counts {
  uint64_t h1Calls = 0;
  uint64_t logLines = 0;
  uint64_t sleeps = 0;
  const char* lastFormat = nullptr;
};

Answers& Script();
Counts& Counters();
// Back to all answers 0 and all counts 0.
void Reset();

}  // namespace tav::instant
