// The test network itself: frames cross the veth pair between the namespaces, and the bad network
// is bad as its schedule says (frames lost, doubled, out of order, corrupted) and the same with
// the same seed, so that the transfers over it are tested against what the arguments promise.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <set>
#include <sstream>
#include <thread>

#include "netns.h"
#include "raw_link.h"

namespace tav::h1eth::test {
namespace {

constexpr std::array<uint8_t, 6> kStation{0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03};
constexpr std::array<uint8_t, 6> kDriver{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

Frame Numbered(uint16_t number) {
  // The number twice, the second time inverted: a changed octet shows.
  const auto high = static_cast<uint8_t>(number >> 8);
  const auto low = static_cast<uint8_t>(number);
  const uint8_t tpdu[] = {
      0x06, 0xF0, 0x00, 0x01, high, low, static_cast<uint8_t>(~high), static_cast<uint8_t>(~low)};
  return H1Frame(kStation, kDriver, tpdu);
}

// The numbers of the frames that arrived, in arrival order; a frame whose TPDU changed as -1.
std::vector<int> Arrivals(const RawLink& link, size_t sent) {
  std::vector<int> numbers;
  while (std::optional<Frame> frame = link.Receive(std::chrono::milliseconds(100))) {
    const std::span<const uint8_t> tpdu = TpduOf(*frame);
    if (tpdu.empty()) continue;
    const bool intact = tpdu.size() == 8 && tpdu[0] == 0x06 && tpdu[1] == 0xF0 && tpdu[2] == 0 &&
                        tpdu[3] == 1 && (tpdu[4] ^ tpdu[6]) == 0xFF &&
                        (tpdu[5] ^ tpdu[7]) == 0xFF &&
                        (tpdu[4] << 8 | tpdu[5]) < static_cast<int>(sent);
    numbers.push_back(intact ? tpdu[4] << 8 | tpdu[5] : -1);
  }
  return numbers;
}

class H1TestNetwork : public ::testing::Test {
 protected:
  // Sends `count` numbered frames from the driver's side through whatever lies between and
  // collects them at the station's side.
  std::vector<int> SendThrough(const TestNetwork& network, uint16_t count) {
    std::unique_ptr<RawLink> from;
    std::unique_ptr<RawLink> to;
    InNamespace(network.driver(), [&] { from = std::make_unique<RawLink>(kLinkName); });
    InNamespace(network.station(), [&] { to = std::make_unique<RawLink>(kLinkName); });
    EXPECT_TRUE(from->ok()) << from->error();
    EXPECT_TRUE(to->ok()) << to->error();
    if (!from->ok() || !to->ok()) return {};
    for (uint16_t n = 0; n < count; ++n) {
      from->Send(Numbered(n));
      if (n % 16 == 15) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Arrivals(*to, count);
  }
};

TEST_F(H1TestNetwork, FramesCrossThePairInOrder) {
  TestNetwork network;
  if (!network.unavailable().empty()) GTEST_SKIP() << "skipped: " << network.unavailable();
  std::vector<int> expected(100);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(SendThrough(network, 100), expected);
}

struct BadRun {
  std::vector<int> arrivals;
  std::string counts;  // the relay's own account
};

TEST_F(H1TestNetwork, TheBadNetworkIsBadAsItsSeedSays) {
  TestNetwork network(TestNetwork::Shape::kWithRelay);
  if (!network.unavailable().empty()) GTEST_SKIP() << "skipped: " << network.unavailable();
  const auto run = [&](const char* seed) {
    const std::string log = ::testing::TempDir() + "bad_network." + std::to_string(getpid());
    std::remove(log.c_str());
    const pid_t relay = network.Spawn(network.relay(),
                                      {TAV_BAD_NETWORK, "--seed", seed, "--loss", "10", "--dup",
                                       "5", "--reorder", "5", "--corrupt", "5", "--delay", "200"},
                                      log);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // its sockets open
    BadRun result{SendThrough(network, 400), {}};
    StopProgram(relay);
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    result.counts = text.str();
    return result;
  };
  const BadRun first = run("7");
  const BadRun again = run("7");
  const BadRun other = run("8");
  EXPECT_EQ(first.arrivals, again.arrivals) << first.counts << again.counts;
  EXPECT_NE(first.arrivals, other.arrivals);

  const std::vector<int>& got = first.arrivals;
  std::set<int> distinct(got.begin(), got.end());
  distinct.erase(-1);
  const size_t corrupted = static_cast<size_t>(std::count(got.begin(), got.end(), -1));
  EXPECT_GT(400 - distinct.size(), 20u) << "about 10 % lost";
  EXPECT_LT(400 - distinct.size(), 70u);
  EXPECT_GT(got.size() - corrupted, distinct.size()) << "some arrived twice";
  EXPECT_GT(corrupted, 5u) << "about 5 % corrupted";
  EXPECT_FALSE(std::is_sorted(got.begin(), got.end())) << "some overtaken";
  EXPECT_NE(first.counts.find("relaying\nforwarded "), std::string::npos) << first.counts;
}

}  // namespace
}  // namespace tav::h1eth::test
