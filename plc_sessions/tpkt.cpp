#include "plc_sessions/tpkt.h"

#include <algorithm>

#include "plc_sessions/cotp.h"
#include "vocabulary/byte_order.h"

namespace tav::sessions {

namespace {

constexpr uint8_t kTpktVersion = 3;

void AppendTpktHeader(Bytes& frame, size_t bytes) {
  const size_t at = frame.size();
  frame.resize(at + kTpktHeaderBytes);
  frame[at] = kTpktVersion;
  frame[at + 1] = 0;
  StoreBe16(&frame[at + 2], static_cast<uint16_t>(bytes + kTpktHeaderBytes));
}

}  // namespace

void AppendTpktPacket(Bytes& frames, ByteView tpdu) {
  AppendTpktHeader(frames, tpdu.size());
  frames.insert(frames.end(), tpdu.begin(), tpdu.end());
}

Bytes DataTpdus(ByteView payload, size_t tpduBytes) {
  const size_t room = tpduBytes > kDataTpduHeaderBytes ? tpduBytes - kDataTpduHeaderBytes : 1;
  Bytes frames;
  frames.reserve(payload.size() + (payload.size() / room + 1) * (kTpktHeaderBytes + 3));
  size_t at = 0;
  do {
    const size_t part = std::min(room, payload.size() - at);
    const bool last = at + part == payload.size();
    AppendTpktHeader(frames, kDataTpduHeaderBytes + part);
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

}  // namespace tav::sessions
