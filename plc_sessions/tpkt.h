// TPKT (RFC 1006): the packets that carry class 0 TPDUs of the transport codec (cotp.h) over a
// TCP stream, each opening with its version and its whole length. The client side (libh1tcp)
// and the server side (tavhost's gateway) frame and split the stream with the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tav::sessions {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

inline constexpr size_t kTpktHeaderBytes = 4;
inline constexpr size_t kDataTpduHeaderBytes = 3;  // length indicator, code, number with EOT
// The longest packet the 16-bit length can say.
inline constexpr size_t kLargestTpktPacket = 0xFFFF;

// Appends one TPKT packet holding `tpdu`.
void AppendTpktPacket(Bytes& frames, ByteView tpdu);
// `payload` in data TPDUs of at most `tpduBytes` bytes each, the last one marked end of TSDU.
Bytes DataTpdus(ByteView payload, size_t tpduBytes);
// The whole TPKT packet's length once its header is in `bytes`; 0 while the header is
// incomplete; nullopt when the header is no TPKT header.
std::optional<size_t> TpktPacketBytes(ByteView bytes);

}  // namespace tav::sessions
