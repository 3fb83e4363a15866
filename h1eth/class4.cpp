#include "h1eth/class4.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <utility>

#include "vocabulary/byte_order.h"

namespace tav::h1eth {

namespace {

using cotp::Kind;
using cotp::Numbering;

constexpr uint8_t kSmallestTpduSizeCode = 7;   // 128 octets, agreed when a CR names none
constexpr uint16_t kLargestCreditInCode = 15;  // CR, CC and the normal AK carry four bits
constexpr uint8_t kClassMask = 0xF0;
// The additional options octet: the checksum is used unless this bit is set; transport expedited
// data is used only when bit 0x01 is set, which this transport never asks for.
constexpr uint8_t kOptionNoChecksum = 0x02;
constexpr uint8_t kDefaultAdditionalOptions = 0x01;

// Disconnect reasons this transport sends.
constexpr uint8_t kReasonUnspecified = 0x00;
constexpr uint8_t kReasonCongestion = 0x81;
constexpr uint8_t kReasonNegotiationFailed = 0x82;
constexpr uint8_t kReasonMismatchedReferences = 0x84;
constexpr uint8_t kReasonProtocolError = 0x85;
constexpr uint8_t kReasonReferenceOverflow = 0x87;

// Reject causes of ER.
constexpr uint8_t kRejectInvalidTpduType = 0x02;
constexpr uint8_t kRejectInvalidParameterValue = 0x03;

// The largest header a length indicator of one octet describes (255 is reserved).
constexpr size_t kLargestHeaderBytes = 255;
// References of data for unknown references answered with DR within one T1: beyond, no answer.
constexpr size_t kStrayAnswersPerPeriod = 64;

// A reference from 1 to 65,535 that a previous run of this program is unlikely to have used:
// the system's random source mixed with both clocks, for a random source that is deterministic.
uint16_t UnpredictableReference() {
  std::random_device device;
  uint64_t mixed = (uint64_t{device()} << 32) ^ device();
  mixed ^= static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  mixed ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) << 17;
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ULL;  // splitmix64's finaliser
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBULL;
  mixed ^= mixed >> 31;
  return static_cast<uint16_t>(1 + mixed % 0xFFFF);
}

uint32_t SequenceMask(Numbering numbering) {
  return numbering == Numbering::kExtended ? 0x7FFFFFFFu : 0x7Fu;
}

// TPDU fields the layer reads before it knows the connection: the kind, the references.
Kind KindOf(ByteView tpdu) {
  return static_cast<Kind>(tpdu[1] & 0xF0);
}

bool IsKnownKind(ByteView tpdu) {
  constexpr Kind kKinds[] = {Kind::kConnectionRequest,
                             Kind::kConnectionConfirm,
                             Kind::kDisconnectRequest,
                             Kind::kDisconnectConfirm,
                             Kind::kData,
                             Kind::kExpeditedData,
                             Kind::kDataAcknowledge,
                             Kind::kExpeditedAcknowledge,
                             Kind::kError};
  return std::find(std::begin(kKinds), std::end(kKinds), KindOf(tpdu)) != std::end(kKinds);
}

cotp::Tpdu Disconnect(uint16_t destination, uint16_t source, uint8_t reason) {
  cotp::Tpdu tpdu;
  tpdu.kind = Kind::kDisconnectRequest;
  tpdu.destinationReference = destination;
  tpdu.sourceReference = source;
  tpdu.reason = reason;
  return tpdu;
}

cotp::Tpdu DisconnectConfirm(uint16_t destination, uint16_t source) {
  cotp::Tpdu tpdu;
  tpdu.kind = Kind::kDisconnectConfirm;
  tpdu.destinationReference = destination;
  tpdu.sourceReference = source;
  return tpdu;
}

// TPDUs sent outside a connection carry the checksum: a peer that uses it accepts them, and one
// that does not verifies it all the same.
constexpr cotp::Format kStatelessFormat{false, Numbering::kNormal, true};
// Before CC is in, the peer's TPDUs are read without knowing whether the checksum is used; one
// that carries it is verified.
constexpr cotp::Format kOpeningFormat{false, Numbering::kNormal, false};

}  // namespace

const char* ConnectionStateText(ConnectionState state) {
  constexpr const char* kTexts[] = {"closed",    "connecting", "open",
                                    "releasing", "refused",    "broken"};
  return kTexts[static_cast<size_t>(state)];
}

const char* BreakCauseText(BreakCause cause) {
  constexpr const char* kTexts[] = {
      "none",
      "no answer to the connection request or confirm",
      "data not acknowledged after the last retransmission",
      "peer silent beyond the inactivity time",
      "disconnected by the peer",
      "error TPDU from the peer",
      "connection negotiation failed",
      "protocol error by the peer",
  };
  return kTexts[static_cast<size_t>(cause)];
}

// ---------------------------------------------------------------------------------------------
// One connection.

struct TransportConnection::State {
  // A DT sent and not yet acknowledged.
  struct SentData {
    uint32_t number;
    Bytes tpdu;
    int transmissions;
    Microseconds sentAt;
  };
  // A DT received ahead of the next expected one.
  struct HeldData {
    Bytes data;
    bool endOfTsdu;
  };

  TransportSettings settings;
  TpduSink send;
  uint16_t localReference;
  uint16_t remoteReference = 0;
  bool initiator = false;
  Bytes callingTsap;
  Bytes calledTsap;

  ConnectionState state = ConnectionState::kClosed;
  BreakCause cause = BreakCause::kNone;
  uint8_t disconnectReason = 0;
  uint8_t rejectCause = 0;

