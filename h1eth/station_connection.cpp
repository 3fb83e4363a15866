#include "station_connection.h"

#include <array>
#include <cstdio>
#include <utility>

#include "results.h"
#include "vocabulary/ethernet_address.h"

namespace tav::h1eth {

std::string DescribeTransportEnd(const TransportConnection& connection) {
  std::array<char, 32> code{};
  switch (connection.state()) {
    case ConnectionState::kRefused:
      std::snprintf(code.data(), code.size(), "reason 0x%02X, ", connection.disconnectReason());
      return std::string("ISO connection refused: ") + code.data() +
             cotp::DisconnectReasonText(connection.disconnectReason());
    case ConnectionState::kBroken:
      break;
    case ConnectionState::kClosed:
      return "released";
    case ConnectionState::kConnecting:
    case ConnectionState::kOpen:
    case ConnectionState::kReleasing:
      return ConnectionStateText(connection.state());
  }
  std::string text = BreakCauseText(connection.breakCause());
  if (connection.breakCause() == BreakCause::kDisconnectedByPeer) {
    std::snprintf(code.data(), code.size(), ": reason 0x%02X, ", connection.disconnectReason());
    text.append(code.data()).append(cotp::DisconnectReasonText(connection.disconnectReason()));
  } else if (connection.breakCause() == BreakCause::kErrorFromPeer) {
    std::snprintf(code.data(), code.size(), ": cause 0x%02X", connection.rejectCause());
    text.append(code.data());
  }
  return text;
}

// The session's messages, each one TSDU on the transport connection.
class StationConnection::Sink final : public sessions::MessageSink {
 public:
  Sink(StationConnection& connection, Microseconds now) : connection_(connection), now_(now) {}
  void Send(ByteView message) override {
    TransportConnection* transport = connection_.Transport();
    if (transport == nullptr || !transport->Send(message, now_)) connection_.sinkFailed_ = true;
  }

