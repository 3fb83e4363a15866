// tavhost gateway's client side: any bytes from a client, in any pieces, into the state machine
// of an S7, fetch/write or fetch/write-ISO route, read-only or not, the station's connection
// opening after the first piece and answering each relayed message. Beyond not crashing: every
// TSDU relayed is bounded, and a read-only route relays nothing but reads (S7 setup, read var,
// SZL and block reads; fetch/write fetches, on the read connection).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "gateway/client_session.h"
#include "plc_sessions/frames.h"

namespace {

using tavhost::gateway::Channel;
using tavhost::gateway::ClientSession;
using tavhost::gateway::Protocol;

void Check(bool holds) {
  if (!holds) std::abort();
}

void CheckRelays(ClientSession& session, Protocol protocol, bool readOnly) {
  for (const tavhost::gateway::Relay& relay : session.toStation()) {
    if (protocol == Protocol::kS7) {
      Check(relay.tsdu.size() <= tavhost::gateway::kLargestS7Pdu);
      Check(relay.channel == Channel::kMain);
      if (readOnly) Check(tavhost::gateway::S7OnlyReads(relay.tsdu));
      continue;
    }
    Check(relay.tsdu.size() <= tavhost::gateway::kLargestFetchWrite);
    const auto request = tav::sessions::ParseS5RequestHeader(
        std::span(relay.tsdu).first(tav::sessions::kS5HeaderBytes));
    Check(request.has_value());
    const bool write = request->opcode == tav::sessions::S5Opcode::kWrite;
    Check(relay.channel == (write ? Channel::kWrite : Channel::kMain));
    if (readOnly) Check(!write);
  }
  session.toStation().clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto protocol = static_cast<Protocol>(data[0] % 3);
  const bool readOnly = (data[0] & 0x80) != 0;
  ClientSession session(protocol, readOnly);
  size_t at = 1;
  bool first = true;
  // Pieces: a length octet, then that many bytes.
  while (at < size && !session.ended()) {
    const size_t piece = std::min<size_t>(size_t{data[at]} + 1, size - at - 1);
    session.TakeFromClient(std::span(data + at + 1, piece));
    at += 1 + piece;
    if (first) {
      session.TakeConnectRequest();
      session.StationOpen();
      first = false;
    }
    const bool relayed = !session.toStation().empty();
    CheckRelays(session, protocol, readOnly);
    if (relayed) session.TakeFromStation(std::span(data, std::min<size_t>(size, 64)));
    Check(session.toClient().size() < (size_t{1} << 24));
    session.toClient().clear();
  }
  return 0;
}