  // Agreed in CR and CC.
  size_t tpduBytes = size_t{1} << kSmallestTpduSizeCode;
  Numbering numbering = Numbering::kNormal;
  bool checksum = false;

  // CR (connecting), CC (until the initiator confirms it) or DR (releasing), repeated after T1.
  Bytes control;
  int controlTransmissions = 0;
  Microseconds controlSentAt = 0;
  bool controlAwaitsAnswer = false;

  // Sending: TSDUs not yet wholly cut into DTs, and DTs in flight from the lower window edge.
  std::deque<Bytes> outgoing;
  size_t outgoingOffset = 0;  // octets of outgoing.front() already in DTs
  std::deque<SentData> inFlight;
  uint32_t sendLowerEdge = 0;  // the oldest unacknowledged number
  uint32_t nextToSend = 0;
  uint16_t peerCredit = 0;

  // Receiving.
  uint32_t nextExpected = 0;
  uint32_t acceptUpperEdge = 0;  // the furthest upper window edge ever granted
  std::map<uint32_t, HeldData> held;
  size_t heldBytes = 0;  // user data in `held`
  Bytes reassembly;
  size_t lastTsduBytes = 0;  // the length of the last TSDU of several DTs
  std::deque<Bytes> received;
  uint32_t unacknowledged = 0;  // DTs taken since the last AK
  Microseconds ackDueAt = kNever;

  Microseconds latest = 0;  // the last `now` seen
  Microseconds lastSent = 0;
  Microseconds lastReceived = 0;
  TransportCounters counters;

  State(const TransportSettings& given, uint16_t reference, TpduSink sink)
      : settings(given), send(std::move(sink)), localReference(reference) {
    settings.tpduSizeCode =
        std::clamp(settings.tpduSizeCode, kSmallestTpduSizeCode, kLargestTpduSizeCode);
    settings.credit = std::max<uint16_t>(settings.credit, 1);
    settings.maxTransmissions = std::max(settings.maxTransmissions, 1);
    settings.maxDtsInFlight = std::max<size_t>(settings.maxDtsInFlight, 1);
  }

  uint32_t Mask() const { return SequenceMask(numbering); }
  uint32_t Distance(uint32_t from, uint32_t to) const { return (to - from) & Mask(); }
  uint32_t Advance(uint32_t number, uint32_t by) const { return (number + by) & Mask(); }
  cotp::Format Format() const { return {false, numbering, checksum}; }
  bool Open() const { return state == ConnectionState::kOpen; }

  // What the window may be: four bits with normal numbering, sixteen with extended.
  uint16_t CreditLimit() const {
    return numbering == Numbering::kExtended ? uint16_t{0xFFFF} : kLargestCreditInCode;
  }
  // The credit granted now: none while the received TSDUs fill their queue.
  uint16_t Grant() const {
    if (received.size() >= settings.maxQueuedTsdus) return 0;
    return std::min(settings.credit, CreditLimit());
  }
  uint16_t InitialGrant() const { return std::min(Grant(), kLargestCreditInCode); }

  void Emit(const cotp::Tpdu& tpdu, const cotp::Format& format, Microseconds now) {
    const Bytes bytes = cotp::Encode(tpdu, format);
    Emit(bytes, now);
  }
  void Emit(ByteView bytes, Microseconds now) {
    lastSent = now;
    send(bytes);
  }

  void SendControl(Bytes tpdu, Microseconds now) {
    control = std::move(tpdu);
    controlTransmissions = 1;
    controlSentAt = now;
    controlAwaitsAnswer = true;
    Emit(control, now);
  }

  // Ends the connection for a failure seen here; the peer is told once, not awaited.
  void Break(BreakCause why, Microseconds now, bool tellPeer, uint8_t reason) {
    if (tellPeer) Emit(Disconnect(remoteReference, localReference, reason), Format(), now);
    state = ConnectionState::kBroken;
    cause = why;
    StopSending();
  }
  void StopSending() {
    controlAwaitsAnswer = false;
    outgoing.clear();
    outgoingOffset = 0;
    inFlight.clear();
    held.clear();
    heldBytes = 0;
    reassembly.clear();
    ackDueAt = kNever;
  }

  // --- establishment

  cotp::Parameters RequestParameters() const;
  void Connect(ByteView calling, ByteView called, Microseconds now);
  void Accept(const cotp::Tpdu& request, Microseconds now);
  void TakeConfirm(const cotp::Tpdu& confirm, Microseconds now);

  // --- data

  size_t DataBytesPerDt() const {
    const size_t header = 4 + (numbering == Numbering::kExtended ? 4 : 1) + (checksum ? 4 : 0);
    return tpduBytes - header;
  }
  bool WithinPeerWindow(uint32_t number) const {
    return Distance(sendLowerEdge, number) < peerCredit;
  }
  void Pump(Microseconds now);
  void TakeData(const cotp::Tpdu& dt, Microseconds now);
  bool Deliver(ByteView data, bool endOfTsdu, Microseconds now);
  // DTs taken unacknowledged that call for an AK at once: the credit less a quarter of it (at
  // least one DT), so the AK reaches the peer before its window closes.
  uint32_t AcknowledgeAt() const {
    const int credit = std::min(settings.credit, CreditLimit());
    return static_cast<uint32_t>(std::max(1, credit - std::max(1, credit / 4)));
  }
  // The peer may send another DT before it hears from us.
  bool PeerWindowHasRoom() const { return Distance(nextExpected, acceptUpperEdge) > 0; }
  void TakeAcknowledge(const cotp::Tpdu& ak, Microseconds now);
  void SendAcknowledge(Microseconds now);
  void SendError(uint8_t cause, ByteView invalid, Microseconds now);

