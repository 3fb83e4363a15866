#include "connection.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "plc_sessions/cotp.h"
#include "results.h"
#include "vocabulary/ethernet_address.h"

namespace tav::h1tcp {

namespace {

constexpr size_t kReadChunkBytes = 16 * 1024;

// What each protocol of the map stacks on the TCP connection, chosen once per connection.
struct Stack {
  Protocol protocol;
  bool iso;                   // ISO on TCP beneath, else plain TCP
  sessions::Dialect dialect;  // the session above
  bool s7;                    // opened by the S7 open operation, else by the S5 one
};
constexpr Stack kStacks[] = {
    {Protocol::kS7, true, sessions::Dialect::kS7, true},
    {Protocol::kS7Words, true, sessions::Dialect::kS7Words, true},
    {Protocol::kS5Iso, true, sessions::Dialect::kS5, false},
    {Protocol::kS5Tcp, false, sessions::Dialect::kS5, false},
};

const Stack& StackOf(Protocol protocol) {
  return *std::find_if(std::begin(kStacks), std::end(kStacks),
                       [protocol](const Stack& stack) { return stack.protocol == protocol; });
}

SetUpFailure FailureOf(SocketFailure failure) {
  switch (failure) {
    case SocketFailure::kRefused:
      return SetUpFailure::kRefused;
    case SocketFailure::kUnreachable:
      return SetUpFailure::kUnreachable;
    case SocketFailure::kTimedOut:
      return SetUpFailure::kTimedOut;
    case SocketFailure::kReset:
      return SetUpFailure::kReset;
    case SocketFailure::kNone:
    case SocketFailure::kOther:
      break;
  }
  return SetUpFailure::kSocket;
}

struct FailureWords {
  SetUpFailure failure;
  const char* words;
};
constexpr FailureWords kFailureWords[] = {
    {SetUpFailure::kNone, "no failure"},
    {SetUpFailure::kNameNotFound, "name not found"},
    {SetUpFailure::kRefused, "connection refused"},
    {SetUpFailure::kUnreachable, "unreachable"},
    {SetUpFailure::kTimedOut, "time-out"},
    {SetUpFailure::kReset, "connection reset during the set-up"},
    {SetUpFailure::kClosed, "connection closed by the station during the set-up"},
    {SetUpFailure::kIsoRefused, "ISO connection refused"},
    {SetUpFailure::kSessionRefused, "S7 set-up refused"},
    {SetUpFailure::kMalformed, "malformed answer during the set-up"},
    {SetUpFailure::kSocket, "socket error"},
};

}  // namespace

std::string Describe(const FailureReason& reason) {
  std::string text = "socket error";
  for (const FailureWords& entry : kFailureWords) {
    if (entry.failure == reason.failure) text = entry.words;
  }
  std::array<char, 64> detail{};
  if (reason.failure == SetUpFailure::kIsoRefused) {
    std::snprintf(detail.data(), detail.size(), ": reason 0x%02X, ", reason.detail);
    text.append(detail.data())
        .append(cotp::DisconnectReasonText(static_cast<uint8_t>(reason.detail)));
  } else if (reason.failure == SetUpFailure::kSessionRefused && reason.detail != 0) {
    std::snprintf(detail.data(), detail.size(), ": error 0x%04X", reason.detail);
    text.append(detail.data());
  }
  return text;
}

// The session's messages, framed by the transport onto the connection's output.
class Connection::Sink final : public sessions::MessageSink {
 public:
  explicit Sink(Connection& connection) : connection_(connection) {}
  void Send(ByteView message) override {
    Connection& c = connection_;
    if (c.outAt_ == c.out_.size()) {
      c.out_.clear();
      c.outAt_ = 0;
    }
    c.transport_->Frame(message, c.out_);
  }

