// The host's reconnect schedule on a clock the test moves: when a station that went down is
// reconnected, that nothing reaches it in between, and that each change is said once.
#include "stations/station_health.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

// Station 1 drops at 0 and stays away: reconnects 0.5 s later, then at doubling intervals up to
// 30 s apart, nothing tried in between; back up, it is said once and the schedule starts afresh.
TEST(StationHealth, ReconnectsAtDoublingIntervalsUpToTheLongest) {
  TimePoint now{};
  std::vector<int> reconnects;
  std::vector<std::string> said;
  tavhost::StationHealth health([&](int station) { reconnects.push_back(station); },
                                [&](std::string_view line) { said.emplace_back(line); },
                                [&] { return now; });
  health.AfterTransfer(1, true, "connection refused");
  const std::vector<int64_t> attemptsAt = {500, 1500, 3500, 7500, 15500, 31500, 61500, 91500};
  for (const int64_t at : attemptsAt) {
    now = TimePoint(milliseconds(at - 1));
    EXPECT_FALSE(health.BeforeTransfer(1)) << at;
    EXPECT_EQ(health.UntilReconnect(1), milliseconds(1)) << at;
    now = TimePoint(milliseconds(at));
    EXPECT_TRUE(health.BeforeTransfer(1)) << at;
    health.AfterTransfer(1, at != attemptsAt.back(), "connection refused");
  }
  EXPECT_EQ(reconnects, std::vector<int>(attemptsAt.size(), 1));
  EXPECT_EQ(said, (std::vector<std::string>{
                      "station 01 is down: connection refused; reconnecting (command 2) in 0.5 s, "
                      "then at doubling intervals up to 30 s",
                      "station 01 is back up after 8 reconnects (91.5 s down)"}));
  EXPECT_EQ(health.State(1), tavhost::StationState::kUp);
  health.AfterTransfer(1, true, "time-out");
  now += milliseconds(499);
  EXPECT_FALSE(health.BeforeTransfer(1));
  now += milliseconds(1);
  EXPECT_TRUE(health.BeforeTransfer(1));
  // Stations never seen go ahead; numbers beyond the table are not tracked.
  EXPECT_TRUE(health.BeforeTransfer(2));
  health.AfterTransfer(99, true, "none");
  EXPECT_EQ(health.State(99), tavhost::StationState::kUnknown);
  EXPECT_EQ(health.DownCount(), 1);
}

}  // namespace
