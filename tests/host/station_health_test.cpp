// The host's reconnect schedule on a clock the test moves: when a station that went down is
// reconnected, that nothing else reaches it in between, and that each change is said once.
#include "station_health.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

struct Fixture {
  TimePoint now{};
  std::vector<int> reconnects;
  std::vector<std::string> said;
  tavhost::StationHealth health{[this](int station) { reconnects.push_back(station); },
                                [this](std::string_view line) { said.emplace_back(line); },
                                [this] { return now; }};
};

// The station drops at 0 and stays away: reconnects come 0.5 s later and then at doubling
// intervals, never more than 30 s apart, with nothing tried in between.
TEST(StationHealth, ReconnectsAtDoublingIntervalsUpToTheLongest) {
  Fixture f;
  ASSERT_TRUE(f.health.BeforeTransfer(1));
  f.health.AfterTransfer(1, true, "connection refused");
  const std::vector<int64_t> attemptsAt = {500, 1500, 3500, 7500, 15500, 31500, 61500, 91500};
  for (const int64_t at : attemptsAt) {
    f.now = TimePoint(milliseconds(at - 1));
    EXPECT_FALSE(f.health.BeforeTransfer(1)) << at;
    EXPECT_EQ(f.health.UntilReconnect(1), milliseconds(1)) << at;
    f.now = TimePoint(milliseconds(at));
    EXPECT_TRUE(f.health.BeforeTransfer(1)) << at;
    f.health.AfterTransfer(1, true, "connection refused");
  }
  EXPECT_EQ(f.reconnects, std::vector<int>(attemptsAt.size(), 1));
  ASSERT_EQ(f.said.size(), 1u);
  EXPECT_EQ(f.said[0],
            "station 01 is down: connection refused; reconnecting (command 2) in 0.5 s, then at "
            "doubling intervals up to 30 s");
  EXPECT_EQ(f.health.State(1), tavhost::StationState::kDown);
  EXPECT_EQ(f.health.DownCount(), 1);
}

// Coming back is said once, resets the schedule, and a station up or never seen is not held
// back; other stations and numbers beyond the table are left alone.
TEST(StationHealth, ComesBackOnceAndStartsAfresh) {
  Fixture f;
  f.health.AfterTransfer(7, true, "time-out");
  f.now += milliseconds(500);
  ASSERT_TRUE(f.health.BeforeTransfer(7));
  f.health.AfterTransfer(7, true, "time-out");
  f.now += milliseconds(1000);
  ASSERT_TRUE(f.health.BeforeTransfer(7));
  f.health.AfterTransfer(7, false, "");
  EXPECT_EQ(f.health.State(7), tavhost::StationState::kUp);
  EXPECT_TRUE(f.health.Reason(7).empty());
  ASSERT_EQ(f.said.size(), 2u);
  EXPECT_EQ(f.said[1], "station 07 is back up after 2 reconnects (1.5 s down)");
  f.health.AfterTransfer(7, false, "");
  EXPECT_EQ(f.said.size(), 2u);

  f.health.AfterTransfer(7, true, "refused");  // down again: the first delay once more
  f.now += milliseconds(499);
  EXPECT_FALSE(f.health.BeforeTransfer(7));
  f.now += milliseconds(1);
  EXPECT_TRUE(f.health.BeforeTransfer(7));

  EXPECT_TRUE(f.health.BeforeTransfer(2));
  EXPECT_EQ(f.health.State(2), tavhost::StationState::kUnknown);
  EXPECT_TRUE(f.health.BeforeTransfer(99));
  f.health.AfterTransfer(99, true, "none");
  EXPECT_EQ(f.health.State(99), tavhost::StationState::kUnknown);
  EXPECT_EQ(f.reconnects, (std::vector<int>{7, 7, 7}));
}

}  // namespace