  void Take(ByteView bytes, Microseconds now);
  void TakeDisconnect(const cotp::Tpdu& dr, Microseconds now);
  void Tick(Microseconds now);
  Microseconds NextDeadline() const;
};

cotp::Parameters TransportConnection::State::RequestParameters() const {
  cotp::Parameters parameters;
  parameters.tpduSizeCode = settings.tpduSizeCode;
  parameters.callingTsap = callingTsap;
  parameters.calledTsap = calledTsap;
  parameters.additionalOptions = checksum ? uint8_t{0} : kOptionNoChecksum;
  return parameters;
}

void TransportConnection::State::Connect(ByteView calling, ByteView called, Microseconds now) {
  if (state != ConnectionState::kClosed) return;
  initiator = true;
  callingTsap.assign(calling.begin(), calling.end());
  calledTsap.assign(called.begin(), called.end());
  checksum = settings.checksum;
  cotp::Tpdu request;
  request.kind = Kind::kConnectionRequest;
  request.sourceReference = localReference;
  request.classOptions =
      cotp::kClass4 | (settings.offerExtendedNumbering ? cotp::kOptionExtendedFormats : 0);
  request.credit = InitialGrant();
  request.parameters = RequestParameters();
  acceptUpperEdge = request.credit;
  state = ConnectionState::kConnecting;
  lastReceived = now;
  // A class 4 CR always carries the checksum parameter, whatever it asks for.
  SendControl(cotp::Encode(request, kStatelessFormat), now);
  checksum = false;  // until the CC says
}

void TransportConnection::State::Accept(const cotp::Tpdu& request, Microseconds now) {
  if (state != ConnectionState::kClosed) return;
  initiator = false;
  remoteReference = request.sourceReference;
  callingTsap = request.parameters.callingTsap.value_or(Bytes{});
  calledTsap = request.parameters.calledTsap.value_or(Bytes{});
  const uint8_t offeredSize = request.parameters.tpduSizeCode.value_or(kSmallestTpduSizeCode);
  const uint8_t sizeCode = std::clamp(offeredSize, kSmallestTpduSizeCode, settings.tpduSizeCode);
  tpduBytes = cotp::TpduBytesOf(sizeCode);
  const uint8_t options = request.parameters.additionalOptions.value_or(kDefaultAdditionalOptions);
  checksum = settings.checksum || (options & kOptionNoChecksum) == 0;
  const bool extended =
      (request.classOptions & cotp::kOptionExtendedFormats) != 0 && settings.allowExtendedNumbering;
  numbering = extended ? Numbering::kExtended : Numbering::kNormal;
  peerCredit = std::min<uint16_t>(request.credit, CreditLimit());

  cotp::Tpdu confirm;
  confirm.kind = Kind::kConnectionConfirm;
  confirm.destinationReference = remoteReference;
  confirm.sourceReference = localReference;
  confirm.classOptions = cotp::kClass4 | (extended ? cotp::kOptionExtendedFormats : 0);
  confirm.credit = InitialGrant();
  confirm.parameters.tpduSizeCode = sizeCode;
  confirm.parameters.callingTsap = callingTsap;
  confirm.parameters.calledTsap = calledTsap;
  confirm.parameters.additionalOptions = checksum ? uint8_t{0} : kOptionNoChecksum;
  acceptUpperEdge = confirm.credit;
  state = ConnectionState::kOpen;
  lastReceived = now;
  SendControl(cotp::Encode(confirm, Format()), now);
}

void TransportConnection::State::TakeConfirm(const cotp::Tpdu& confirm, Microseconds now) {
  if (state == ConnectionState::kOpen && initiator && confirm.sourceReference == remoteReference) {
    SendAcknowledge(now);  // our confirmation of the CC was lost: the CC came again
    return;
  }
  if (state != ConnectionState::kConnecting) return;
  controlAwaitsAnswer = false;
  remoteReference = confirm.sourceReference;
  const bool extended = (confirm.classOptions & cotp::kOptionExtendedFormats) != 0;
  const uint8_t sizeCode = confirm.parameters.tpduSizeCode.value_or(kSmallestTpduSizeCode);
  const uint8_t options = confirm.parameters.additionalOptions.value_or(kDefaultAdditionalOptions);
  // The checksum asked for in the CR is used: a CC that declines it is refused like one that
  // agrees to what was not offered.
  const bool checksumDeclined = settings.checksum && (options & kOptionNoChecksum) != 0;
  if ((confirm.classOptions & kClassMask) != cotp::kClass4 ||
      (extended && !settings.offerExtendedNumbering) || sizeCode > settings.tpduSizeCode ||
      sizeCode < kSmallestTpduSizeCode || checksumDeclined) {
    Break(BreakCause::kNegotiationFailed, now, true, kReasonNegotiationFailed);
    return;
  }
  numbering = extended ? Numbering::kExtended : Numbering::kNormal;
  tpduBytes = cotp::TpduBytesOf(sizeCode);
  checksum = (options & kOptionNoChecksum) == 0;
  peerCredit = std::min<uint16_t>(confirm.credit, CreditLimit());
  state = ConnectionState::kOpen;
  SendAcknowledge(now);  // confirms the CC and grants the credit again
  Pump(now);
}

// --- sending

