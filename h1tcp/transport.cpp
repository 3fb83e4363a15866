#include "transport.h"

#include <utility>

namespace tav::h1tcp {

namespace {

constexpr size_t kMaxMessageBytes = 64 * 1024;  // no answer of ours is longer
constexpr size_t kDefaultTpduBytes = 1024;

Arrival Just(Arrival::Kind kind) {
  Arrival arrival;
  arrival.kind = kind;
  return arrival;
}

class IsoTransport final : public Transport {
 public:
  IsoTransport(Bytes localTsap, Bytes remoteTsap)
      : localTsap_(std::move(localTsap)), remoteTsap_(std::move(remoteTsap)) {}

  bool Open(Bytes& out) override {
    opened_ = false;
    tsdu_.clear();
    const Bytes request = ConnectionRequest(localTsap_, remoteTsap_, 1);
    out.insert(out.end(), request.begin(), request.end());
    return false;
  }

  void Frame(ByteView message, Bytes& out) override {
    const Bytes frames = DataTpdus(message, tpduBytes_);
    out.insert(out.end(), frames.begin(), frames.end());
  }

  Arrival Next(ByteView waiting, const sessions::Session& /*session*/) override {
    const std::optional<size_t> size = TpktPacketBytes(waiting);
    if (!size) return Just(Arrival::Kind::kMalformed);
    if (*size == 0 || *size > waiting.size()) return Just(Arrival::Kind::kIncomplete);
    const std::optional<Tpdu> tpdu = ParseTpdu(waiting.first(*size));
    if (!tpdu) return Just(Arrival::Kind::kMalformed);
    Arrival arrival = Just(Arrival::Kind::kTaken);
    arrival.used = *size;
    switch (tpdu->kind) {
      case TpduKind::kConnectionConfirm:
        if (opened_) return Just(Arrival::Kind::kMalformed);
        if (tpdu->maxTpduBytes != 0) tpduBytes_ = tpdu->maxTpduBytes;
        opened_ = true;
        arrival.kind = Arrival::Kind::kOpened;
        return arrival;
      case TpduKind::kDisconnect:
        arrival.kind = Arrival::Kind::kRefused;
        arrival.reason = tpdu->reason;
        return arrival;
      case TpduKind::kData:
        if (!opened_) return Just(Arrival::Kind::kMalformed);
        if (tsdu_.size() + tpdu->payload.size() > kMaxMessageBytes) {
          return Just(Arrival::Kind::kMalformed);
        }
        if (tpdu->endOfTsdu && tsdu_.empty()) {
          // The whole message in one TPDU, as nearly every answer comes: no copy.
          arrival.kind = Arrival::Kind::kMessage;
          arrival.message = tpdu->payload;
          return arrival;
        }
        tsdu_.insert(tsdu_.end(), tpdu->payload.begin(), tpdu->payload.end());
        if (tpdu->endOfTsdu) {
          message_ = std::move(tsdu_);
          tsdu_.clear();
          arrival.kind = Arrival::Kind::kMessage;
          arrival.message = message_;
        }
        return arrival;
      case TpduKind::kOther:
        return arrival;
    }
    return arrival;
  }

 private:
  Bytes localTsap_;
  Bytes remoteTsap_;
  bool opened_ = false;
  size_t tpduBytes_ = kDefaultTpduBytes;
  Bytes tsdu_;     // the message whose data TPDUs are arriving
  Bytes message_;  // the last message put together from several TPDUs
};

class StreamTransport final : public Transport {
 public:
  bool Open(Bytes& /*out*/) override { return true; }

  void Frame(ByteView message, Bytes& out) override {
    out.insert(out.end(), message.begin(), message.end());
  }

  Arrival Next(ByteView waiting, const sessions::Session& session) override {
    const std::optional<size_t> size = session.MessageBytes(waiting);
    if (!size) return Just(Arrival::Kind::kMalformed);
    if (*size == 0) return Just(Arrival::Kind::kIncomplete);
    Arrival arrival = Just(Arrival::Kind::kMessage);
    arrival.used = *size;
    arrival.message = waiting.first(*size);
    return arrival;
  }
};

}  // namespace

std::unique_ptr<Transport> MakeIsoTransport(Bytes localTsap, Bytes remoteTsap) {
  return std::make_unique<IsoTransport>(std::move(localTsap), std::move(remoteTsap));
}

std::unique_ptr<Transport> MakeStreamTransport() {
  return std::make_unique<StreamTransport>();
}

}  // namespace tav::h1tcp
