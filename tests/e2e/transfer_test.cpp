// Commands 5, 6, 7 and 10 of the real driver on the simulated network: the stations' memory as
// their PLCs hold it, and what only a simulated station can do (lose a request, answer slowly).
// The cases every back-end runs are example_stations_test.cpp's, here on the simulated network.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "back_end.h"
#include "sim/h1_codes.h"
#include "simulated_network.h"

namespace tav::e2e {
namespace {

using Bytes = HostBytes;
using sim::DataBlock;

// The simulated network with its stations as the simulation file gives them, fresh each test.
class SimulatedNetwork : public BackEnd {
 public:
  std::string Start(const std::filesystem::path&) override {
    sim::InstallNetwork(sim::DefaultNetwork());
    return {};
  }
  std::string Lacks(Need) const override { return {}; }
  int32_t timeout() const override { return 10; }
};

INSTANTIATE_TEST_SUITE_P(
    OnTheSimulatedNetwork, ExampleStationsTest,
    ::testing::Values(BackEndChoice{"Simulated", []() -> std::unique_ptr<BackEnd> {
                        return std::make_unique<SimulatedNetwork>();
                      }}),
    BackEndName);

constexpr const char* kS7 = "0A0B0C010201";     // station 1
constexpr const char* kS5 = "0A0B0C010203";     // station 3
constexpr const char* kType6 = "0A0B0C010205";  // station 5

class TransferTest : public SimulatedNetworkTest {
 protected:
  void SetUp() override {
    UseExampleStationFile();
    ASSERT_EQ(Initialise(10), 0);
    HostLog().clear();
  }
};

TEST_F(TransferTest, StationsHoldTheValuesAsTheirPlcsDo) {
  Bytes words = Words({0x1234, 0xABCD});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DW0200004"), 2, words.data()), 0);
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("03DW0100030"), 2, words.data()), 0);
  Bytes dword = DWords({0x12345678});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DD0200018", 4), 1, dword.data()), 0);
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("03DD0100043", 4), 1, dword.data()), 0);
  Bytes floats = Floats({-100.0f});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DF0200024", 3), 1, floats.data()), 0);
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("03DF0100051", 3), 1, floats.data()), 0);
  Bytes text = Text("ABCDEFG");
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01SB020004007", 7), 1, text.data()), 0);
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("03SB010006007", 7), 1, text.data()), 0);
  Bytes flagWord = Words({0x1234});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("03MW0020"), 1, flagWord.data()), 0);

  sim::Station& s7 = simulated(kS7);
  sim::Station& s5 = simulated(kS5);
  EXPECT_EQ(s7.Bytes(DataBlock(20), 4, 4), (Bytes{0x12, 0x34, 0xAB, 0xCD}));
  EXPECT_EQ(s5.Word(DataBlock(10), 30), 0x1234);
  EXPECT_EQ(s5.Word(DataBlock(10), 31), 0xABCD);
  EXPECT_EQ(s7.DWord(DataBlock(20), 18), 0x12345678u);
  EXPECT_EQ(s5.DWord(DataBlock(10), 43), 0x12345678u);
  EXPECT_EQ(s7.Float(DataBlock(20), 24), -100.0);
  EXPECT_EQ(s5.Float(DataBlock(10), 51), -100.0);
  // Odd lengths move whole pairs: six of the seven characters.
  EXPECT_EQ(s7.Bytes(DataBlock(20), 40, 7), (Bytes{'A', 'B', 'C', 'D', 'E', 'F', 0}));
  EXPECT_EQ(s5.Text(DataBlock(10), 60, 6), "ABCDEF");
  // Input, output and flag words travel big-endian on S5 stations too.
  EXPECT_EQ(s5.Bytes(sim::Flags(), 20, 2), (Bytes{0x12, 0x34}));
}

TEST_F(TransferTest, ALostRequestIsSentAgainAndASlowStationWaitedFor) {
  simulated(kS5).Inject(sim::Operation::kReceiveReadData, {.result = sim::h1::kRequestLost});
  simulated(kS5).behaviour().pollsBeforeResponse = 5;
  EXPECT_EQ(ReadBlock("03DW0100000", 1, 1, 2), Words({0x1234}));

  // A station slower than the retry budget: result 2 and one line.
  simulated(kS5).behaviour().pollsBeforeResponse = 1000;
  Bytes host(2, 0xEE);
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("03DW0100000"), 1, host.data()), 2);
  EXPECT_EQ(host, Bytes(2, 0xEE));
  EXPECT_EQ(Messages(), std::vector<std::string>{"TavSH1: Read Tag 03DW0100000 Failed, rc=6,0"});
}

}  // namespace
}  // namespace tav::e2e