void TransportConnection::State::Pump(Microseconds now) {
  while (Open() && !outgoing.empty() && inFlight.size() < settings.maxDtsInFlight &&
         WithinPeerWindow(nextToSend)) {
    const Bytes& tsdu = outgoing.front();
    const size_t size = std::min(tsdu.size() - outgoingOffset, DataBytesPerDt());
    cotp::Tpdu dt;
    dt.kind = Kind::kData;
    dt.destinationReference = remoteReference;
    dt.number = nextToSend;
    dt.endOfTsdu = outgoingOffset + size == tsdu.size();
    dt.userData = ByteView(tsdu).subspan(outgoingOffset, size);
    inFlight.push_back({nextToSend, cotp::Encode(dt, Format()), 1, now});
    nextToSend = Advance(nextToSend, 1);
    if (dt.endOfTsdu) {
      outgoing.pop_front();
      outgoingOffset = 0;
    } else {
      outgoingOffset += size;
    }
    ++counters.dtsSent;
    counters.largestDtsInFlight = std::max(counters.largestDtsInFlight, inFlight.size());
    Emit(inFlight.back().tpdu, now);
    // The AK owed since the end of the peer's last TSDU follows the last DT of ours.
    if (outgoing.empty() && unacknowledged >= AcknowledgeAt()) SendAcknowledge(now);
  }
}

void TransportConnection::State::TakeAcknowledge(const cotp::Tpdu& ak, Microseconds now) {
  const uint32_t acknowledged = Distance(sendLowerEdge, ak.number);
  if (acknowledged > Distance(sendLowerEdge, nextToSend)) return;  // names a DT never sent
  while (!inFlight.empty() && Distance(sendLowerEdge, inFlight.front().number) < acknowledged) {
    inFlight.pop_front();
  }
  sendLowerEdge = ak.number & Mask();
  peerCredit = std::min(ak.credit, CreditLimit());
  Pump(now);
}

// --- receiving

void TransportConnection::State::SendAcknowledge(Microseconds now) {
  const uint16_t grant = Grant();
  const uint32_t upper = Advance(nextExpected, grant);
  if (Distance(nextExpected, upper) > Distance(nextExpected, acceptUpperEdge)) {
    acceptUpperEdge = upper;
  }
  cotp::Tpdu ak;
  ak.kind = Kind::kDataAcknowledge;
  ak.destinationReference = remoteReference;
  ak.number = nextExpected;
  ak.credit = grant;
  ++counters.aksSent;
  unacknowledged = 0;
  ackDueAt = kNever;
  Emit(ak, Format(), now);
}

void TransportConnection::State::TakeData(const cotp::Tpdu& dt, Microseconds now) {
  const uint32_t number = dt.number & Mask();
  const uint32_t ahead = Distance(nextExpected, number);
  if (ahead >= Distance(nextExpected, acceptUpperEdge) || held.contains(number)) {
    // Already taken, already held, or beyond the window: the peer learns where we are.
    ++counters.duplicatesDiscarded;
    SendAcknowledge(now);
    return;
  }
  // What waits for a DT missing ahead of it is bounded by the largest TSDU, whatever the credit:
  // a DT beyond is dropped as if lost, and comes again.
  if (ahead > 0 && heldBytes + dt.userData.size() > settings.maxTsduBytes) {
    ++counters.dtsNotHeld;
    return;
  }
  ++counters.dtsReceived;
  const size_t tsdusBefore = received.size();
  if (ahead > 0) {
    ++counters.dtsResequenced;
    held.emplace(number, HeldData{Bytes(dt.userData.begin(), dt.userData.end()), dt.endOfTsdu});
    heldBytes += dt.userData.size();
  } else if (!Deliver(dt.userData, dt.endOfTsdu, now)) {
    return;
  }
  for (auto next = held.find(nextExpected); next != held.end(); next = held.find(nextExpected)) {
    const HeldData data = std::move(next->second);
    held.erase(next);
    heldBytes -= data.data.size();
    if (!Deliver(data.data, data.endOfTsdu, now)) return;
  }
  // Acknowledged at once when the peer's window is near its end, so a long TSDU keeps flowing;
  // else within the acknowledgement delay, so that one AK covers a burst, a whole TSDU and, in
  // request and answer traffic, the answers of several requests. Where a TSDU just ended and the
  // peer's window still has room the AK is owed, not sent: the TSDU is handed on first, and the
  // AK follows our next TSDU's DTs (the answer, or the next request) or the delay.
  const bool tsduEnded = received.size() > tsdusBefore;
  if (unacknowledged >= AcknowledgeAt() && !(tsduEnded && PeerWindowHasRoom())) {
    SendAcknowledge(now);
  } else if (unacknowledged > 0) {
    ackDueAt = std::min(ackDueAt, now + settings.acknowledgeDelay);
  }
}

// The next DT in order into the TSDU being reassembled, the TSDU delivered at its end; false when
// the TSDU grew beyond what may be reassembled, which breaks the connection.
bool TransportConnection::State::Deliver(ByteView data, bool endOfTsdu, Microseconds now) {
  nextExpected = Advance(nextExpected, 1);
  ++unacknowledged;
  if (reassembly.size() + data.size() > settings.maxTsduBytes) {
    Break(BreakCause::kProtocolError, now, true, kReasonProtocolError);
    return false;
  }
  // A TSDU of several DTs is reassembled into room for the last such TSDU's length, not grown
  // by doubling: answers to the same request come again and again.
  if (reassembly.empty() && !endOfTsdu) reassembly.reserve(std::max(data.size(), lastTsduBytes));
  reassembly.insert(reassembly.end(), data.begin(), data.end());
  if (endOfTsdu) {
    if (reassembly.size() > data.size()) lastTsduBytes = reassembly.size();
    received.push_back(std::exchange(reassembly, Bytes{}));
  }
  return true;
}

