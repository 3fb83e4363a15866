#include "frames.h"

#include <algorithm>

#include "plc_sessions/cotp.h"

namespace tav::h1tcp {

namespace {

constexpr cotp::Format kClass0;

void AppendPacket(Bytes& frames, const cotp::Tpdu& tpdu) {
  AppendTpktPacket(frames, cotp::Encode(tpdu, kClass0));
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
