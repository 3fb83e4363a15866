// One connection of libh1tcp: the state machine that sets a TCP connection up to where the
// station map says a station is, and moves the bytes between the socket, the transport (ISO on
// TCP or plain TCP) and the session (S7 or S5 fetch/write) that the station's map line chose.
// Nothing runs on its own: each operation moves the connection on as far as the socket allows
// and answers at once, except that it may wait for the socket for up to one pause
// (kPauseMilliseconds), the time the driver sleeps between two polls anyway. An answer that
// arrives within it is delivered on the same call, and while the answers of a split transfer
// keep arriving, one receive call keeps collecting them, each wait bounded by the pause: a prompt
// station's transfer completes without the driver ever sleeping, with the latency of a blocking
// client rather than that of a poll every millisecond.
//
// Setting up: TCP connect; the transport's opening (ISO: a connection request with the record's
// TSAPs and its confirm); the session's (S7: a setup with the PDU size and the parallel jobs,
// which the station may lower). A set-up that fails (refused, reset, no answer) is tried again
// after a back-off, and each failed attempt is reported once with its reason; a station the map
// does not know never comes up. An established connection that fails (closed, reset, a malformed
// or unexpected answer) stays broken until it is restarted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "frames.h"
#include "platform/h1_records.h"
#include "plc_sessions/session.h"
#include "sockets.h"
#include "station_map/station_map.h"
#include "transport.h"

namespace tav::h1tcp {

inline constexpr int kPauseMilliseconds = 1;
inline constexpr int kRetryMilliseconds = 200;

enum class Role : uint8_t { kS7, kS5Read, kS5Write };

// A station of the map with its addresses looked up when the map was read.
struct Station {
  Route route;
  std::optional<Endpoint> endpoint;       // nothing when the host's name did not resolve
  std::optional<Endpoint> writeEndpoint;  // s5-tcp with a write port
};

// Why the last set-up attempt failed.
enum class SetUpFailure : uint8_t {
  kNone,
  kNameNotFound,    // the map's host name did not resolve
  kRefused,         // TCP connection refused
  kUnreachable,     // no route to the host or its network
  kTimedOut,        // the TCP connect timed out
  kReset,           // the station reset the connection during the set-up
  kClosed,          // the station closed the connection during the set-up
  kIsoRefused,      // the station disconnected the transport (detail: the reason)
  kSessionRefused,  // the station refused the S7 setup (detail: error class and code)
  kMalformed,       // the station answered with something it cannot mean
  kSocket,          // any other error of the operating system
};
struct FailureReason {
  SetUpFailure failure = SetUpFailure::kNone;
  uint16_t detail = 0;
};
// The reason in words, as the log line ends.
std::string Describe(const FailureReason& reason);

// Where a connection reports each failed set-up attempt: one line, without the library's prefix.
using FailureLog = std::function<void(const std::string& line)>;

class Connection {
 public:
  // `station` is null for a station the map does not know. TSAPs as they go into the
  // connection request.
  Connection(Sockets& sockets, const Station* station, Role role, Bytes localTsap, Bytes remoteTsap,
             FailureLog log = {});
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

  // Why the last set-up attempt failed; kNone while none has.
  FailureReason failure() const { return failure_; }
  // For tests: what the setup agreed.
  uint16_t pduBytes() const { return session_ ? session_->pduBytes() : 0; }
  uint16_t parallelJobs() const { return session_ ? session_->parallelJobs() : 1; }

 private:
  enum class Phase : uint8_t {
    kNoRoute,           // the map does not know the station: never comes up
    kWrongProtocol,     // the map names a protocol the open operation does not speak
    kRetryWait,         // a set-up failed; the next one starts at retryAt_
    kConnecting,        // TCP connect under way
    kTransportOpening,  // the transport's opening sent, waiting for its confirm
    kSessionOpening,    // the session's set-up sent, waiting for its answer
    kEstablished,
    kBroken,
  };
  class Sink;

  uint16_t NotReady() const;
  bool SettingUp() const;
  void Connect();
  void FailSetUp(FailureReason reason);
  void Break();
  // Moves the set-up on without waiting; false when it failed (failure_ says why).
  bool Advance();
  void OpenSession();
  uint16_t Send(const RequestRecord& request, bool write, const uint8_t* buffer);
  bool Flush();
  bool ReadInput();
  bool TakeInput();
  bool TakeArrival(const Arrival& arrival);
  // Moves the exchange of the read (or write) job on, waiting a pause at a time while answers
  // keep coming.
  void Collect(bool write);
  uint16_t Deliver(bool write, uint16_t& statusWord, std::span<uint8_t> buffer);
  void SendMore();

  Sockets& sockets_;
  std::optional<Station> station_;
  Role role_;
  bool wrongOpen_ = false;  // the map's protocol is not one the open operation speaks
  FailureLog log_;
  std::unique_ptr<Transport> transport_;
  std::unique_ptr<sessions::Session> session_;
  Phase phase_ = Phase::kNoRoute;
  FailureReason failure_;
  int64_t retryAt_ = 0;
  Socket socket_ = kNoSocket;
  Bytes out_;
  size_t outAt_ = 0;
  Bytes in_;
  size_t inAt_ = 0;
  std::unique_ptr<uint8_t[]> chunk_;  // what one receive takes, before it joins in_
};

}  // namespace tav::h1tcp