void TransportConnection::State::SendError(uint8_t why, ByteView invalid, Microseconds now) {
  cotp::Tpdu er;
  er.kind = Kind::kError;
  er.destinationReference = remoteReference;
  er.reason = why;
  // The rejected TPDU's header, as much of it as leaves the ER's own header within what its
  // length indicator can say: the ER without the parameter, plus its code and length octets.
  const size_t room = kLargestHeaderBytes - cotp::Encode(er, Format()).size() - 2;
  const size_t header = invalid.empty() ? 0 : size_t{invalid[0]} + 1;
  er.parameters.callingTsap.emplace(invalid.begin(),
                                    invalid.begin() + std::min({header, invalid.size(), room}));
  Emit(er, Format(), now);
}

void TransportConnection::State::TakeDisconnect(const cotp::Tpdu& dr, Microseconds now) {
  Emit(DisconnectConfirm(dr.sourceReference, localReference), Format(), now);
  switch (state) {
    case ConnectionState::kConnecting:
      state = ConnectionState::kRefused;
      disconnectReason = dr.reason;
      break;
    case ConnectionState::kOpen:
      disconnectReason = dr.reason;
      Break(BreakCause::kDisconnectedByPeer, now, false, 0);
      break;
    case ConnectionState::kReleasing:
      state = ConnectionState::kClosed;
      break;
    default:
      return;
  }
  StopSending();
}

void TransportConnection::State::Take(ByteView bytes, Microseconds now) {
  latest = std::max(latest, now);
  if (bytes.size() < 2) return;
  const bool negotiated = state != ConnectionState::kConnecting;
  const cotp::Format format = negotiated ? Format() : kOpeningFormat;
  if (format.checksum && !cotp::ChecksumHolds(bytes)) {
    ++counters.checksumFailures;
    return;
  }
  const std::optional<cotp::Tpdu> tpdu = cotp::Decode(bytes, format);
  if (!tpdu) {
    if (Open()) {
      SendError(IsKnownKind(bytes) ? kRejectInvalidParameterValue : kRejectInvalidTpduType, bytes,
                now);
    }
    return;
  }
  lastReceived = now;
  const bool live = Open() || state == ConnectionState::kReleasing;
  switch (tpdu->kind) {
    case Kind::kConnectionRequest:
      // The initiator did not hear our CC: it comes again.
      if (Open() && !initiator && controlAwaitsAnswer) Emit(control, now);
      break;
    case Kind::kConnectionConfirm:
      if (state == ConnectionState::kClosed) {
        Emit(Disconnect(tpdu->sourceReference, localReference, kReasonUnspecified), Format(), now);
      } else {
        TakeConfirm(*tpdu, now);
      }
      break;
    case Kind::kDisconnectRequest:
      TakeDisconnect(*tpdu, now);
      break;
    case Kind::kDisconnectConfirm:
      if (state == ConnectionState::kReleasing) {
        state = ConnectionState::kClosed;
        StopSending();
      }
      break;
    case Kind::kError:
      if (live || state == ConnectionState::kConnecting) {
        rejectCause = tpdu->reason;
        Break(BreakCause::kErrorFromPeer, now, false, 0);
      }
      break;
    case Kind::kData:
    case Kind::kDataAcknowledge:
      if (!Open()) break;
      if (!initiator) controlAwaitsAnswer = false;  // the initiator's first DT or AK confirms CC
      if (tpdu->kind == Kind::kData) {
        TakeData(*tpdu, now);
      } else {
        TakeAcknowledge(*tpdu, now);
      }
      break;
    default:
      break;  // expedited data is never agreed
  }
}

// --- timers

void TransportConnection::State::Tick(Microseconds now) {
  latest = std::max(latest, now);
  if (controlAwaitsAnswer && now >= controlSentAt + settings.retransmissionTime) {
    if (controlTransmissions >= settings.maxTransmissions) {
      if (state == ConnectionState::kReleasing) {
        state = ConnectionState::kClosed;
        StopSending();
      } else {
        Break(BreakCause::kNoAnswer, now, false, 0);
      }
      return;
    }
    ++controlTransmissions;
    controlSentAt = now;
    Emit(control, now);
  }
  if (!Open()) return;
  if (now >= lastReceived + settings.inactivityTime) {
    Break(BreakCause::kPeerSilent, now, true, kReasonUnspecified);
    return;
  }
  for (SentData& sent : inFlight) {
    if (!WithinPeerWindow(sent.number) || now < sent.sentAt + settings.retransmissionTime) {
      continue;
    }
    if (sent.transmissions >= settings.maxTransmissions) {
      Break(BreakCause::kRetransmissionsExhausted, now, true, kReasonUnspecified);
      return;
    }
    ++sent.transmissions;
    sent.sentAt = now;
    ++counters.dtsRetransmitted;
    Emit(sent.tpdu, now);
  }
  if (now >= ackDueAt) SendAcknowledge(now);
  if (now >= lastSent + settings.windowTime) {
    ++counters.keepAlivesSent;
    SendAcknowledge(now);
  }
}

Microseconds TransportConnection::State::NextDeadline() const {
  Microseconds next = kNever;
  if (controlAwaitsAnswer) next = controlSentAt + settings.retransmissionTime;
  if (!Open()) return next;
  next = std::min(
      {next, lastReceived + settings.inactivityTime, ackDueAt, lastSent + settings.windowTime});
  for (const SentData& sent : inFlight) {
    if (WithinPeerWindow(sent.number)) {
      next = std::min(next, sent.sentAt + settings.retransmissionTime);
    }
  }
  return next;
}

