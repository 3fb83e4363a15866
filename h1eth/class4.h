// The transport protocol of ISO 8073 class 4 (RFC 905) as H1 carries it over Ethernet, on the
// transport codec of plc_sessions/cotp.h.
//
// A TransportConnection is one transport connection, initiator or responder: establishment with
// CR and CC (TPDU size, checksum and numbering negotiated), segmenting a TSDU into DTs within the
// peer's credit and reassembling the peer's DTs in order (resequencing, duplicates discarded),
// acknowledgement, retransmission after T1 at most N times, keep-alive AKs every W while idle, a
// peer silent for I declared gone, release with DR and DC. It emits encoded TPDUs through the
// callback it is given and never reads a clock: every call that may act on time takes `now`.
//
// A TransportLayer carries many connections over one link: it wraps each TPDU in an H1 frame to
// the connection's peer, dispatches incoming frames by the peer's Ethernet address and the
// destination reference, allocates local references and keeps a released one frozen for L before
// it is used again, answers TPDUs for references it does not know, and asks an acceptor whether
// to take a connection request. Its memory is bounded by the settings' caps.
//
// References outlive the process: a station may still hold a connection of a previous run that
// ended without its DR getting through, and keep sending on it. So a layer's first reference is
// unpredictable (each layer draws its own; the settings may fix it for tests), a connection let go
// is released with DR until the DC comes or N transmissions are spent, and a station's data for a
// reference the layer does not hold is answered with DR (at most once per T1 for one reference).
//
// Neither class is safe for concurrent use: an owner that runs the timers on a thread of its own
// and calls from another serialises every call (one mutex around the layer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "h1eth/frame.h"
#include "plc_sessions/cotp.h"
#include "vocabulary/ethernet_address.h"

