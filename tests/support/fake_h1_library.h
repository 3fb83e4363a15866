// A scriptable H1 driver library. Every operation is recorded with its arguments and the bytes of
// the record it was given; its answer comes from a per-operation queue that the test fills, then
// from a per-operation responder or default. Open calls that are not told otherwise hand out
// connection identifiers 1, 2, 3, ...
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "platform/h1_records.h"
#include "vocabulary/h1_operations.h"

namespace tav::fake {

using H1Op = H1Operation;

inline constexpr size_t kConnectRecordBytes = sizeof(ConnectRecord);
inline constexpr size_t kRequestRecordBytes = sizeof(RequestRecord);

// One recorded call.
struct H1Call {
  H1Op op;
  std::vector<uint8_t> record = {};  // connect record (80 bytes) or request record (10 bytes)
  std::vector<uint8_t> buffer = {};  // send write request: the data buffer's bytes (10,000)
  uint32_t connection = 0;           // the identifier argument, where the operation takes one
  uint32_t argument = 0;             // open S7: the second argument; receive read data: buffer size
};

// What one call answers.
struct H1Answer {
  uint16_t result = 0;
  uint16_t statusWord = 0;  // open: into the connect record; receive/acknowledge: via pointer
  std::optional<uint16_t> connection = {};  // open: the identifier; unset hands out the next one
  std::vector<uint8_t> data = {};           // receive read data: bytes copied into the buffer
};

using H1Responder = std::function<H1Answer(const H1Call&)>;

class FakeH1Library {
 public:
  void Reset();

  // Queues `answer` for the next `times` calls of `op`.
  FakeH1Library& Answer(H1Op op, const H1Answer& answer, int times = 1);
  // Answers every call of `op` that finds the queue empty.
  FakeH1Library& Respond(H1Op op, H1Responder responder);

  const std::vector<H1Call>& Calls() const { return calls_; }
  std::vector<H1Call> CallsOf(H1Op op) const;
  int CountOf(H1Op op) const;
  std::vector<H1Op> Sequence() const;

  // Used by the operations this library installs behind the H1 shims.
  H1Answer Take(const H1Call& call);
  uint16_t NextConnection() { return ++lastConnection_; }

 private:
  std::vector<H1Call> calls_;
  std::map<H1Op, std::deque<H1Answer>> queued_;
  std::map<H1Op, H1Responder> responders_;
  uint16_t lastConnection_ = 0;
};

FakeH1Library& H1();

}  // namespace tav::fake