TransportConnection::TransportConnection(const TransportSettings& settings, uint16_t localReference,
                                         TpduSink send)
    : state_(std::make_unique<State>(settings, localReference, std::move(send))) {}

TransportConnection::~TransportConnection() = default;

void TransportConnection::Connect(ByteView callingTsap, ByteView calledTsap, Microseconds now) {
  state_->Connect(callingTsap, calledTsap, now);
}

void TransportConnection::Accept(const cotp::Tpdu& request, Microseconds now) {
  state_->Accept(request, now);
}

void TransportConnection::Take(ByteView tpdu, Microseconds now) {
  state_->Take(tpdu, now);
}

bool TransportConnection::Send(ByteView tsdu, Microseconds now) {
  return Send(Bytes(tsdu.begin(), tsdu.end()), now);
}

bool TransportConnection::Send(Bytes&& tsdu, Microseconds now) {
  State& s = *state_;
  if (!s.Open() || tsdu.size() > s.settings.maxTsduBytes ||
      s.outgoing.size() >= s.settings.maxQueuedTsdus) {
    return false;
  }
  s.latest = std::max(s.latest, now);
  s.outgoing.push_back(std::move(tsdu));
  s.Pump(now);
  return true;
}

std::optional<Bytes> TransportConnection::Receive() {
  State& s = *state_;
  if (s.received.empty()) return std::nullopt;
  const bool windowWasShut = s.Grant() == 0;
  Bytes tsdu = std::move(s.received.front());
  s.received.pop_front();
  // The peer waits for credit: the next Tick opens the window.
  if (windowWasShut && s.Open()) s.ackDueAt = std::min(s.ackDueAt, s.latest);
  return tsdu;
}

void TransportConnection::Tick(Microseconds now) {
  state_->Tick(now);
}

Microseconds TransportConnection::NextDeadline() const {
  return state_->NextDeadline();
}

void TransportConnection::Release(Microseconds now) {
  State& s = *state_;
  s.latest = std::max(s.latest, now);
  if (s.state == ConnectionState::kConnecting) {
    s.state = ConnectionState::kClosed;
    s.StopSending();
    return;
  }
  if (!s.Open()) return;
  s.StopSending();
  s.state = ConnectionState::kReleasing;
  s.SendControl(cotp::Encode(Disconnect(s.remoteReference, s.localReference, cotp::kReasonNormal),
                             s.Format()),
                now);
}

ConnectionState TransportConnection::state() const {
  return state_->state;
}
BreakCause TransportConnection::breakCause() const {
  return state_->cause;
}
uint8_t TransportConnection::disconnectReason() const {
  return state_->disconnectReason;
}
uint8_t TransportConnection::rejectCause() const {
  return state_->rejectCause;
}
uint16_t TransportConnection::localReference() const {
  return state_->localReference;
}
uint16_t TransportConnection::remoteReference() const {
  return state_->remoteReference;
}
bool TransportConnection::initiator() const {
  return state_->initiator;
}
size_t TransportConnection::tpduBytes() const {
  return state_->tpduBytes;
}
cotp::Numbering TransportConnection::numbering() const {
  return state_->numbering;
}
bool TransportConnection::checksum() const {
  return state_->checksum;
}
ByteView TransportConnection::callingTsap() const {
  return state_->callingTsap;
}
ByteView TransportConnection::calledTsap() const {
  return state_->calledTsap;
}
bool TransportConnection::sending() const {
  return !state_->outgoing.empty() || !state_->inFlight.empty();
}
const TransportCounters& TransportConnection::counters() const {
  return state_->counters;
}

// ---------------------------------------------------------------------------------------------
// Many connections over one link.

struct TransportLayer::State {
  struct Entry {
    ConnectionId id;
    Endpoints endpoints;
    std::unique_ptr<TransportConnection> connection;
  };
  // A released reference, with whom it was connected: data the peer still sends on it is
  // answered with a DR the peer can place.
  struct Frozen {
    uint16_t reference;
    Microseconds until;
    Endpoints endpoints;
    uint16_t remoteReference;
  };
  // A DR sent for data to a reference not held; another waits for T1.
  struct StrayAnswer {
    uint16_t reference;
    Microseconds at;
  };

  TransportSettings settings;
  FrameSink send;
  std::vector<EthernetAddress> locals;
  Acceptor acceptor;
  std::vector<Entry> entries;
  std::vector<Entry> releasing;  // let go, DR not yet confirmed
  std::vector<Frozen> frozen;
  std::deque<StrayAnswer> strayAnswers;
  uint32_t strayDataAnswered = 0;
  Bytes frame;  // the frame being sent, its storage kept from one to the next
  ConnectionId nextId = 1;
  uint16_t nextReference = 1;

  bool IsLocal(const EthernetAddress& address) const {
    return std::find(locals.begin(), locals.end(), address) != locals.end();
  }
  bool InUse(uint16_t reference) const {
    const auto holds = [&](const Entry& e) { return e.connection->localReference() == reference; };
    return std::any_of(entries.begin(), entries.end(), holds) ||
           std::any_of(releasing.begin(), releasing.end(), holds) ||
           std::any_of(frozen.begin(), frozen.end(),
                       [&](const Frozen& f) { return f.reference == reference; });
  }
  // Connections in memory, those still releasing included.
  size_t Held() const { return entries.size() + releasing.size(); }
  void Freeze(const Entry& entry, Microseconds now) {
    const TransportConnection& connection = *entry.connection;
    frozen.push_back({connection.localReference(), now + settings.referenceFreezeTime,
                      entry.endpoints, connection.remoteReference()});
  }
  // Released connections whose DR was confirmed or spent its transmissions: frozen from now.
  void EndReleases(Microseconds now) {
    std::erase_if(releasing, [&](const Entry& entry) {
      if (entry.connection->state() == ConnectionState::kReleasing) return false;
      Freeze(entry, now);
      return true;
    });
  }
  // The next reference neither in use nor frozen; nothing when all are.
  std::optional<uint16_t> AllocateReference() {
    for (uint32_t tries = 0; tries < 0xFFFF; ++tries) {
      const uint16_t reference = nextReference;
      nextReference = static_cast<uint16_t>(nextReference == 0xFFFF ? 1 : nextReference + 1);
      if (!InUse(reference)) return reference;
    }
    return std::nullopt;
  }