 private:
  StationConnection& connection_;
  Microseconds now_;
};

StationConnection::StationConnection(TransportLayer& layer, StationAddressing addressing,
                                     sessions::Dialect dialect,
                                     const sessions::SessionSettings& session, ConnectionLog log)
    : layer_(layer),
      addressing_(std::move(addressing)),
      log_(std::move(log)),
      session_(sessions::MakeSession(dialect, session)) {}

StationConnection::~StationConnection() {
  // The reference stays frozen from the last moment the connection knew of.
  if (id_) layer_.Forget(*id_, lastNow_);
}

TransportConnection* StationConnection::Transport() {
  return id_ ? layer_.Connection(*id_) : nullptr;
}

const TransportConnection* StationConnection::transport() const {
  return id_ ? layer_.Connection(*id_) : nullptr;
}

std::string StationConnection::StationText() const {
  return "station " + EthernetAddressText(addressing_.endpoints.remote) + " TSAP " +
         HexText(addressing_.remoteTsap);
}

void StationConnection::Start(Microseconds now) {
  lastNow_ = now;
  if (id_) layer_.Forget(*id_, now);
  id_.reset();
  session_->Reset();
  sinkFailed_ = false;
  startedAt_ = now;
  id_ = layer_.Connect(addressing_.endpoints, addressing_.localTsap, addressing_.remoteTsap, now);
  if (!id_) {
    // Every reference is in use or frozen: tried again after the pause.
    phase_ = Phase::kRetryWait;
    retryAt_ = now + kSetUpRetryDelay;
    return;
  }
  phase_ = Phase::kConnecting;
}

void StationConnection::FailSetUp(const std::string& why, Microseconds now, bool refused) {
  if (id_) layer_.Forget(*id_, now);
  id_.reset();
  session_->Reset();
  phase_ = refused ? Phase::kRejected : Phase::kRetryWait;
  retryAt_ = now + kSetUpRetryDelay;
  if (log_) log_(StationText() + " not connected: " + why);
}

void StationConnection::Break(const std::string& why) {
  session_->Reset();
  phase_ = Phase::kBroken;
  if (log_) log_(StationText() + " connection broken: " + why);
}

void StationConnection::Advance(Microseconds now) {
  lastNow_ = now;
  if (phase_ == Phase::kRetryWait && now >= retryAt_) Start(now);
  if (phase_ != Phase::kConnecting && phase_ != Phase::kSessionOpening &&
      phase_ != Phase::kEstablished) {
    return;
  }
  TransportConnection* transport = Transport();
  const ConnectionState state = transport ? transport->state() : ConnectionState::kBroken;
  if (state == ConnectionState::kConnecting) return;
  if (state != ConnectionState::kOpen) {
    const std::string why = transport ? DescribeTransportEnd(*transport) : "connection lost";
    if (phase_ == Phase::kEstablished) {
      Break(why);
    } else {
      FailSetUp(why, now, state == ConnectionState::kRefused);
    }
    return;
  }
  if (phase_ == Phase::kConnecting) {
    Sink sink(*this, now);
    session_->Open(sink);
    phase_ = session_->Up() ? Phase::kEstablished : Phase::kSessionOpening;
  }
  TakeMessages(now);
  if (sinkFailed_) {
    sinkFailed_ = false;
    if (phase_ == Phase::kEstablished) {
      Break("the transport cannot take the request");
    } else {
      FailSetUp("the transport cannot take the set-up", now, false);
    }
  }
}

void StationConnection::TakeMessages(Microseconds now) {
  TransportConnection* transport = Transport();
  while (transport != nullptr) {
    std::optional<Bytes> message = transport->Receive();
    if (!message) break;
    if (phase_ == Phase::kEstablished && !session_->Awaiting(false) && !session_->Awaiting(true)) {
      ++strayMessages_;
      continue;
    }
    const sessions::Taken taken = session_->Take(*message);
    if (taken == sessions::Taken::kRefused) {
      std::array<char, 32> code{};
      std::snprintf(code.data(), code.size(), ": error 0x%04X", session_->refusal());
      FailSetUp(std::string("S7 set-up refused") + (session_->refusal() ? code.data() : ""), now,
                true);
      return;
    }
    if (taken == sessions::Taken::kBroken) {
      if (phase_ == Phase::kEstablished) {
        Break("malformed or unexpected answer");
      } else {
        FailSetUp("malformed answer during the set-up", now, false);
      }
      return;
    }
    if (phase_ == Phase::kSessionOpening && session_->Up()) phase_ = Phase::kEstablished;
  }
  if (phase_ == Phase::kEstablished) {
    Sink sink(*this, now);
    session_->SendMore(sink);
  }
}

uint16_t StationConnection::State(Microseconds now) {
  Advance(now);
  switch (phase_) {
    case Phase::kEstablished:
      return kOk;
    case Phase::kRejected:
      return kRejected;
    case Phase::kBroken:
      return kConnectionBroken;
    case Phase::kIdle:
    case Phase::kRetryWait:
    case Phase::kConnecting:
    case Phase::kSessionOpening:
      break;
  }
  return kNotEstablished;
}

uint16_t StationConnection::Send(const RequestRecord& request, bool write, const uint8_t* buffer,
                                 Microseconds now) {
  if (const uint16_t notReady = State(now); notReady != kOk) return notReady;
  Sink sink(*this, now);
  if (const uint16_t refused = session_->Send(request, write, buffer, sink); refused != kOk) {
    return refused;
  }
  if (sinkFailed_) {
    sinkFailed_ = false;
    return kBusy;
  }
  return kOk;
}

uint16_t StationConnection::SendRead(const RequestRecord& request, Microseconds now) {
  return Send(request, false, nullptr, now);
}

uint16_t StationConnection::SendWrite(const RequestRecord& request, const uint8_t* buffer,
                                      Microseconds now) {
  return Send(request, true, buffer, now);
}

uint16_t StationConnection::Deliver(bool write, uint16_t& statusWord, std::span<uint8_t> buffer,
                                    Microseconds now) {
  if (const uint16_t notReady = State(now); notReady != kOk) return notReady;
  return session_->Deliver(write, statusWord, buffer);
}

uint16_t StationConnection::ReceiveRead(std::span<uint8_t> buffer, uint16_t& statusWord,
                                        Microseconds now) {
  return Deliver(false, statusWord, buffer, now);
}

uint16_t StationConnection::ReceiveWriteAcknowledge(uint16_t& statusWord, Microseconds now) {
  return Deliver(true, statusWord, {}, now);
}

bool StationConnection::Awaiting(bool write) const {
  return phase_ == Phase::kEstablished && session_->Awaiting(write);
}

bool StationConnection::SettingUp(Microseconds now, Microseconds within) const {
  return (phase_ == Phase::kConnecting || phase_ == Phase::kSessionOpening) &&
         now - startedAt_ < within;
}

}  // namespace tav::h1eth
