// The real driver through libh1tcp against an S5 fetch/write responder of ours, over plain TCP
// (read and write connection on two ports) and over ISO on TCP (the station's TSAPs): every kind
// written and read back, the memory as the PLC holds it, refusals.
#include <gtest/gtest.h>

#include <string>

#include "driver_on_tcp.h"

namespace tav::h1tcp::test {
namespace {

class S5Test : public DriverOnTcp, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    const std::string at = "127.0.0.1:" + std::to_string(station_.port());
    WriteMap(GetParam() ? "0A0B0C010204 = " + at + ", s5-iso\n"
                        : "0A0B0C010204 = " + at + ", s5-tcp, write-port=" +
                              std::to_string(station_.writePort()) + "\n");
    WriteStationFile("4=5,0A0B0C010204,TSAPLOC1,TSAPRD01,TSAPWR01\n");
    ASSERT_EQ(Initialise(), 0);
    ASSERT_NE(station(4).readConnection, 0);
    ASSERT_NE(station(4).writeConnection, 0);
    HostLog().clear();
  }

  S5Responder station_{GetParam()};
};

TEST_P(S5Test, EveryKindReadsBackWhatWasWritten) {
  const e2e::RoundTrip rows[] = {
      {"04DW0100030", 1, 2, Words({0x1234, 0xABCD})}, {"04DD0100040", 4, 1, DWords({0x12345678})},
      {"04DF0100050", 3, 2, Floats({1.5f, -100.0f})}, {"04XW0100005", 1, 3, Words({7, 8, 9})},
      {"04SB010006010", 7, 1, Text("ABCDEFGHIJ")},    {"04QB0004", 1, 2, Words({0x01, 0xFE})},
      {"04MW0020", 1, 2, Words({0x1234, 0x5678})},
  };
  ExpectRoundTrips(rows);
}

TEST_P(S5Test, TheStationHoldsWordsHighByteFirst) {
  Bytes words = Words({0x1234, 0xABCD});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("04DW0100030"), 2, words.data()), 0);
  const Bytes block = station_.Memory(kS5OrgDataBlock, 10);
  EXPECT_EQ(Bytes(block.begin() + 60, block.begin() + 64), (Bytes{0x12, 0x34, 0xAB, 0xCD}));
  if (GetParam()) {
    // The read connection with rtsap, the write connection with wtsap, as the CP expects them.
    EXPECT_EQ(station_.CalledTsaps(), (std::vector<std::string>{"TSAPRD01", "TSAPWR01"}));
  }
}

TEST_P(S5Test, RefusalsReachTheHostAsStatusWords) {
  Bytes host(4, 0xEE);
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("04DW0990000"), 1, host.data()), 1);  // no DB 99
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag("04DW0100255"), 2, host.data()),
            1);  // past the end of DB 10
  EXPECT_EQ(host, Bytes(4, 0xEE));
  EXPECT_EQ(Messages(), (std::vector<std::string>{"TavSH1: Read Tag 04DW0990000 Failed, rc=0,1",
                                                  "TavSH1: Read Tag 04DW0100255 Failed, rc=0,2"}));
}

INSTANTIATE_TEST_SUITE_P(Transports, S5Test, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "IsoOnTcp" : "PlainTcp";
                         });

}  // namespace
}  // namespace tav::h1tcp::test