  void SendFrame(const Endpoints& endpoints, ByteView tpdu) {
    EncodeFrame(endpoints.remote, endpoints.local, tpdu, frame);
    if (!frame.empty()) send(frame);
  }
  void SendStateless(const Endpoints& endpoints, const cotp::Tpdu& tpdu) {
    SendFrame(endpoints, cotp::Encode(tpdu, kStatelessFormat));
  }

  Entry& Add(ConnectionId id, const Endpoints& endpoints, uint16_t reference) {
    auto sink = [this, endpoints](ByteView tpdu) { SendFrame(endpoints, tpdu); };
    entries.push_back(
        {id, endpoints, std::make_unique<TransportConnection>(settings, reference, sink)});
    return entries.back();
  }
  Entry* Find(ConnectionId id) {
    for (Entry& entry : entries) {
      if (entry.id == id) return &entry;
    }
    return nullptr;
  }

  void TakeRequest(const Endpoints& endpoints, ByteView bytes, Microseconds now);
  void TakeUnknown(const Endpoints& endpoints, ByteView bytes, Microseconds now);
  void AnswerStrayData(const Endpoints& endpoints, uint16_t reference, Microseconds now);
};

void TransportLayer::State::TakeRequest(const Endpoints& endpoints, ByteView bytes,
                                        Microseconds now) {
  const std::optional<cotp::Tpdu> request = cotp::Decode(bytes, kOpeningFormat);
  if (!request) return;
  for (Entry& entry : entries) {
    const TransportConnection& connection = *entry.connection;
    if (entry.endpoints.remote == endpoints.remote && entry.endpoints.local == endpoints.local &&
        !connection.initiator() && connection.remoteReference() == request->sourceReference &&
        connection.state() == ConnectionState::kOpen) {
      entry.connection->Take(bytes, now);  // a repeated CR
      return;
    }
  }
  const auto refuse = [&](uint8_t reason) {
    SendStateless(endpoints, Disconnect(request->sourceReference, 0, reason));
  };
  if ((request->classOptions & kClassMask) != cotp::kClass4)
    return refuse(kReasonNegotiationFailed);
  if (Held() >= settings.maxConnections) return refuse(kReasonCongestion);
  const std::optional<uint16_t> reference = AllocateReference();
  if (!reference) return refuse(kReasonReferenceOverflow);
  const ConnectionId id = nextId;
  const Bytes calling = request->parameters.callingTsap.value_or(Bytes{});
  const Bytes called = request->parameters.calledTsap.value_or(Bytes{});
  const IncomingRequest incoming{endpoints, calling, called};
  const Admission admission = acceptor ? acceptor(id, incoming) : Admission{};
  switch (admission.verdict) {
    case Admission::Verdict::kIgnore:
      return;
    case Admission::Verdict::kRefuse:
      return refuse(admission.refusalReason);
    case Admission::Verdict::kAccept:
      ++nextId;
      Add(id, endpoints, *reference).connection->Accept(*request, now);
      return;
  }
}

// A TPDU for a reference no connection holds, or one frozen: a DR is confirmed and a CC refused,
// both without delivering anything; data and acknowledgements, which a station sends on a
// connection it still holds, are answered with DR so that it lets the connection go; DC and ER
// are dropped, so that no answer is answered.
void TransportLayer::State::TakeUnknown(const Endpoints& endpoints, ByteView bytes,
                                        Microseconds now) {
  const std::optional<cotp::Tpdu> tpdu = cotp::Decode(bytes, kOpeningFormat);
  if (!tpdu) return;
  switch (tpdu->kind) {
    case Kind::kDisconnectRequest:
      SendStateless(endpoints,
                    DisconnectConfirm(tpdu->sourceReference, tpdu->destinationReference));
      break;
    case Kind::kConnectionConfirm:
      SendStateless(endpoints, Disconnect(tpdu->sourceReference, tpdu->destinationReference,
                                          kReasonUnspecified));
      break;
    case Kind::kData:
    case Kind::kExpeditedData:
    case Kind::kDataAcknowledge:
    case Kind::kExpeditedAcknowledge:
      AnswerStrayData(endpoints, tpdu->destinationReference, now);
      break;
    default:
      break;
  }
}

