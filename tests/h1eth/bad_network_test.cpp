// The driver over libh1eth across the bad network: at 10 % loss, 5 % duplication and 5 %
// reordering every transfer completes with its data intact; corrupted TPDUs are dropped by the
// checksum; a station that disappears (relay stopped, link down, station gone) gives the driver
// its failure result within its retry budget. The relay's and the station's own accounts show
// the network really was that bad. tavhost runs, each started as soon as the last ended, never
// take an earlier run's answer, nor fail after a run killed with SIGKILL; a flood of frames from
// a third address does not hold a write beyond its budget.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include "driver_on_h1.h"
#include "example_round_trips.h"

namespace tav::h1eth::test {
namespace {

// A count from a program's closing line: "... dropped 12 ...".
long Count(const std::string& line, const std::string& name) {
  std::smatch match;
  if (!std::regex_search(line, match, std::regex(name + " ([0-9]+)"))) return -1;
  return std::stol(match[1]);
}

StationOptions Relayed(std::vector<std::string> relay) {
  StationOptions options;
  options.relay = std::move(relay);
  options.settings = kQuickSettings;
  return options;
}

using BadNetwork = DriverOnH1;

TEST_F(BadNetwork, EveryTransferCompletesIntactDespiteLossDuplicationAndReordering) {
  std::string skip;
  if (!Start(Relayed({"--seed", "21", "--loss", "10", "--dup", "5", "--reorder", "5", "--delay",
                      "100"}),
             skip)) {
    GTEST_SKIP() << "skipped: " << skip;
  }
  ASSERT_EQ(InitialiseExampleStations(300), 0);
  for (int station : {1, 3, 5, 6, 7}) EXPECT_NE(this->station(station).readConnection, 0);
  HostLog().clear();
  ExpectRoundTrips(e2e::EveryKindOfTheExampleStations());
  ExpectWordsIntact("06DW0200000");
  ExpectWordsIntact("07DW0200000");

  const std::string relay = StopRelay();
  EXPECT_GT(Count(relay, "dropped"), 20) << relay;
  EXPECT_GT(Count(relay, "duplicated"), 5) << relay;
  EXPECT_GT(Count(relay, "reordered"), 5) << relay;
  const std::string station = StopStation();
  EXPECT_GT(Count(station, "resequenced"), 0) << station;
  EXPECT_GT(Count(station, "duplicates"), 0) << station;
}

TEST_F(BadNetwork, CorruptedTpdusAreDroppedByTheChecksum) {
  std::string skip;
  if (!Start(Relayed({"--seed", "5", "--corrupt", "10"}), skip)) {
    GTEST_SKIP() << "skipped: " << skip;
  }
  ASSERT_EQ(InitialiseExampleStations(300), 0);
  HostLog().clear();
  ExpectRoundTrips(e2e::EveryKindOfTheExampleStations());
  ExpectWordsIntact("06DW0200000");
  EXPECT_GT(Count(StopRelay(), "corrupted"), 10);
  EXPECT_GT(Count(StopStation(), "checksum-failures"), 0);
}

// The station goes away after the connections came up; the read gets the failure result within
// the driver's retry budget of 1,000 polls (time-out 100), however the station went.
enum class Loss { kRelayStopped, kLinkDown, kStationStopped };

std::string LossName(Loss loss) {
  static const char* const kNames[] = {"RelayStopped", "LinkDown", "StationStopped"};
  return kNames[static_cast<int>(loss)];
}

class StationDisappears : public DriverOnH1, public ::testing::WithParamInterface<Loss> {};

TEST_P(StationDisappears, TheDriverGetsItsFailureWithinItsBudget) {
  std::string skip;
  const bool relay = GetParam() == Loss::kRelayStopped;
  if (!Start(Relayed(relay ? std::vector<std::string>{"--seed", "1"} : std::vector<std::string>{}),
             skip)) {
    GTEST_SKIP() << "skipped: " << skip;
  }
  ASSERT_EQ(InitialiseExampleStations(100), 0);
  HostLog().clear();
  EXPECT_EQ(ReadBlock("03DW0100000", 1, 1, 2), Words({0x1234}));
  switch (GetParam()) {
    case Loss::kRelayStopped:
      StopRelay();
      break;
    case Loss::kLinkDown:
      ASSERT_TRUE(network().SetLink(network().station(), kLinkName, false));
      break;
    case Loss::kStationStopped:
      StopStation();
      break;
  }
  HostBytes host(2, 0xEE);
  const auto start = std::chrono::steady_clock::now();
  const int32_t result = Transfer(CommandCode::kReadBlock, Tag("03DW0100000"), 1, host.data());
  // The transport gives up after its retransmissions (8 x 50 ms), before the driver's budget
  // runs out: the connection is reported broken (result 5), which the driver logs.
  EXPECT_EQ(result, 1);
  ASSERT_FALSE(Messages().empty());
  EXPECT_EQ(Messages().back(), "TavSH1: Read Tag 03DW0100000 Failed, rc=5,0");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(host, HostBytes(2, 0xEE));
  // 1,000 polls 1 ms apart, with room for a loaded machine and the sanitizers.
  EXPECT_LT(took, std::chrono::seconds(4));
}

INSTANTIATE_TEST_SUITE_P(Ways, StationDisappears,
                         ::testing::Values(Loss::kRelayStopped, Loss::kLinkDown,
                                           Loss::kStationStopped),
                         [](const ::testing::TestParamInfo<Loss>& loss) {
                           return LossName(loss.param);
                         });

#if defined(TAV_TAVHOST)
// tavhost over libh1eth, run in the test's folder (which holds the station file) from the driver's
// namespace.
const std::vector<std::string> kHost = {TAV_TAVHOST, "--h1-interface", "h1"};
const char* const kStationFile = " --station-file tavSH101.int";

// The exit status and output of one run of tavhost with `arguments`, killed after 20 s.
std::pair<int, std::string> Host(const std::string& arguments) {
  std::string line = "timeout -s KILL 20";
  for (const std::string& word : kHost) line += " " + word;
  FILE* pipe = popen((line + " " + arguments + kStationFile + " 2>&1").c_str(), "r");
  std::string output;
  for (int c; (c = std::fgetc(pipe)) != EOF;) output += static_cast<char>(c);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// The station keeps each connection when the DR does not arrive and repeats its last DT every
// 20 ms to the reference the previous run held; then a watch is killed: every run reads its own
// address's value.
TEST_F(BadNetwork, ARunStartedAgainAtOnceNeverTakesAnEarlierRunsAnswer) {
  std::string skip;
  StationOptions options{{}, {"--keep-on-release", "--repeat-ms", "20"}, kQuickSettings, {}};
  if (!Start(options, skip)) GTEST_SKIP() << "skipped: " << skip;
  WriteStationFile("1=7,0A0B0C010201,2\n3=5,0A0B0C010203\n");
  const char* const words[][2] = {{"03DW0100010", "0x1111"},
                                  {"03DW0100011", "0x2222"},
                                  {"01DW0100010", "0x3333"},
                                  {"01DW0100012", "0x4444"}};
  for (const auto& word : words) {
    const auto [status, output] = Host(std::string("write ") + word[0] + " " + word[1]);
    ASSERT_EQ(status, 0) << output;
  }
  for (int round = 0; round < 3; ++round) {
    for (const auto& word : words) {
      const auto [status, output] = Host(std::string("read ") + word[0]);
      EXPECT_EQ(status, 0) << output;
      EXPECT_NE(output.find(std::string(word[0]) + ": " + word[1]), std::string::npos) << output;
    }
    std::vector<std::string> watch = kHost;
    watch.insert(watch.end(), {"watch", words[round][0], "--station-file", "tavSH101.int"});
    const pid_t pid = network().Spawn(network().driver(), watch);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

// A station that takes the write and never answers while a third address sends an H1 frame
// every 0.5 ms: the write fails within its budget (10 x 200 ms of polls, each a call of at most
// the pause and the pause; about 4 s), with room for a loaded machine, not when the flood ends.
TEST_F(BadNetwork, AFloodDoesNotHoldAWriteBeyondItsBudget) {
  std::string skip;
  if (!Start({{}, {"--mute", "--flood-us", "500"}, kQuickSettings, {}}, skip)) {
    GTEST_SKIP() << "skipped: " << skip;
  }
  WriteStationFile("3=5,0A0B0C010203\n");
  const auto start = std::chrono::steady_clock::now();
  const auto [status, output] = Host("write 03DW0100100 0x1234 --timeout 200");
  EXPECT_NE(status, 0) << output;
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(8)) << output;
  EXPECT_GT(took, std::chrono::milliseconds(1900)) << output;  // the budget ran out
}

// The station goes while watch polls it: the transport gives up after its retransmissions, the
// driver answers result 1 with the library's result 5, and watch marks the station down with that
// cause in the same cycle, not a cycle later as a connection it cannot make.
TEST_F(BadNetwork, WatchMarksAStationDownInTheCycleItsConnectionBroke) {
  std::string skip;
  if (!Start({{}, {}, kQuickSettings, {}}, skip)) GTEST_SKIP() << "skipped: " << skip;
  WriteStationFile("3=5,0A0B0C010203\n");
  std::pair<int, std::string> watched;
  std::thread watch(
      [&watched] { watched = Host("watch 03DW0100000 --csv --interval 200 --count 15"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  StopStation();
  watch.join();
  const std::string& output = watched.second;
  const size_t down = output.find("station 03 is down: ");
  ASSERT_NE(down, std::string::npos) << output;
  EXPECT_NE(output.find("the connection broke", down), std::string::npos) << output;
}
#endif

}  // namespace
}  // namespace tav::h1eth::test