namespace tav::h1eth {

// Times on the owner's clock, in microseconds from any origin; kNever: no deadline.
using Microseconds = int64_t;
inline constexpr Microseconds kNever = std::numeric_limits<Microseconds>::max();

// The defaults are also those of h1eth.conf's keys, which settings.h takes from here (retries 8
// is N = 9 transmissions; acknowledge_ms 10).
struct TransportSettings {
  // What this side offers (initiator) or allows (responder); the smaller size is agreed. 10 is
  // 1,024 octets, the largest that fits an Ethernet frame.
  uint8_t tpduSizeCode = kLargestTpduSizeCode;
  // Initiator: ask for the checksum (else its non-use is asked for). Responder: insist on it even
  // when the initiator asked for its non-use. Either way it is used when either side wants it.
  bool checksum = true;
  // Initiator: offer extended (31-bit) numbering. Responder: agree to it when offered.
  bool offerExtendedNumbering = false;
  bool allowExtendedNumbering = true;
  // The credit this side grants: DTs the peer may send beyond the last acknowledged one (at most
  // 15 in CR and CC, at most 63 with normal numbering).
  uint16_t credit = 8;
  Microseconds retransmissionTime =
      200'000;                            // T1: CR, CC, DT, DR unanswered this long are sent again
  int maxTransmissions = 9;                       // N: transmissions of one TPDU before giving up
  Microseconds acknowledgeDelay = 10'000;         // received DTs are acknowledged at most this late
  Microseconds windowTime = 5'000'000;            // W: an AK at least this often while idle
  Microseconds inactivityTime = 30'000'000;       // I: a peer silent this long is gone
  Microseconds referenceFreezeTime = 10'000'000;  // L: a released reference waits this long
  // Bounds on memory.
  size_t maxTsduBytes = 65536;  // a TSDU sent or reassembled
  size_t maxQueuedTsdus = 16;   // TSDUs waiting to be sent; and, received, before credit stops
  size_t maxDtsInFlight = 64;   // unacknowledged DTs, whatever credit the peer grants
  size_t maxConnections = 256;  // connections of one layer
  // The layer's first local reference, the next ones counting up from it (never 0); 0: one drawn
  // unpredictably when the layer is made.
  uint16_t firstReference = 0;
};

enum class ConnectionState : uint8_t {
  kClosed,      // not yet connected, or released by either side
  kConnecting,  // CR sent, waiting for CC
  kOpen,        // data may flow
  kReleasing,   // DR sent, waiting for DC
  kRefused,     // the peer answered the CR with DR: disconnectReason() says why
  kBroken,      // ended by a failure: breakCause() says which
};

enum class BreakCause : uint8_t {
  kNone,
  kNoAnswer,                  // CR or CC sent N times without an answer
  kRetransmissionsExhausted,  // a DT sent N times without being acknowledged
  kPeerSilent,                // nothing received for I
  kDisconnectedByPeer,        // DR while open: disconnectReason() says why
  kErrorFromPeer,             // ER: rejectCause() says why
  kNegotiationFailed,         // the CC agreed to what was not offered, or refused the checksum
  kProtocolError,             // the peer broke the protocol (a TSDU beyond maxTsduBytes)
};

// Text for a state and for a cause, for log lines and tools.
const char* ConnectionStateText(ConnectionState state);
const char* BreakCauseText(BreakCause cause);

// What happened on a connection, for tests, statistics and the owner's diagnostics.
struct TransportCounters {
  uint32_t dtsSent = 0;  // first transmissions
  uint32_t dtsRetransmitted = 0;
  uint32_t dtsReceived = 0;          // within the window, including out-of-order ones
  uint32_t dtsResequenced = 0;       // received ahead of one missing, held until it came
  uint32_t duplicatesDiscarded = 0;  // already received or outside the window
  uint32_t checksumFailures = 0;     // dropped for a checksum that does not hold
  uint32_t dtsNotHeld = 0;  // out of order beyond what may be held (maxTsduBytes): sent again
  uint32_t aksSent = 0;
  uint32_t keepAlivesSent = 0;    // AKs sent because the connection was idle for W
  size_t largestDtsInFlight = 0;  // the most DTs unacknowledged at one time
};

// Called with each encoded TPDU the connection sends.
using TpduSink = std::function<void(ByteView tpdu)>;

class TransportConnection {
 public:
  TransportConnection(const TransportSettings& settings, uint16_t localReference, TpduSink send);
  TransportConnection(const TransportConnection&) = delete;
  TransportConnection& operator=(const TransportConnection&) = delete;
  ~TransportConnection();

  // Initiator: sends CR with the TSAPs; the state becomes kConnecting. Only from kClosed.
  void Connect(ByteView callingTsap, ByteView calledTsap, Microseconds now);
  // Responder: answers the CR (decoded without checksum format) with CC, agreeing the smaller
  // TPDU size, the checksum when either side wants it and extended numbering when offered and
  // allowed; the state becomes kOpen. Only from kClosed.
  void Accept(const cotp::Tpdu& request, Microseconds now);
  // A TPDU addressed to this connection. With the checksum agreed, one whose checksum does not
  // hold is dropped; a malformed one is answered with ER; nothing outside the window is delivered.
  void Take(ByteView tpdu, Microseconds now);
  // Queues one TSDU, sent as DTs within the peer's credit, the last marked end of TSDU. Returns
  // false (and queues nothing) unless open, when the TSDU is longer than maxTsduBytes or when
  // maxQueuedTsdus are waiting.
  [[nodiscard]] bool Send(ByteView tsdu, Microseconds now);
  // The same, taking the TSDU's storage rather than a copy of it.
  [[nodiscard]] bool Send(Bytes&& tsdu, Microseconds now);
  // The next whole TSDU the peer sent, in order; nothing when none is complete.
  std::optional<Bytes> Receive();
  // Runs the timers due at `now`: retransmission, delayed acknowledgement, keep-alive, inactivity.
  void Tick(Microseconds now);
  // When Tick has something to do next; kNever when no timer runs.
  Microseconds NextDeadline() const;
  // Sends DR (normal disconnect) and waits for DC; the state becomes kReleasing, and kClosed on
  // DC or after N transmissions. A connection still connecting is released as well.
  void Release(Microseconds now);