 private:
  Connection& connection_;
};

Connection::Connection(Sockets& sockets, const Station* station, Role role, Bytes localTsap,
                       Bytes remoteTsap, FailureLog log)
    : sockets_(sockets), role_(role), log_(std::move(log)) {
  if (station == nullptr) return;
  station_ = *station;
  const Stack& stack = StackOf(station->route.protocol);
  wrongOpen_ = stack.s7 != (role == Role::kS7);
  transport_ = stack.iso ? MakeIsoTransport(std::move(localTsap), std::move(remoteTsap))
                         : MakeStreamTransport();
  session_ =
      sessions::MakeSession(stack.dialect, {station->route.pduBytes, station->route.parallelJobs});
}

Connection::~Connection() {
  sockets_.Close(socket_);
}

void Connection::Start() {
  sockets_.Close(socket_);
  socket_ = kNoSocket;
  out_.clear();
  outAt_ = 0;
  in_.clear();
  inAt_ = 0;
  failure_ = {};
  if (session_) session_->Reset();
  if (!station_) {
    phase_ = Phase::kNoRoute;
    return;
  }
  if (!station_->endpoint) {
    failure_ = {SetUpFailure::kNameNotFound};  // said once, when the map was read
    phase_ = Phase::kNoRoute;
    return;
  }
  if (wrongOpen_) {
    phase_ = Phase::kWrongProtocol;
    return;
  }
  Connect();
}

void Connection::Connect() {
  session_->Reset();
  const bool writePort = role_ == Role::kS5Write && station_->writeEndpoint;
  const Endpoint& endpoint = writePort ? *station_->writeEndpoint : *station_->endpoint;
  SocketFailure why = SocketFailure::kOther;
  switch (sockets_.StartConnect(endpoint, socket_, why)) {
    case Io::kDone:
      phase_ = Phase::kConnecting;
      if (!Advance()) FailSetUp(failure_);
      return;
    case Io::kWouldBlock:
      phase_ = Phase::kConnecting;
      return;
    case Io::kClosed:
    case Io::kFailed:
      FailSetUp({FailureOf(why)});
      return;
  }
}

void Connection::FailSetUp(FailureReason reason) {
  sockets_.Close(socket_);
  socket_ = kNoSocket;
  out_.clear();
  outAt_ = 0;
  in_.clear();
  inAt_ = 0;
  failure_ = reason;
  phase_ = Phase::kRetryWait;
  retryAt_ = sockets_.NowMilliseconds() + kRetryMilliseconds;
  if (log_) {
    const Route& route = station_->route;
    const uint16_t port =
        role_ == Role::kS5Write && route.writePort != 0 ? route.writePort : route.port;
    log_("station " + EthernetAddressText(route.address) + " at " + route.host + ":" +
         std::to_string(port) + " not connected: " + Describe(reason));
  }
}

void Connection::Break() {
  sockets_.Close(socket_);
  socket_ = kNoSocket;
  session_->Reset();
  phase_ = Phase::kBroken;
}

uint16_t Connection::NotReady() const {
  switch (phase_) {
    case Phase::kEstablished:
      return kOk;
    case Phase::kBroken:
      return kConnectionBroken;
    case Phase::kWrongProtocol:
      return kRejected;
    case Phase::kRetryWait:
      return failure_.failure == SetUpFailure::kIsoRefused ||
                     failure_.failure == SetUpFailure::kSessionRefused
                 ? kRejected
                 : kNotEstablished;
    case Phase::kNoRoute:
    case Phase::kConnecting:
    case Phase::kTransportOpening:
    case Phase::kSessionOpening:
      break;
  }
  return kNotEstablished;
}

bool Connection::SettingUp() const {
  return phase_ == Phase::kConnecting || phase_ == Phase::kTransportOpening ||
         phase_ == Phase::kSessionOpening;
}

void Connection::OpenSession() {
  Sink sink(*this);
  session_->Open(sink);
  phase_ = session_->Up() ? Phase::kEstablished : Phase::kSessionOpening;
}

bool Connection::Advance() {
  if (phase_ == Phase::kConnecting) {
    // The socket turns writable when the connect has finished, well or not.
    if (!sockets_.Wait(socket_, true, 0)) return true;
    SocketFailure why = SocketFailure::kOther;
    const Io connected = sockets_.FinishConnect(socket_, why);
    if (connected == Io::kWouldBlock) return true;
    if (connected != Io::kDone) {
      failure_ = {FailureOf(why)};
      return false;
    }
    if (!transport_->Open(out_)) {
      phase_ = Phase::kTransportOpening;
    } else {
      OpenSession();
      if (phase_ == Phase::kEstablished && out_.empty()) return true;
    }
  }
  if (!Flush()) {
    failure_ = {SetUpFailure::kReset};
    return false;
  }
  // What came before a close counts: a station that refuses sends its disconnect and closes.
  const bool open = ReadInput();
  return TakeInput() && open;
}

uint16_t Connection::State() {
  if (phase_ == Phase::kRetryWait && sockets_.NowMilliseconds() >= retryAt_) Connect();
  while (SettingUp()) {
    if (!Advance()) {
      FailSetUp(failure_);
      break;
    }
    if (!SettingUp()) break;
    const bool write = phase_ == Phase::kConnecting || outAt_ < out_.size();
    if (!sockets_.Wait(socket_, write, kPauseMilliseconds)) break;
  }
  return NotReady();
}

bool Connection::Flush() {
  while (outAt_ < out_.size()) {
    size_t sent = 0;
    const Io io = sockets_.SendSome(socket_, out_.data() + outAt_, out_.size() - outAt_, sent);
    if (io == Io::kWouldBlock) return true;
    if (io != Io::kDone) return false;
    outAt_ += sent;
  }
  return true;
}

bool Connection::ReadInput() {
  if (inAt_ > 0 && inAt_ == in_.size()) {
    in_.clear();
    inAt_ = 0;
  }
  // Received into a buffer of its own, so that no receive clears a chunk's worth of in_ first.
  if (!chunk_) chunk_ = std::make_unique_for_overwrite<uint8_t[]>(kReadChunkBytes);
  for (;;) {
    size_t received = 0;
    const Io io = sockets_.ReceiveSome(socket_, chunk_.get(), kReadChunkBytes, received);
    in_.insert(in_.end(), chunk_.get(), chunk_.get() + received);
    if (io == Io::kWouldBlock) return true;
    if (io != Io::kDone) {
      failure_ = {io == Io::kClosed ? SetUpFailure::kClosed : SetUpFailure::kReset};
      return false;
    }
    if (received < kReadChunkBytes) return true;
  }
}

bool Connection::TakeInput() {
  bool taken = true;
  while (taken) {
    const Arrival arrival =
        transport_->Next(ByteView(in_.data() + inAt_, in_.size() - inAt_), *session_);
    if (arrival.kind == Arrival::Kind::kIncomplete) break;
    taken = TakeArrival(arrival);
    if (taken) inAt_ += arrival.used;
  }
  if (inAt_ == in_.size()) {
    in_.clear();
    inAt_ = 0;
  }
  return taken;
}

bool Connection::TakeArrival(const Arrival& arrival) {
  switch (arrival.kind) {
    case Arrival::Kind::kIncomplete:
    case Arrival::Kind::kTaken:
      return true;
    case Arrival::Kind::kOpened: {
      if (phase_ != Phase::kTransportOpening) break;
      OpenSession();
      if (Flush()) return true;
      failure_ = {SetUpFailure::kReset};
      return false;
    }
    case Arrival::Kind::kRefused:
      // A disconnect answering the request refuses the station; later, it only ends the set-up.
      failure_ = phase_ == Phase::kTransportOpening
                     ? FailureReason{SetUpFailure::kIsoRefused, arrival.reason}
                     : FailureReason{SetUpFailure::kClosed};
      return false;
    case Arrival::Kind::kMessage: {
      if (phase_ != Phase::kSessionOpening && phase_ != Phase::kEstablished) break;
      const sessions::Taken taken = session_->Take(arrival.message);
      if (taken == sessions::Taken::kRefused) {
        failure_ = {SetUpFailure::kSessionRefused, session_->refusal()};
        return false;
      }
      if (taken == sessions::Taken::kBroken) break;
      if (phase_ == Phase::kSessionOpening && session_->Up()) phase_ = Phase::kEstablished;
      return true;
    }
    case Arrival::Kind::kMalformed:
      break;
  }
  failure_ = {SetUpFailure::kMalformed};
  return false;
}

uint16_t Connection::SendRead(const RequestRecord& request) {
  return Send(request, false, nullptr);
}

uint16_t Connection::SendWrite(const RequestRecord& request, const uint8_t* buffer) {
  return Send(request, true, buffer);
}

uint16_t Connection::Send(const RequestRecord& request, bool write, const uint8_t* buffer) {
  if (const uint16_t notReady = NotReady(); notReady != kOk) return notReady;
  // A station that closed or reset the connection since the last exchange: say so now rather
  // than after a request into the void.
  if (!ReadInput() || !TakeInput()) {
    Break();
    return kConnectionBroken;
  }
  Sink sink(*this);
  if (const uint16_t refused = session_->Send(request, write, buffer, sink); refused != kOk) {
    return refused;
  }
  if (!Flush()) {
    Break();
    return kConnectionBroken;
  }
  return kOk;
}

void Connection::Collect(bool write) {
  // The wait comes first: poll() returns at once when something has arrived, whereas a receive
  // right after the request would mostly find nothing and cost a system call. What came earlier
  // has been taken already: every operation that reads the socket takes all it completes.
  while (sockets_.Wait(socket_, outAt_ < out_.size(), kPauseMilliseconds)) {
    if (!ReadInput() || !TakeInput()) {
      Break();
      return;
    }
    if (!session_->Awaiting(write)) return;
    // The answers just taken made room for further requests: they go out before the wait, or
    // the station would have nothing to answer within it.
    Sink sink(*this);
    session_->SendMore(sink);
    if (!Flush()) {
      Break();
      return;
    }
  }
}

uint16_t Connection::Deliver(bool write, uint16_t& statusWord, std::span<uint8_t> buffer) {
  if (const uint16_t notReady = NotReady(); notReady != kOk) return notReady;
  if (session_->Awaiting(write)) Collect(write);
  if (const uint16_t notReady = NotReady(); notReady != kOk) return notReady;
  return session_->Deliver(write, statusWord, buffer);
}

uint16_t Connection::ReceiveRead(uint32_t bufferSize, uint8_t* buffer, uint16_t& statusWord) {
  return Deliver(false, statusWord, {buffer, buffer == nullptr ? 0 : bufferSize});
}

uint16_t Connection::ReceiveWriteAcknowledge(uint16_t& statusWord) {
  return Deliver(true, statusWord, {});
}

}  // namespace tav::h1tcp