// DR for data to `reference`, at most once per T1 for one reference and for a bounded number of
// references: to the peer's reference where the reference is frozen from a connection with it
// (released normally), else to reference 0 (mismatched references).
void TransportLayer::State::AnswerStrayData(const Endpoints& endpoints, uint16_t reference,
                                            Microseconds now) {
  while (!strayAnswers.empty() && strayAnswers.front().at + settings.retransmissionTime <= now) {
    strayAnswers.pop_front();
  }
  if (strayAnswers.size() >= kStrayAnswersPerPeriod ||
      std::any_of(strayAnswers.begin(), strayAnswers.end(),
                  [&](const StrayAnswer& a) { return a.reference == reference; })) {
    return;
  }
  strayAnswers.push_back({reference, now});
  ++strayDataAnswered;
  const auto known = std::find_if(frozen.begin(), frozen.end(), [&](const Frozen& f) {
    return f.reference == reference && f.endpoints.remote == endpoints.remote &&
           f.endpoints.local == endpoints.local && f.remoteReference != 0;
  });
  if (known != frozen.end()) {
    SendStateless(endpoints, Disconnect(known->remoteReference, reference, cotp::kReasonNormal));
  } else {
    SendStateless(endpoints, Disconnect(0, reference, kReasonMismatchedReferences));
  }
}

TransportLayer::TransportLayer(const TransportSettings& settings, FrameSink send)
    : state_(std::make_unique<State>()) {
  state_->settings = settings;
  state_->send = std::move(send);
  state_->nextReference =
      settings.firstReference != 0 ? settings.firstReference : UnpredictableReference();
}

TransportLayer::~TransportLayer() = default;

void TransportLayer::AddLocalAddress(const EthernetAddress& address) {
  if (!state_->IsLocal(address)) state_->locals.push_back(address);
}

void TransportLayer::SetAcceptor(Acceptor acceptor) {
  state_->acceptor = std::move(acceptor);
}

std::optional<ConnectionId> TransportLayer::Connect(const Endpoints& endpoints,
                                                    ByteView callingTsap, ByteView calledTsap,
                                                    Microseconds now) {
  State& s = *state_;
  if (s.Held() >= s.settings.maxConnections) return std::nullopt;
  const std::optional<uint16_t> reference = s.AllocateReference();
  if (!reference) return std::nullopt;
  const ConnectionId id = s.nextId++;
  s.Add(id, endpoints, *reference).connection->Connect(callingTsap, calledTsap, now);
  return id;
}

void TransportLayer::TakeFrame(ByteView bytes, Microseconds now) {
  State& s = *state_;
  const std::optional<Frame> frame = DecodeFrame(bytes);
  if (!frame || !s.IsLocal(frame->destination)) return;
  const ByteView tpdu = frame->tpdu;
  // Every class 4 TPDU carries its destination reference in octets 3 and 4.
  if (tpdu.size() < 4 || tpdu[0] < 3) return;
  const Endpoints endpoints{frame->destination, frame->source};
  if (KindOf(tpdu) == Kind::kConnectionRequest) {
    s.TakeRequest(endpoints, tpdu, now);
    return;
  }
  const uint16_t reference = LoadBe16(&tpdu[2]);
  for (std::vector<State::Entry>* held : {&s.entries, &s.releasing}) {
    for (State::Entry& entry : *held) {
      if (entry.connection->localReference() == reference &&
          entry.endpoints.remote == endpoints.remote && entry.endpoints.local == endpoints.local) {
        entry.connection->Take(tpdu, now);
        s.EndReleases(now);
        return;
      }
    }
  }
  s.TakeUnknown(endpoints, tpdu, now);
}

void TransportLayer::Tick(Microseconds now) {
  State& s = *state_;
  std::erase_if(s.frozen, [&](const State::Frozen& f) { return f.until <= now; });
  for (State::Entry& entry : s.entries) entry.connection->Tick(now);
  for (State::Entry& entry : s.releasing) entry.connection->Tick(now);
  s.EndReleases(now);
}

Microseconds TransportLayer::NextDeadline() const {
  const State& s = *state_;
  Microseconds next = kNever;
  for (const State::Frozen& f : s.frozen) next = std::min(next, f.until);
  for (const std::vector<State::Entry>* held : {&s.entries, &s.releasing}) {
    for (const State::Entry& entry : *held) {
      next = std::min(next, entry.connection->NextDeadline());
    }
  }
  return next;
}

TransportConnection* TransportLayer::Connection(ConnectionId id) {
  State::Entry* entry = state_->Find(id);
  return entry != nullptr ? entry->connection.get() : nullptr;
}

const TransportConnection* TransportLayer::Connection(ConnectionId id) const {
  State::Entry* entry = state_->Find(id);
  return entry != nullptr ? entry->connection.get() : nullptr;
}

std::optional<Endpoints> TransportLayer::EndpointsOf(ConnectionId id) const {
  const State::Entry* entry = state_->Find(id);
  if (entry == nullptr) return std::nullopt;
  return entry->endpoints;
}

std::vector<ConnectionId> TransportLayer::Connections() const {
  std::vector<ConnectionId> ids;
  ids.reserve(state_->entries.size());
  for (const State::Entry& entry : state_->entries) ids.push_back(entry.id);
  return ids;
}

void TransportLayer::Forget(ConnectionId id, Microseconds now) {
  State& s = *state_;
  const auto entry = std::find_if(s.entries.begin(), s.entries.end(),
                                  [&](const State::Entry& e) { return e.id == id; });
  if (entry == s.entries.end()) return;
  TransportConnection& connection = *entry->connection;
  if (connection.state() == ConnectionState::kOpen) connection.Release(now);
  if (connection.state() == ConnectionState::kReleasing) {
    s.releasing.push_back(std::move(*entry));
  } else {
    s.Freeze(*entry, now);
  }
  s.entries.erase(entry);
}

size_t TransportLayer::releasingConnections() const {
  return state_->releasing.size();
}

size_t TransportLayer::frozenReferences() const {
  return state_->frozen.size();
}

uint32_t TransportLayer::strayDataAnswered() const {
  return state_->strayDataAnswered;
}

}  // namespace tav::h1eth
