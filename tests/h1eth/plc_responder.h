// The PLC's side of the messages the driver's sessions send, answered from a simulated station's
// memory (sim/station.h): S5 fetch/write requests on S5 stations; S7 setup, read var and write
// var on S7 and type-6 stations (whose data blocks of words the S7 job addresses by byte, high
// byte first, as the PLC holds them).
#pragma once

#include <optional>

#include "plc_sessions/frames.h"
#include "sim/station.h"

namespace tav::h1eth::test {

using sessions::Bytes;
using sessions::ByteView;

inline constexpr uint16_t kStationPduBytes = 960;

// The answer to one whole message; nothing for a message the station cannot parse.
std::optional<Bytes> AnswerMessage(sim::Station& station, ByteView message);

}  // namespace tav::h1eth::test
