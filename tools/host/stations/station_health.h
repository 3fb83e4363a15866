// The host's view of its stations' connections, and when it reconnects one that dropped. The
// driver never reconnects by itself: a transfer to a station without a connection fails with
// result 2 until the host asks for command 2. A host therefore keeps, per station, whether it is
// up or down; a station that goes down is reconnected with a back-off that doubles from the
// first delay to the longest, and in between its transfers are not even tried, so that a dead
// station costs the others no time. Each change of state is said once, with its reason.
//
// Pure logic: the clock, the reconnect and where the lines go are handed in, so the schedule can
// be checked without waiting for it. `watch` uses it, and any host loop that polls tags can.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "abi/driver_instance.h"

namespace tavhost {

enum class StationState : uint8_t {
  kUnknown,  // no transfer has told yet
  kUp,       // the last transfer reached the station
  kDown,     // the last transfer found no connection; reconnects run on the back-off schedule
};

std::string_view StationStateName(StationState state);

struct Backoff {
  std::chrono::milliseconds first{500};
  std::chrono::milliseconds longest{30'000};
};

class StationHealth {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Reconnect = std::function<void(int station)>;
  using Say = std::function<void(std::string_view line)>;

  StationHealth(Reconnect reconnect, Say say, Clock clock = std::chrono::steady_clock::now,
                Backoff backoff = {});

  // Before a transfer to `station`: whether it may go ahead. A station that is down goes ahead
  // only once its next reconnect is due, and that reconnect runs first.
  bool BeforeTransfer(int station);
  // After a transfer to `station`: `noConnection` when its result means the station could not
  // be reached (result 2), with `reason` saying why as far as the driver told.
  void AfterTransfer(int station, bool noConnection, std::string_view reason);

  // A station number outside 0 to 98 (which no transfer reaches) stays unknown.
  StationState State(int station) const;
  // Why the station is down; empty while it is not.
  std::string Reason(int station) const;
  // Time until the next reconnect of a station that is down; zero when it is due or up.
  std::chrono::milliseconds UntilReconnect(int station) const;
  // Stations down now.
  int DownCount() const;

 private:
  struct Station {
    StationState state = StationState::kUnknown;
    std::string reason;
    std::chrono::steady_clock::time_point downSince{};
    std::chrono::steady_clock::time_point nextAttempt{};
    std::chrono::milliseconds delay{0};  // the wait before the next reconnect
    int attempts = 0;
  };
  static bool Tracked(int station) { return station >= 0 && station < tav::kStationCount; }
  Station& At(int station) { return stations_[static_cast<size_t>(station)]; }
  const Station& At(int station) const { return stations_[static_cast<size_t>(station)]; }

  Reconnect reconnect_;
  Say say_;
  Clock clock_;
  Backoff backoff_;
  std::array<Station, tav::kStationCount> stations_{};
};

}  // namespace tavhost
