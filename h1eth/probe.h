// What a commissioning engineer asks first of an H1 station: does it answer a connection request
// to this TSAP, and with what. Probe opens one class 4 transport connection over a link and
// reports the station's answer: CC with what was agreed (TPDU size, checksum, numbering, the two
// references), DR with its reason, or silence after every retransmission of the CR. A confirmed
// connection is released again (DR, and the DC awaited for a while).
#pragma once

#include <cstdint>
#include <functional>

#include "h1eth/class4.h"
#include "link.h"

namespace tav::h1eth {

struct ProbeResult {
  enum class Answer : uint8_t {
    kConfirmed,  // CC
    kRefused,    // DR answering the CR: `reason`
    kSilent,     // no answer to any of the CRs
    kBroken,     // anything else that ended the attempt: `cause`
  };
  Answer answer = Answer::kSilent;
  size_t tpduBytes = 0;
  bool checksum = false;
  bool extendedNumbering = false;
  uint16_t localReference = 0;
  uint16_t remoteReference = 0;
  uint8_t reason = 0;  // kRefused: the DR's reason
  BreakCause cause = BreakCause::kNone;
  int connectionRequests = 0;  // kSilent: how many CRs went unanswered
  Microseconds answeredAfter = 0;
};

// `clock` gives the time on the link's clock (the tests', or the steady clock).
ProbeResult Probe(Link& link, const EthernetAddress& station, ByteView localTsap,
                  ByteView remoteTsap, const TransportSettings& settings,
                  const std::function<Microseconds()>& clock);

}  // namespace tav::h1eth
