// Commands 5, 6, 7 and 10 of the real driver on the simulated network: every kind written and
// read back on S5, S7 and type-6 stations, and the stations' memory as their PLCs hold it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "example_round_trips.h"
#include "sim/h1_codes.h"
#include "simulated_network.h"

namespace tav::e2e {
namespace {

using Bytes = HostBytes;
using sim::DataBlock;

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

TEST_F(TransferTest, EveryKindReadsBackWhatWasWritten) {
  ExpectRoundTrips(EveryKindOfTheExampleStations());
}

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

TEST_F(TransferTest, ReadsTheValuesTheStationsWereGiven) {
  EXPECT_EQ(ReadBlock("01DW0100000", 1, 1, 2), Words({0x1234}));
  EXPECT_EQ(ReadBlock("01DD0100002", 4, 1, 4), DWords({123456}));
  EXPECT_EQ(ReadBlock("01DF0100010", 3, 1, 4), Floats({21.5f}));
  EXPECT_EQ(ReadBlock("01SB010002012", 7, 1, 12), Text("PRESS LINE 1"));
  EXPECT_EQ(ReadBlock("01IB0000", 1, 3, 6), Words({0x81, 0x00, 0x3C}));
  EXPECT_EQ(ReadBlock("03DW0100000", 1, 1, 2), Words({0x1234}));
  EXPECT_EQ(ReadBlock("03DD0100002", 4, 1, 4), DWords({123456}));
  EXPECT_EQ(ReadBlock("03DF0100010", 3, 1, 4), Floats({21.5f}));
  EXPECT_EQ(ReadBlock("03SB010002012", 7, 1, 12), Text("BOILER HOUSE"));
  EXPECT_EQ(ReadBlock("03XW0100000", 1, 3, 6), Words({7, 8, 9}));
  EXPECT_EQ(ReadBlock("03MW0010", 1, 1, 2), Words({0x0102}));
  EXPECT_EQ(ReadBlock("05DF0100004", 3, 1, 4), Floats({7.25f}));
}

// Type-6 data blocks hold words, so two bytes at byte offset 3 travel as words 3 and 4; the
// preset float 7.25 in words 4 and 5 must come through a byte write unharmed.
TEST_F(TransferTest, ByteWritesOnWordStationsLeaveTheirNeighboursAlone) {
  Bytes bytes = Words({0x11, 0x22});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("05DB0100003"), 2, bytes.data()), 0);

  EXPECT_EQ(ReadBlock("05DB0100003", 1, 2, 4), bytes);
  EXPECT_EQ(ReadBlock("05DF0100004", 3, 1, 4), Floats({7.25f}));
  EXPECT_TRUE(HostLog().empty());
}

// The host's 4-byte value cell: a 16-bit element or a bit in bytes 2 and 3.
struct Cell {
  uint16_t host = 0xBBBB;
  uint16_t value = 0;
};

TEST_F(TransferTest, TagsAndBitsReadAndWriteTheirElement) {
  Cell cell{0xBBBB, 0x4321};
  ASSERT_EQ(Transfer(CommandCode::kWriteTag, Tag("01DW0200012"), 1, &cell), 0);
  EXPECT_EQ(simulated(kS7).Word(DataBlock(20), 12), 0x4321);
  cell.value = 0;
  ASSERT_EQ(Transfer(CommandCode::kReadTag, Tag("01DW0200012"), 1, &cell), 0);
  EXPECT_EQ(cell.value, 0x4321);
  EXPECT_EQ(cell.host, 0xBBBB);

  // Word bits on S7, S5 and type 6, a bit of an odd double word, a flag-byte bit.
  for (const char* address :
       {"01DW020001204", "03DW010007015", "05DW010004000", "01DD020003003", "03MB001003"}) {
    SCOPED_TRACE(address);
    const TransferBlock tag = Tag(address, 6);
    for (uint16_t state : {uint16_t{1}, uint16_t{0}, uint16_t{1}}) {
      Cell write{0xBBBB, state};
      ASSERT_EQ(Transfer(CommandCode::kWriteTag, tag, 1, &write), 0);
      EXPECT_EQ(write.value, state) << "the value cell keeps the host's value";
      Cell read{0xBBBB, 0x7777};
      ASSERT_EQ(Transfer(CommandCode::kReadTag, tag, 1, &read), 0);
      EXPECT_EQ(read.value, state);
      EXPECT_EQ(read.host, 0xBBBB);
    }
  }
  // Only the bits written changed.
  EXPECT_EQ(simulated(kS7).Word(DataBlock(20), 12), 0x4331);
  EXPECT_EQ(simulated(kS5).Word(DataBlock(10), 70), 0x8000);
  EXPECT_EQ(simulated(kType6).Word(DataBlock(10), 40), 0x0001);
  EXPECT_EQ(simulated(kS7).DWord(DataBlock(20), 30), 0x00000008u);
  EXPECT_EQ(simulated(kS5).Bytes(sim::Flags(), 10, 2), (Bytes{0x09, 0x02}));
}

TEST_F(TransferTest, FailuresReachTheHostAsResultsAndOneLine) {
  Bytes host(8, 0xEE);
  // No such data block at the station: its error status word, result 1.
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("01DW0990000"), 2, host.data()), 1);
  EXPECT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DW0990000"), 2, host.data()), 1);
  // A station that never came up: result 2, nothing logged for the read.
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("08DW0010000"), 1, host.data()), 2);
  EXPECT_EQ(host, Bytes(8, 0xEE));
  const std::vector<std::string> expected = {
      "TavSH1: Read Tag 01DW0990000 Failed, rc=0," + std::to_string(sim::h1::kStatusNoSuchArea),
      "TavSH1: Write Tag 01DW0990000 Failed, rc=0," + std::to_string(sim::h1::kStatusNoSuchArea)};
  EXPECT_EQ(Messages(), expected);
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
