// One connection of libh1tcp: a non-blocking TCP socket to where the station map says a station
// is, and the exchanges on it. Nothing runs on its own: each operation moves the connection on
// as far as the socket allows and answers at once, except that it may wait for the socket for
// up to one pause (kPauseMilliseconds), the time the driver sleeps between two polls anyway.
// An answer that arrives within it is delivered on the same call, and while the answers of a
// split transfer keep arriving, one receive call keeps collecting them, each wait bounded by
// the pause: a prompt station's transfer completes without the driver ever sleeping, with the
// latency of a blocking client rather than that of a poll every millisecond.
//
// Setting up: TCP connect; on ISO on TCP a connection request with the record's TSAPs and its
// confirm; on S7 a setup with the PDU size and the parallel jobs, which the station may lower.
// A set-up that fails (refused, reset, no answer) is tried again after a back-off; a station
// the map does not know never comes up. An established connection that fails (closed, reset,
// a malformed or unexpected answer) stays broken until it is restarted.
//
// Exchanges: one read and one write may be pending at a time; sending another abandons the
// earlier one, whose answers are then recognised and dropped. S7 transfers larger than the PDU
// allows are split into requests sent back to back, up to the parallel jobs agreed, and put
// back together in order; each answer taken lets the next request out before the next wait.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>

#include "frames.h"
#include "os.h"
#include "platform/h1_records.h"
#include "station_map.h"

namespace tav::h1tcp {

inline constexpr int kPauseMilliseconds = 1;
inline constexpr int kRetryMilliseconds = 200;

enum class Role : uint8_t { kS7, kS5Read, kS5Write };

class Connection {
 public:
  // `route` is null for a station the map does not know. TSAPs as they go into the connection
  // request.
  Connection(const Route* route, Role role, Bytes localTsap, Bytes remoteTsap);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Sets the connection up afresh: drops the socket and every exchange, starts connecting.
  void Start();
  // Connection state: 0 established; else kNotEstablished, kRejected or kConnectionBroken.
  uint16_t State();
  uint16_t SendRead(const RequestRecord& request);
  uint16_t SendWrite(const RequestRecord& request, const uint8_t* buffer);
  uint16_t ReceiveRead(uint32_t bufferSize, uint8_t* buffer, uint16_t& statusWord);
  uint16_t ReceiveWriteAcknowledge(uint16_t& statusWord);

  // For tests: what the setup agreed.
  uint16_t pduBytes() const { return pduBytes_; }
  uint16_t parallelJobs() const { return parallelJobs_; }

 private:
  enum class Phase : uint8_t {
    kNoRoute,        // the map does not know the station: never comes up
    kWrongProtocol,  // the map names a protocol the open operation does not speak
    kRetryWait,      // a set-up failed; the next one starts at retryAt_
    kConnecting,     // TCP connect under way
    kIsoConnecting,  // connection request sent, waiting for the confirm
    kS7Setup,        // setup sent, waiting for its answer
    kEstablished,
    kBroken,
  };

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

  bool IsIso() const;
  bool IsS7() const;
  uint16_t NotReady() const;
  void Connect();
  void FailSetUp(bool refused);
  void Break();
  // Moves the set-up on without waiting; false when it failed.
  bool Advance();
  uint16_t Send(const RequestRecord& request, bool write, const uint8_t* buffer);
  void Plan(const RequestRecord& request, Job& job) const;
  // Sends what the jobs still have to send, as far as the parallel jobs allow.
  void SendChunks();
  void SendChunk(Job& job);
  void Queue(const Bytes& payload);
  bool Flush();
  bool ReadInput();
  bool TakeInput();
  bool TakeIsoInput();
  bool TakeS5TcpInput();
  bool OnMessage(ByteView message);
  bool OnS7Answer(ByteView pdu);
  bool OnS5Answer(ByteView header, ByteView data);
  Job* JobOf(const Sent& sent);
  // Moves the exchange of `job` on, waiting a pause at a time while answers keep coming.
  void Collect(const std::optional<Job>& job);
  // The answer of `job` once it is complete; a read's data into `buffer`.
  uint16_t Deliver(std::optional<Job>& job, uint16_t& statusWord, std::span<uint8_t> buffer);

  std::optional<Route> route_;
  Role role_;
  Bytes localTsap_;
  Bytes remoteTsap_;
  Phase phase_ = Phase::kNoRoute;
  bool refused_ = false;
  int64_t retryAt_ = 0;
  Socket socket_ = kNoSocket;
  Bytes out_;
  size_t outAt_ = 0;
  Bytes in_;
  size_t inAt_ = 0;
  std::unique_ptr<uint8_t[]> chunk_;  // what one receive takes, before it joins in_
  Bytes tsdu_;                        // ISO: the message whose data TPDUs are arriving
  size_t tpduBytes_ = 1024;
  uint16_t pduBytes_ = 0;
  uint16_t parallelJobs_ = 1;
  uint16_t nextReference_ = 1;
  uint32_t nextGeneration_ = 1;
  std::optional<Job> read_;
  std::optional<Job> write_;
  std::deque<Sent> sent_;
};

}  // namespace tav::h1tcp
