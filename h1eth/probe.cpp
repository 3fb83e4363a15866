#include "probe.h"

#include <algorithm>

namespace tav::h1eth {

namespace {

// The longest the probe waits for one frame before it looks at the timers again.
constexpr Microseconds kLongestWait = 10'000;

// Hands frames from the link to the layer and runs its timers until `done` holds or no timer is
// left to run.
template <typename Done>
void RunUntil(Link& link, TransportLayer& layer, const std::function<Microseconds()>& clock,
              Done done) {
  FrameBytes frame;
  while (!done()) {
    const Microseconds deadline = layer.NextDeadline();
    if (deadline == kNever) return;
    const Microseconds wait = std::clamp(deadline - clock(), Microseconds{0}, kLongestWait);
    if (link.Receive(frame, wait)) layer.TakeFrame(frame, clock());
    layer.Tick(clock());
  }
}

}  // namespace

ProbeResult Probe(Link& link, const EthernetAddress& station, ByteView localTsap,
                  ByteView remoteTsap, const TransportSettings& settings,
                  const std::function<Microseconds()>& clock) {
  TransportLayer layer(settings, [&link](ByteView frame) { link.Send(frame); });
  layer.AddLocalAddress(link.Address());
  const Microseconds start = clock();
  ProbeResult result;
  const std::optional<ConnectionId> id =
      layer.Connect({link.Address(), station}, localTsap, remoteTsap, start);
  if (!id) {
    result.answer = ProbeResult::Answer::kBroken;
    return result;
  }
  const TransportConnection& connection = *layer.Connection(*id);
  RunUntil(link, layer, clock,
           [&connection] { return connection.state() != ConnectionState::kConnecting; });
  result.answeredAfter = clock() - start;
  result.localReference = connection.localReference();
  result.remoteReference = connection.remoteReference();
  switch (connection.state()) {
    case ConnectionState::kOpen:
      result.answer = ProbeResult::Answer::kConfirmed;
      result.tpduBytes = connection.tpduBytes();
      result.checksum = connection.checksum();
      result.extendedNumbering = connection.numbering() == cotp::Numbering::kExtended;
      layer.Connection(*id)->Release(clock());
      RunUntil(link, layer, clock,
               [&connection] { return connection.state() != ConnectionState::kReleasing; });
      return result;
    case ConnectionState::kRefused:
      result.answer = ProbeResult::Answer::kRefused;
      result.reason = connection.disconnectReason();
      return result;
    default:
      break;
  }
  result.cause = connection.breakCause();
  if (result.cause == BreakCause::kNoAnswer) {
    result.answer = ProbeResult::Answer::kSilent;
    result.connectionRequests = settings.maxTransmissions;
  } else {
    result.answer = ProbeResult::Answer::kBroken;
  }
  return result;
}

}  // namespace tav::h1eth
