// A session with one PLC station in its dialect, above whatever transport carries its messages:
// S7 communication (setup with PDU negotiation, transfers split to the PDU and sent up to the
// parallel jobs agreed, answers matched by reference) or S5 fetch/write (one request per
// transfer, answers in order). The session turns the driver's request records into messages and
// the station's answers into the transfer buffer and status word; it owns no socket and never
// waits: the connection beneath it moves the bytes.
//
// One read and one write may be pending at a time; sending another abandons the earlier one,
// whose answers are then recognised and dropped.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>

#include "platform/h1_records.h"
#include "plc_sessions/frames.h"

namespace tav::sessions {

// Where a session's messages go: the transport beneath it, which frames each one.
class MessageSink {
 public:
  virtual void Send(ByteView message) = 0;

 protected:
  ~MessageSink() = default;
};

enum class Dialect : uint8_t {
  kS7,       // an S7 station: data blocks count bytes
  kS7Words,  // S5 word memory reached like an S7 station: data blocks count words
  kS5,       // S5 fetch/write
};

struct SessionSettings {
  uint16_t pduBytes = 480;    // S7: the PDU size asked for
  uint16_t parallelJobs = 8;  // S7: the parallel jobs asked for
};

// What a message from the station did to the session.
enum class Taken : uint8_t {
  kFine,
  kBroken,   // malformed or unexpected: the connection cannot go on
  kRefused,  // the station refused the session's set-up
};

class Session {
 public:
  virtual ~Session() = default;

  // Forgets every job and whatever was agreed: the transport beneath starts afresh.
  void Reset();
  // The transport is open: sends what the session's own set-up needs.
  virtual void Open(MessageSink& sink) = 0;
  bool Up() const { return up_; }
  // One whole message from the station.
  Taken Take(ByteView message);
  // For a transport that does not delimit messages: the bytes of the message at the front of
  // `waiting`, 0 while it is incomplete; nothing when no message can start there.
  virtual std::optional<size_t> MessageBytes(ByteView waiting) const = 0;
  // The set-up's refusal as the station gave it (S7: error class and code), 0 when none.
  uint16_t refusal() const { return refusal_; }

  // A read or write the driver asked for: kOk once sent (or decided without asking), else the
  // result to answer. `buffer` holds a write's data.
  uint16_t Send(const RequestRecord& request, bool write, const uint8_t* buffer, MessageSink& sink);
  // Sends what the jobs still have to send, as far as the session allows.
  void SendMore(MessageSink& sink);
  // Whether the read (or write) job waits for answers.
  bool Awaiting(bool write) const;
  // The answer of the read (or write) job: kNoRequest, kReceiving or kNoData while there is
  // none; kOk with `statusWord` set once it is complete, a read's data in `buffer`.
  uint16_t Deliver(bool write, uint16_t& statusWord, std::span<uint8_t> buffer);

  // For tests: what the set-up agreed.
  uint16_t pduBytes() const { return pduBytes_; }
  uint16_t parallelJobs() const { return parallelJobs_; }

 protected:
  // One read or write the driver asked for.
  struct Job {
    uint32_t generation = 0;
    bool write = false;
    S7Item s7;               // S7: the whole range
    S5Request s5;            // S5: the one request
    bool swapWords = false;  // words least significant byte first in the transfer buffer
    Bytes data;              // in wire order: a write's data, or a read's as it arrives
    uint32_t chunkBytes = 0;
    uint32_t chunks = 0;
    uint32_t sentChunks = 0;
    uint32_t answeredChunks = 0;
    std::optional<uint16_t> status;  // decided: by the station, or without asking it
  };
  // A request on the wire whose answer has not come.
  struct Sent {
    uint16_t reference = 0;
    uint32_t generation = 0;
    uint32_t chunk = 0;
    uint32_t expectBytes = 0;  // data bytes of the answer
    bool write = false;
  };

  explicit Session(const SessionSettings& settings) : settings_(settings) {}

  // The dialect's part: how a request becomes chunks, a chunk a message, and how many requests
  // may be on the wire at once.
  virtual void Plan(const RequestRecord& request, Job& job) const = 0;
  virtual Bytes Request(const Job& job, const Sent& sent, uint32_t offset, uint32_t bytes) = 0;
  virtual size_t Window() const = 0;
  // A message while the session is up, or while its set-up runs.
  virtual Taken OnAnswer(ByteView message) = 0;

  Job* JobOf(const Sent& sent);

  SessionSettings settings_;
  bool up_ = false;
  uint16_t refusal_ = 0;
  uint16_t pduBytes_ = 0;
  uint16_t parallelJobs_ = 1;
  uint16_t nextReference_ = 1;
  std::deque<Sent> sent_;

 private:
  void SendChunk(Job& job, MessageSink& sink);

  uint32_t nextGeneration_ = 1;
  std::optional<Job> read_;
  std::optional<Job> write_;
};

std::unique_ptr<Session> MakeSession(Dialect dialect, const SessionSettings& settings);

}  // namespace tav::sessions
