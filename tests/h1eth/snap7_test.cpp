// S7 jobs that crossed H1 answered by Snap7's S7 server, an implementation no one here wrote: the
// test station hands each TSDU of the S7 connection to Snap7 over RFC 1006 in the station's
// namespace. Every kind written and read back, bits, and 10,000 bytes split by the PDU that the
// driver's session agreed with Snap7 across H1.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "driver_on_h1.h"
#include "snap7_process.h"

namespace tav::h1eth::test {
namespace {

using h1tcp::test::Snap7Server;

class Snap7OverH1 : public DriverOnH1 {
 protected:
  void SetUp() override {
    StationOptions options;
    std::string unavailable;
    options.inStationNamespace = [&]() -> std::vector<std::string> {
      server_ = std::make_unique<Snap7Server>();
      unavailable = server_->unavailable();
      return {"--snap7-port", std::to_string(server_->port())};
    };
    std::string skip;
    if (!Start(options, skip)) GTEST_SKIP() << "skipped: " << skip;
    if (!unavailable.empty()) GTEST_SKIP() << "skipped: " << unavailable;
    WriteStationFile("1=7,0A0B0C010201,2\n");
    ASSERT_EQ(Initialise(100), 0);
    ASSERT_NE(station(1).readConnection, 0);
    (void)server_->Events();
    HostLog().clear();
  }
  void TearDown() override { server_.reset(); }

  std::unique_ptr<Snap7Server> server_;
};

TEST_F(Snap7OverH1, EveryKindReadsBackWhatWasWritten) {
  const e2e::RoundTrip rows[] = {
      {"01DB0020001", 1, 3, Words({0x11, 0x22, 0xFF})},
      {"01DW0020004", 1, 2, Words({0x1234, 0xABCD})},
      {"01DD0020008", 4, 2, DWords({0x12345678, 0xCAFEBABE})},
      {"01DF0020024", 3, 2, Floats({1.5f, -2.25e-20f})},
      {"01SB002004010", 7, 1, Text("ABCDEFGHIJ")},
      {"01IB0100", 1, 2, Words({0x80, 0x7F})},
      {"01QW0020", 1, 2, Words({0x1234, 0x5678})},
      {"01MW0030", 1, 1, Words({0xFEDC})},
  };
  ExpectRoundTrips(rows);
  EXPECT_EQ(server_->Events(2).front(), "write DB 2 1 3 0");
}

// 10,000 bytes at Snap7's PDU of 480: writes of 452 bytes and reads of 462, as its log shows.
TEST_F(Snap7OverH1, TenThousandByteBlocksAreSplitByThePduAgreedAcrossH1) {
  std::vector<uint16_t> words(5'000);
  for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(i * 31 + 7);
  std::vector<uint16_t> out = words;
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DW0010000"), 5'000, out.data()), 0);
  const std::vector<std::string> writes = server_->Events(23);
  ASSERT_EQ(writes.size(), 23u);
  EXPECT_EQ(writes.front(), "write DB 1 0 452 0");
  EXPECT_EQ(writes.back(), "write DB 1 9944 56 0");
  std::vector<uint16_t> back(5'000, 0xEEEE);
  ASSERT_EQ(Transfer(CommandCode::kReadBlock, Tag("01DW0010000"), 5'000, back.data()), 0);
  EXPECT_EQ(back, words);
  EXPECT_EQ(server_->Events(22).size(), 22u);
}

}  // namespace
}  // namespace tav::h1eth::test
