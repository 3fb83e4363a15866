// One client connection of the gateway, its client side only: bytes in from the client, TSDUs
// out for the station and bytes back to the client, no I/O. ISO on TCP (S7, fetch/write-ISO):
// TPKT packets holding class 0 TPDUs, the CR answered with CC once the station's connection is
// open (the TPDU size agreed on this side alone), DTs reassembled up to their end of TSDU, DR.
// Plain TCP (fetch/write): requests found by their header's length. A read-only route answers
// what would change the station itself and passes on only what reads. Every length the client
// sends is bounded: a client that breaks the rules ends its session with the reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gateway/gateway_settings.h"
#include "plc_sessions/cotp.h"

namespace tavhost::gateway {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// The station connection a TSDU goes over: S7's one, or fetch/write's read connection; and
// fetch/write's write connection.
enum class Channel : uint8_t { kMain, kWrite };

// The largest message a client may send: an S7 PDU (the largest any CPU agrees is 960 bytes), a
// fetch/write request with its data.
inline constexpr size_t kLargestS7Pdu = 8192;
inline constexpr size_t kLargestFetchWrite = 16 + 16384;
// The TPDU size this side agrees at most (2,048, class 0's largest).
inline constexpr uint8_t kLargestClass0SizeCode = 11;
// Bytes held from the client while its station connection opens.
inline constexpr size_t kMostHeldBytes = 2 * (kLargestFetchWrite + 64);

struct Relay {
  Channel channel = Channel::kMain;
  Bytes tsdu;
};

// The TSAPs of the client's CR, for the route and the station's connection.
struct ConnectRequest {
  Bytes callingTsap;
  Bytes calledTsap;
};

struct SessionCounters {
  uint64_t requests = 0;  // messages relayed to the station
  uint64_t refusals = 0;  // answered by the gateway (read-only)
  uint64_t bytesFromClient = 0;
  uint64_t bytesToClient = 0;
};

class ClientSession {
 public:
  ClientSession(Protocol protocol, bool readOnly);

  // The route is decided (ISO: by the CR's called TSAP): whether it is read-only.
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  void TakeFromClient(ByteView bytes);
  // The station's connections are open: ISO answers the CR; what the client sent meanwhile goes.
  void StationOpen();
  // A whole TSDU from the station.
  void TakeFromStation(ByteView tsdu);
  // The gateway ends the connection: ISO tells the client with DR (a CR it took but never
  // confirmed, or an open connection).
  void Disconnect();

  // ISO: the CR has come; the runtime opens the station's connection (once).
  std::optional<ConnectRequest> TakeConnectRequest();
  std::deque<Relay>& toStation() { return toStation_; }
  bool relaying() const { return !toStation_.empty(); }
  Bytes& toClient() { return toClient_; }
  // Why the session ended (the client's DR, a broken rule); the runtime closes the client once
  // toClient has gone.
  const std::optional<std::string>& ended() const { return ended_; }
  const SessionCounters& counters() const { return counters_; }
  bool iso() const { return protocol_ != Protocol::kFetchWrite; }

 private:
  enum class Phase : uint8_t { kAwaitingCr, kAwaitingStation, kOpen, kEnded };

  void Process();
  bool TakePacket();
  bool TakeRequest();
  void TakeConnectionRequest(const tav::cotp::Tpdu& request);
  void TakeTsdu(Bytes tsdu);
  void TakeS7(Bytes pdu);
  void TakeFetchWrite(Bytes message);
  void AnswerClient(ByteView message);
  void End(std::string why);

  Protocol protocol_;
  bool readOnly_;
  Phase phase_;
  Bytes held_;       // from the client, not yet taken
  Bytes tsdu_;       // DTs so far
  size_t largest_;   // the longest message taken
  uint8_t sizeCode_ = 7;
  uint16_t clientReference_ = 0;
  bool answerAwaited_ = false;  // fetch/write: one request at a time, answers in order
  std::optional<ConnectRequest> request_;
  std::optional<ConnectRequest> pendingConnect_;
  std::deque<Relay> toStation_;
  Bytes toClient_;
  std::optional<std::string> ended_;
  SessionCounters counters_;
};

// The read-only filter for S7: whether a client's PDU only reads (setup, read var, SZL and block
// reads); when it does not, the answer that refuses it (none for a PDU that is no S7 job).
bool S7OnlyReads(ByteView pdu);
std::optional<Bytes> S7Refusal(ByteView pdu);

}  // namespace tavhost::gateway
