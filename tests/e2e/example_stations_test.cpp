// Commands 5, 6, 7 and 10 of the real driver on the stations of examples/tavSH101.int, the same
// cases over every H1 back-end: every kind written and read back on S5, S7 and type-6 stations,
// the preset values, byte writes on word stations, tags and bits, refusals and silent stations.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "back_end.h"
#include "example_round_trips.h"
#include "vocabulary/h1_results.h"

namespace tav::e2e {

void ExampleStationsTest::SetUp() {
  backEnd_ = GetParam().make();
  if (const std::string skip = backEnd_->Start(directory()); !skip.empty()) {
    GTEST_SKIP() << "skipped: " << skip;
  }
  started_ = true;
  // The examples folder may be named relative to the folder the test started in.
  const std::filesystem::path examples = startDirectory() / TAV_EXAMPLES_DIR;
  std::filesystem::copy_file(examples / "tavSH101.int", directory() / "tavSH101.int");
  ASSERT_EQ(Initialise(backEnd_->timeout()), 0);
  HostLog().clear();
}

void ExampleStationsTest::TearDown() {
  if (started_) Run(CommandCode::kCloseH1, nullptr);
  backEnd_.reset();
}

namespace {

using Bytes = HostBytes;

// The host's 4-byte value cell: a 16-bit element or a bit in bytes 2 and 3.
struct Cell {
  uint16_t host = 0xBBBB;
  uint16_t value = 0;
};

TEST_P(ExampleStationsTest, EveryKindReadsBackWhatWasWritten) {
  ExpectRoundTrips(EveryKindOfTheExampleStations());
}

TEST_P(ExampleStationsTest, ReadsTheValuesTheStationsWereGiven) {
  if (const std::string why = Lacks(Need::kPresetValues); !why.empty()) {
    GTEST_SKIP() << "skipped: " << why;
  }
  EXPECT_EQ(ReadBlock("01DW0100000", 1, 1, 2), Words({0x1234}));
  EXPECT_EQ(ReadBlock("01DD0100002", 4, 1, 4), DWords({123456}));
  EXPECT_EQ(ReadBlock("01DF0100010", 3, 1, 4), Floats({21.5f}));
  EXPECT_EQ(ReadBlock("01SB010002012", 7, 1, 12), Text("PRESS LINE 1"));
  EXPECT_EQ(ReadBlock("01IB0000", 1, 3, 6), Words({0x81, 0x00, 0x3C}));
  EXPECT_EQ(ReadBlock("03DW0100000", 1, 1, 2), Words({0x1234}));
  EXPECT_EQ(ReadBlock("03DD0100002", 4, 1, 4), DWords({123456}));
  EXPECT_EQ(ReadBlock("03DF0100010", 3, 1, 4), Floats({21.5f}));  // an S5 float at the station
  EXPECT_EQ(ReadBlock("03SB010002012", 7, 1, 12), Text("BOILER HOUSE"));
  EXPECT_EQ(ReadBlock("03XW0100000", 1, 3, 6), Words({7, 8, 9}));
  EXPECT_EQ(ReadBlock("03MW0010", 1, 1, 2), Words({0x0102}));
  // Type 6: words 4 and 5 of data block 10, which a byte address would miss.
  EXPECT_EQ(ReadBlock("05DF0100004", 3, 1, 4), Floats({7.25f}));
}

// Type-6 data blocks hold words, so two bytes at byte offset 3 travel as words 3 and 4; the
// float 7.25 in words 4 and 5 must come through a byte write unharmed.
TEST_P(ExampleStationsTest, ByteWritesOnWordStationsLeaveTheirNeighboursAlone) {
  Bytes value = Floats({7.25f});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("05DF0100004", 3), 1, value.data()), 0);
  Bytes bytes = Words({0x11, 0x22});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("05DB0100003"), 2, bytes.data()), 0);

  EXPECT_EQ(ReadBlock("05DB0100003", 1, 2, 4), bytes);
  EXPECT_EQ(ReadBlock("05DF0100004", 3, 1, 4), Floats({7.25f}));
  EXPECT_TRUE(HostLog().empty());
}

TEST_P(ExampleStationsTest, TagsAndBitsReadAndWriteTheirElement) {
  Bytes zero(4, 0);
  for (const char* word : {"01DW0200030", "03DW0100070", "05DW0100040", "03MW0010"}) {
    ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag(word), 2, zero.data()), 0) << word;
  }
  Cell cell{0xBBBB, 0x4321};
  ASSERT_EQ(Transfer(CommandCode::kWriteTag, Tag("01DW0200012"), 1, &cell), 0);
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
  EXPECT_EQ(ReadBlock("01DW0200012", 1, 1, 2), Words({0x4331}));
  EXPECT_EQ(ReadBlock("03DW0100070", 1, 1, 2), Words({0x8000}));
  EXPECT_EQ(ReadBlock("05DW0100040", 1, 1, 2), Words({0x0001}));
  EXPECT_EQ(ReadBlock("01DD0200030", 4, 1, 4), DWords({0x00000008}));
  EXPECT_EQ(ReadBlock("03MB0010", 1, 2, 4), Words({0x08, 0x00}));
}

TEST_P(ExampleStationsTest, FailuresReachTheHostAsResultsAndOneLine) {
  Bytes host(8, 0xEE);
  // No such data block at the station: its error status word, result 1.
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("01DW0990000"), 2, host.data()), 1);
  EXPECT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DW0990000"), 2, host.data()), 1);
  EXPECT_EQ(Transfer(CommandCode::kWriteBlock, Tag("03DW0990000"), 2, host.data()), 1);
  // A station that never came up: result 2, nothing logged for the read.
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("08DW0010000"), 1, host.data()), 2);
  EXPECT_EQ(host, Bytes(8, 0xEE));
  const std::string status = std::to_string(h1::kStatusNoSuchArea);
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "TavSH1: Read Tag 01DW0990000 Failed, rc=0," + status,
                            "TavSH1: Write Tag 01DW0990000 Failed, rc=0," + status,
                            "TavSH1: Write Tag 03DW0990000 Failed, rc=0," + status}));
}

}  // namespace
}  // namespace tav::e2e
