// The driver's own end-to-end rows over libh1eth, as over the simulated network: every kind in
// both byte orders on S7, S5 and type-6 stations, bits, strings, preset values, refusals, and
// blocks of 10,000 bytes that travel as many DTs.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "driver_on_h1.h"
#include "example_round_trips.h"
#include "frame_judge.h"

namespace tav::h1eth::test {
namespace {

class TransferOverH1 : public DriverOnH1 {
 protected:
  void SetUp() override {
    std::string skip;
    if (!Start({}, skip)) GTEST_SKIP() << "skipped: " << skip;
    ASSERT_EQ(InitialiseExampleStations(), 0);
    HostLog().clear();
  }
};

TEST_F(TransferOverH1, EveryKindReadsBackWhatWasWritten) {
  ExpectRoundTrips(e2e::EveryKindOfTheExampleStations());
}

TEST_F(TransferOverH1, ReadsTheValuesTheStationsWereGiven) {
  EXPECT_EQ(ReadBlock("01DD0100002", 4, 1, 4), DWords({123456}));
  EXPECT_EQ(ReadBlock("01DF0100010", 3, 1, 4), Floats({21.5f}));
  EXPECT_EQ(ReadBlock("01SB010002012", 7, 1, 12), Text("PRESS LINE 1"));
  EXPECT_EQ(ReadBlock("01IB0000", 1, 3, 6), Words({0x81, 0x00, 0x3C}));
  EXPECT_EQ(ReadBlock("03DD0100002", 4, 1, 4), DWords({123456}));
  EXPECT_EQ(ReadBlock("03DF0100010", 3, 1, 4), Floats({21.5f}));  // an S5 float at the station
  EXPECT_EQ(ReadBlock("03XW0100000", 1, 3, 6), Words({7, 8, 9}));
  // Type 6: words 4 and 5 of data block 10, which a byte address would miss.
  EXPECT_EQ(ReadBlock("05DF0100004", 3, 1, 4), Floats({7.25f}));
}

// The host's 4-byte value cell: a 16-bit element or a bit in bytes 2 and 3.
struct Cell {
  uint16_t host = 0xBBBB;
  uint16_t value = 0;
};

TEST_F(TransferOverH1, BitsChangeOnlyThemselves) {
  HostBytes zero(4, 0);
  for (const char* word : {"01DW0200012", "03DW0100070", "05DW0100040"}) {
    ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag(word), 2, zero.data()), 0);
  }
  for (const char* address : {"01DW020001204", "03DW010007015", "05DW010004000", "03MB001003"}) {
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
  EXPECT_EQ(ReadBlock("01DW0200012", 1, 1, 2), Words({0x0010}));
  EXPECT_EQ(ReadBlock("03DW0100070", 1, 1, 2), Words({0x8000}));
  EXPECT_EQ(ReadBlock("05DW0100040", 1, 1, 2), Words({0x0001}));
  EXPECT_EQ(ReadBlock("03MB0010", 1, 1, 2), Words({0x09}));
}

TEST_F(TransferOverH1, RefusalsAndSilentStationsReachTheHost) {
  HostBytes host(8, 0xEE);
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("01DW0990000"), 2, host.data()), 1);
  EXPECT_EQ(Transfer(CommandCode::kWriteBlock, Tag("03DW0990000"), 2, host.data()), 1);
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("08DW0010000"), 1, host.data()), 2);
  EXPECT_EQ(host, HostBytes(8, 0xEE));
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_TRUE(Messages()[0].starts_with("TavSH1: Read Tag 01DW0990000 Failed, rc=0,"));
  EXPECT_TRUE(Messages()[1].starts_with("TavSH1: Write Tag 03DW0990000 Failed, rc=0,"));
}

// 10,000 bytes on the S5 station (one TSDU each way, ten DTs) and the S7 station (jobs of the
// negotiated PDU): written, read back, and the DTs counted in the capture.
TEST_F(TransferOverH1, LongBlocksTravelAsManyDts) {
  std::vector<uint16_t> words(5'000);
  for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(i * 7919 + 13);
  for (const char* address : {"06DW0200000", "07DW0200000"}) {
    SCOPED_TRACE(address);
    std::vector<uint16_t> out = words;
    ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag(address), 5'000, out.data()), 0);
    std::vector<uint16_t> back(5'000, 0xEEEE);
    ASSERT_EQ(Transfer(CommandCode::kReadBlock, Tag(address), 5'000, back.data()), 0);
    EXPECT_EQ(back, words);
  }
  const std::optional<std::vector<Frame>> frames = ReadPcap(capture());
  ASSERT_TRUE(frames);
  size_t s5Dts = 0;
  size_t s5DtsWithoutEnd = 0;
  for (const Frame& frame : *frames) {
    const std::span<const uint8_t> tpdu = TpduOf(frame);
    const bool s5Station = frame[5] == 0x06 || frame[11] == 0x06;
    if (tpdu.size() < 5 || (tpdu[1] & 0xF0) != 0xF0 || !s5Station) continue;
    ++s5Dts;
    if ((tpdu[4] & 0x80) == 0) ++s5DtsWithoutEnd;
  }
  EXPECT_GE(s5Dts, 20u);  // 10,016 bytes each way in DTs of at most 1,024
  EXPECT_GE(s5DtsWithoutEnd, 18u);
}

}  // namespace
}  // namespace tav::h1eth::test
