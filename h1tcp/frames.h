// The frames of ISO on TCP (RFC 1006): TPKT packets, each holding one class 0 TPDU of the
// transport codec (plc_sessions/cotp.h): the connection request, its confirm or disconnect, and
// the data TPDUs that carry a session's messages. The sessions' own messages (S7, S5 fetch/write)
// are plc_sessions/frames.h, the TPKT framing plc_sessions/tpkt.h, seen here under libh1tcp's
// names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "plc_sessions/frames.h"
#include "plc_sessions/tpkt.h"
#include "results.h"

namespace tav::h1tcp {

using namespace tav::sessions;  // NOLINT(google-build-using-namespace): the dialects' messages

// ISO on TCP.
inline constexpr uint16_t kIsoTcpPort = 102;
inline constexpr uint8_t kTpduSizeCode = 0x0A;     // 1,024-byte TPDUs, asked for in the request

// A connection request with the calling (local) and called (remote) TSAPs.
Bytes ConnectionRequest(ByteView localTsap, ByteView remoteTsap, uint16_t sourceReference);
enum class TpduKind : uint8_t { kConnectionConfirm, kDisconnect, kData, kOther };
struct Tpdu {
  TpduKind kind = TpduKind::kOther;
  bool endOfTsdu = false;   // data: the last TPDU of a message
  ByteView payload;         // data: the user data
  size_t maxTpduBytes = 0;  // connection confirm: the TPDU size agreed, 0 when not given
  uint8_t reason = 0;       // disconnect: its reason, 0 when the TPDU carries none
};
// One whole TPKT packet. TPDUs of kinds a class 0 client does not take are kOther.
std::optional<Tpdu> ParseTpdu(ByteView packet);

}  // namespace tav::h1tcp