  ConnectionState state() const;
  BreakCause breakCause() const;
  uint8_t disconnectReason() const;  // the peer's DR reason: kRefused, kDisconnectedByPeer
  uint8_t rejectCause() const;       // the peer's ER cause: kErrorFromPeer
  uint16_t localReference() const;
  uint16_t remoteReference() const;
  bool initiator() const;
  // What was agreed once open.
  size_t tpduBytes() const;
  cotp::Numbering numbering() const;
  bool checksum() const;
  // The TSAPs of the CR (sent or accepted).
  ByteView callingTsap() const;
  ByteView calledTsap() const;
  // Whether TSDUs wait to be sent or acknowledged.
  bool sending() const;
  const TransportCounters& counters() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Which connection of a layer, never used twice by one layer.
using ConnectionId = uint32_t;

// The two stations of a connection.
struct Endpoints {
  EthernetAddress local{};
  EthernetAddress remote{};
};

// A connection request that arrived for one of the layer's local addresses.
struct IncomingRequest {
  Endpoints endpoints;
  ByteView callingTsap;
  ByteView calledTsap;
};

// The acceptor's answer: take the connection, refuse it with DR and a reason, or ignore the CR.
struct Admission {
  enum class Verdict : uint8_t { kAccept, kRefuse, kIgnore };
  Verdict verdict = Verdict::kRefuse;
  uint8_t refusalReason = 0x00;  // reason not specified
};
// Decides on a CR; `id` is the connection's if accepted.
using Acceptor = std::function<Admission(ConnectionId id, const IncomingRequest& request)>;

// Called with each whole Ethernet frame the layer sends.
using FrameSink = std::function<void(ByteView frame)>;

class TransportLayer {
 public:
  TransportLayer(const TransportSettings& settings, FrameSink send);
  TransportLayer(const TransportLayer&) = delete;
  TransportLayer& operator=(const TransportLayer&) = delete;
  ~TransportLayer();

  // The layer answers frames sent to these addresses only; frames to others are ignored.
  void AddLocalAddress(const EthernetAddress& address);
  // Who decides on CRs; without one every CR is refused.
  void SetAcceptor(Acceptor acceptor);

  // Opens a connection from `local` (one of the local addresses) to `remote`: sends CR. Nothing
  // when maxConnections are open or no reference is free.
  std::optional<ConnectionId> Connect(const Endpoints& endpoints, ByteView callingTsap,
                                      ByteView calledTsap, Microseconds now);
  // One frame from the link, whatever it holds: frames that are not H1 or not for a local
  // address are ignored.
  void TakeFrame(ByteView frame, Microseconds now);
  // Runs every connection's timers and thaws frozen references.
  void Tick(Microseconds now);
  Microseconds NextDeadline() const;

  // The connection, while the layer holds it; nullptr after Forget.
  TransportConnection* Connection(ConnectionId id);
  const TransportConnection* Connection(ConnectionId id) const;
  std::optional<Endpoints> EndpointsOf(ConnectionId id) const;
  // Every connection the layer holds, in the order they were made.
  std::vector<ConnectionId> Connections() const;
  // Lets a connection go: one still connecting is dropped; one open is released, DR repeated
  // after T1 until the DC comes or N transmissions are spent, the layer keeping it meanwhile
  // (releasingConnections()). Its reference then stays frozen for L.
  void Forget(ConnectionId id, Microseconds now);

  // Connections let go whose DR is not yet confirmed: an owner that closes waits for them to end.
  size_t releasingConnections() const;
  size_t frozenReferences() const;
  // DRs sent for data addressed to a reference the layer does not hold.
  uint32_t strayDataAnswered() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tav::h1eth
