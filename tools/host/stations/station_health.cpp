#include "stations/station_health.h"

#include <fmt/format.h>

#include <algorithm>

namespace tavhost {

namespace {

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

std::string_view StationStateName(StationState state) {
  switch (state) {
    case StationState::kUp:
      return "up";
    case StationState::kDown:
      return "down";
    case StationState::kUnknown:
      break;
  }
  return "-";
}

StationHealth::StationHealth(Reconnect reconnect, Say say, Clock clock, Backoff backoff)
    : reconnect_(std::move(reconnect)),
      say_(std::move(say)),
      clock_(std::move(clock)),
      backoff_(backoff) {}

StationState StationHealth::State(int station) const {
  return Tracked(station) ? At(station).state : StationState::kUnknown;
}

std::string StationHealth::Reason(int station) const {
  return Tracked(station) ? At(station).reason : std::string();
}

bool StationHealth::BeforeTransfer(int station) {
  if (!Tracked(station)) return true;
  Station& entry = At(station);
  if (entry.state != StationState::kDown) return true;
  if (clock_() < entry.nextAttempt) return false;
  ++entry.attempts;
  reconnect_(station);
  return true;
}

void StationHealth::AfterTransfer(int station, bool noConnection, std::string_view reason) {
  if (!Tracked(station)) return;
  Station& entry = At(station);
  const auto now = clock_();
  if (!noConnection) {
    if (entry.state == StationState::kDown) {
      say_(fmt::format("station {:02} is back up after {} reconnect{} ({:.1f} s down)", station,
                       entry.attempts, entry.attempts == 1 ? "" : "s",
                       Seconds(now - entry.downSince)));
    }
    entry = Station{};
    entry.state = StationState::kUp;
    return;
  }
  if (entry.state != StationState::kDown) {
    entry.state = StationState::kDown;
    entry.reason = reason;
    entry.downSince = now;
    entry.attempts = 0;
    entry.delay = backoff_.first;
    say_(
        fmt::format("station {:02} is down: {}; reconnecting (command 2) in {:.1f} s, then at "
                    "doubling intervals up to {:.0f} s",
                    station, reason, Seconds(entry.delay), Seconds(backoff_.longest)));
  } else {
    // A reconnect that did not bring the station back: wait twice as long for the next. The
    // reason shown is the newest; it was said when the station went down.
    entry.reason = reason;
    entry.delay = std::min(entry.delay * 2, backoff_.longest);
  }
  entry.nextAttempt = now + entry.delay;
}

std::chrono::milliseconds StationHealth::UntilReconnect(int station) const {
  if (!Tracked(station) || At(station).state != StationState::kDown) {
    return std::chrono::milliseconds(0);
  }
  const auto left = At(station).nextAttempt - clock_();
  return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(left));
}

int StationHealth::DownCount() const {
  return static_cast<int>(std::count_if(stations_.begin(), stations_.end(), [](const Station& s) {
    return s.state == StationState::kDown;
  }));
}

}  // namespace tavhost
