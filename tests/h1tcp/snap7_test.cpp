// The real driver against Snap7's S7 server, an implementation of S7 communication independent of
// ours, over every back-end that reaches it (snap7_back_end.h): every kind written and read back,
// bits, strings, blocks of 10,000 bytes split by the PDU the driver's session agreed with the
// server, a server stopped and started again, a station that leads nowhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "snap7_back_end.h"

namespace tav::h1tcp::test {
namespace {

using Bytes = e2e::HostBytes;
using e2e::DWords;
using e2e::Floats;
using e2e::HostLog;
using e2e::Text;
using e2e::Words;

struct Cell {
  uint16_t host = 0xBBBB;
  uint16_t value = 0;
};

}  // namespace

void Snap7Test::SetUp() {
  backEnd_ = GetParam().make();
  if (const std::string skip = backEnd_->Start(directory()); !skip.empty()) {
    GTEST_SKIP() << "skipped: " << skip;
  }
  started_ = true;
  WriteStationFile(kSnap7Stations);
  // The host time-out 100 gives a connection wait of 100 polls, room for a loaded machine.
  ASSERT_EQ(Initialise(100), 0);
  ASSERT_NE(station(1).readConnection, 0);
  ASSERT_NE(station(5).readConnection, 0);
  (void)server().Events();
  HostLog().clear();
}

void Snap7Test::TearDown() {
  if (started_) Run(CommandCode::kCloseH1, nullptr);
  backEnd_.reset();
}

namespace {

TEST_P(Snap7Test, EveryKindReadsBackWhatWasWritten) {
  const e2e::RoundTrip rows[] = {
      {"01DB0020001", 1, 3, Words({0x11, 0x22, 0xFF})},
      {"01DW0020004", 1, 2, Words({0x1234, 0xABCD})},
      {"01DW0020007", 1, 1, Words({0xBEEF})},
      {"01DD0020008", 4, 2, DWords({0x12345678, 0xCAFEBABE})},
      {"01DF0020024", 3, 2, Floats({1.5f, -2.25e-20f})},
      {"01SB002004010", 7, 1, Text("ABCDEFGHIJ")},
      {"01IB0100", 1, 2, Words({0x80, 0x7F})},
      {"01QW0020", 1, 2, Words({0x1234, 0x5678})},
      {"01MW0030", 1, 1, Words({0xFEDC})},
      // Type 6: the data block's words, S5 floats.
      {"05DW0030010", 1, 2, Words({0x1234, 0xABCD})},
      {"05DF0030021", 3, 1, Floats({6.5f})},
      {"05SB003003006", 7, 1, Text("ABCDEF")},
  };
  ExpectRoundTrips(rows);
  EXPECT_EQ(server().Events(2).front(), "write DB 2 1 3 0");
}

// Type 6 addresses words: word 10 is bytes 20 and 21 of the S7 data block, high byte first.
TEST_P(Snap7Test, TypeSixWordsLieInTheDataBlockAsThePlcHoldsThem) {
  Bytes words = Words({0x1234, 0xABCD});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("05DW0030010"), 2, words.data()), 0);
  EXPECT_EQ(ReadBlock("01DB0030020", 1, 4, 8), Words({0x12, 0x34, 0xAB, 0xCD}));
  // The two jobs came over two connections, whose server threads each log after answering: the
  // read back above shows their order, the log shows both were there.
  std::vector<std::string> events = server().Events(2);
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (std::vector<std::string>{"read DB 3 20 4 0", "write DB 3 20 4 0"}));
}

TEST_P(Snap7Test, BitsChangeOnlyThemselves) {
  Bytes zero(8, 0);
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DW0020040"), 4, zero.data()), 0);
  for (const char* address : {"01DW002004004", "01DW002004215", "01MB010003"}) {
    SCOPED_TRACE(address);
    const TransferBlock tag = Tag(address, 6);
    for (uint16_t state : {uint16_t{1}, uint16_t{0}, uint16_t{1}}) {
      Cell write{0xBBBB, state};
      ASSERT_EQ(Transfer(CommandCode::kWriteTag, tag, 1, &write), 0);
      Cell read{0xBBBB, 0x7777};
      ASSERT_EQ(Transfer(CommandCode::kReadTag, tag, 1, &read), 0);
      EXPECT_EQ(read.value, state);
      EXPECT_EQ(read.host, 0xBBBB);
    }
  }
  EXPECT_EQ(ReadBlock("01DW0020040", 1, 2, 4), Words({0x0010, 0x8000}));
}

// 10,000 bytes at the server's PDU of 480: writes of 452 bytes and reads of 462, as its log shows.
TEST_P(Snap7Test, TenThousandByteBlocksAreSplitByThePdu) {
  Bytes block(10'000);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + i / 256);
  std::vector<uint16_t> words(5'000);
  std::memcpy(words.data(), block.data(), block.size());
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DW0010000"), 5'000, words.data()), 0);
  const std::vector<std::string> writes = server().Events(23);
  ASSERT_EQ(writes.size(), 23u);  // 22 x 452 + 56
  EXPECT_EQ(writes.front(), "write DB 1 0 452 0");
  EXPECT_EQ(writes[1], "write DB 1 452 452 0");
  EXPECT_EQ(writes.back(), "write DB 1 9944 56 0");

  std::vector<uint16_t> back(5'000, 0xEEEE);
  ASSERT_EQ(Transfer(CommandCode::kReadBlock, Tag("01DW0010000"), 5'000, back.data()), 0);
  EXPECT_EQ(back, words);
  const std::vector<std::string> reads = server().Events(22);
  ASSERT_EQ(reads.size(), 22u);  // 21 x 462 + 298
  EXPECT_EQ(reads.front(), "read DB 1 0 462 0");
  EXPECT_EQ(reads.back(), "read DB 1 9702 298 0");
}

TEST_P(Snap7Test, AStoppedServerFailsTransfersUntilTheStationIsReconnected) {
  if (const std::string why = backEnd().HidesAStoppedServer(); !why.empty()) {
    GTEST_SKIP() << "skipped: " << why;
  }
  Bytes host(2, 0xEE);
  ASSERT_TRUE(server().Stop());
  // The read's send finds the connection closed: result 2, and the driver logs nothing. The
  // write's acknowledgement reports the broken connection: result 1 and the driver's line.
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("01DW0020000"), 1, host.data()), 2);
  EXPECT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DW0020000"), 1, host.data()), 1);
  EXPECT_EQ(host, Bytes(2, 0xEE));
  EXPECT_EQ(Messages(), std::vector<std::string>{"TavSH1: Write Tag 01DW0020000 Failed, rc=5,0"});
  EXPECT_EQ(Reconnect(1), 0);  // the wait runs out: no message, result 0
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("01DW0020000"), 1, host.data()), 2);

  ASSERT_TRUE(server().Start());
  HostLog().clear();
  EXPECT_EQ(Reconnect(1), 0);
  EXPECT_EQ(Messages(), std::vector<std::string>{"TavSH1: Reconnect Read Success, Plc #1 !!! "});
  Bytes value = Words({0x4242});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DW0020000"), 1, value.data()), 0);
  EXPECT_EQ(ReadBlock("01DW0020000", 1, 1, 2), value);
}

TEST_P(Snap7Test, AnUnmappedStationFailsItsConnectAndItsTransfers) {
  EXPECT_EQ(station(9).readConnection, 0);
  Bytes host(2, 0xEE);
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("09DW0020000"), 1, host.data()), 2);
}

}  // namespace
}  // namespace tav::h1tcp::test
