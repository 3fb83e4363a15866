#include "frames.h"

#include <algorithm>

#include "plc_sessions/cotp.h"
#include "vocabulary/byte_order.h"

namespace tav::h1tcp {

namespace {

constexpr uint8_t kTpktVersion = 3;
constexpr cotp::Format kClass0;

void AppendTpkt(Bytes& frame, size_t bytes) {
  const size_t at = frame.size();
  frame.resize(at + kTpktHeaderBytes);
  frame[at] = kTpktVersion;
  frame[at + 1] = 0;
  StoreBe16(&frame[at + 2], static_cast<uint16_t>(bytes + kTpktHeaderBytes));
}

void AppendPacket(Bytes& frames, const cotp::Tpdu& tpdu) {
  const Bytes encoded = cotp::Encode(tpdu, kClass0);
  AppendTpkt(frames, encoded.size());
  frames.insert(frames.end(), encoded.begin(), encoded.end());
}

}  // namespace

Bytes ConnectionRequest(ByteView localTsap, ByteView remoteTsap, uint16_t sourceReference) {
  cotp::Tpdu request;
  request.kind = cotp::Kind::kConnectionRequest;
  request.sourceReference = sourceReference;
  request.parameters.tpduSizeCode = kTpduSizeCode;
  request.parameters.callingTsap.emplace(localTsap.begin(), localTsap.end());
  request.parameters.calledTsap.emplace(remoteTsap.begin(), remoteTsap.end());
  Bytes frame;
  AppendPacket(frame, request);
  return frame;
}

Bytes DataTpdus(ByteView payload, size_t tpduBytes) {
  const size_t room = tpduBytes > kDataTpduHeaderBytes ? tpduBytes - kDataTpduHeaderBytes : 1;
  Bytes frames;
  frames.reserve(payload.size() + (payload.size() / room + 1) * (kTpktHeaderBytes + 3));
  size_t at = 0;
  do {
    const size_t part = std::min(room, payload.size() - at);
    const bool last = at + part == payload.size();
    AppendTpkt(frames, kDataTpduHeaderBytes + part);
    frames.push_back(2);
    frames.push_back(static_cast<uint8_t>(cotp::Kind::kData));
    frames.push_back(last ? 0x80 : 0);
    frames.insert(frames.end(), payload.begin() + static_cast<ptrdiff_t>(at),
                  payload.begin() + static_cast<ptrdiff_t>(at + part));
    at += part;
  } while (at < payload.size());
  return frames;
}

std::optional<size_t> TpktPacketBytes(ByteView bytes) {
  if (bytes.size() < kTpktHeaderBytes) return 0;
  const size_t length = LoadBe16(&bytes[2]);
  // A packet holds at least a TPDU's length indicator and code.
  if (bytes[0] != kTpktVersion || length < kTpktHeaderBytes + 2) return std::nullopt;
  return length;
}

std::optional<Tpdu> ParseTpdu(ByteView packet) {
  if (packet.size() < kTpktHeaderBytes + 2) return std::nullopt;
  const ByteView tpdu = packet.subspan(kTpktHeaderBytes);
  const size_t headerBytes = size_t{tpdu[0]} + 1;
  if (headerBytes < 2 || headerBytes > tpdu.size()) return std::nullopt;
  Tpdu parsed;
  const auto kind = static_cast<cotp::Kind>(tpdu[1] & 0xF0);
  if (kind == cotp::Kind::kDisconnectRequest) {
    // Any disconnect ends the connection; a whole one says why.
    parsed.kind = TpduKind::kDisconnect;
    if (const auto decoded = cotp::Decode(tpdu, kClass0)) parsed.reason = decoded->reason;
    return parsed;
  }
  if (kind != cotp::Kind::kData && kind != cotp::Kind::kConnectionConfirm) return parsed;
  const std::optional<cotp::Tpdu> decoded = cotp::Decode(tpdu, kClass0);
  if (!decoded) return std::nullopt;
  if (kind == cotp::Kind::kData) {
    parsed.kind = TpduKind::kData;
    parsed.endOfTsdu = decoded->endOfTsdu;
    parsed.payload = decoded->userData;
  } else {
    parsed.kind = TpduKind::kConnectionConfirm;
    if (decoded->parameters.tpduSizeCode) {
      parsed.maxTpduBytes = cotp::TpduBytesOf(*decoded->parameters.tpduSizeCode);
    }
  }
  return parsed;
}

}  // namespace tav::h1tcp
