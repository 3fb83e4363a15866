// The H1 frame against frames laid out by hand, and every way a frame fails to be H1.
#include "h1eth/frame.h"

#include <gtest/gtest.h>

namespace tav::h1eth {
namespace {

constexpr EthernetAddress kTo{0x08, 0x00, 0x06, 0x01, 0x02, 0x03};
constexpr EthernetAddress kFrom{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

TEST(H1Frame, LaysOutTheHeaderAndPadsToTheMinimum) {
  const Bytes tpdu{0x04, 0x60, 0x12, 0x34, 0x05};  // an AK
  const Bytes frame = EncodeFrame(kTo, kFrom, tpdu);
  const Bytes header{0x08, 0x00, 0x06, 0x01, 0x02, 0x03, 0x02, 0x00, 0x00,
                     0x00, 0x00, 0x01, 0x00, 0x09, 0xFE, 0xFE, 0x03, 0x00};
  ASSERT_EQ(frame.size(), kMinimumFrameBytes);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 18), header);
  EXPECT_EQ(Bytes(frame.begin() + 18, frame.begin() + 23), tpdu);
  EXPECT_TRUE(std::all_of(frame.begin() + 23, frame.end(), [](uint8_t b) { return b == 0; }));

  const std::optional<Frame> decoded = DecodeFrame(frame);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->destination, kTo);
  EXPECT_EQ(decoded->source, kFrom);
  EXPECT_EQ(Bytes(decoded->tpdu.begin(), decoded->tpdu.end()), tpdu);  // the padding is not TPDU

  const Bytes largest(kLargestTpduBytes, 0xAB);
  EXPECT_EQ(EncodeFrame(kTo, kFrom, largest).size(), 1514u);
  EXPECT_EQ(DecodeFrame(EncodeFrame(kTo, kFrom, largest))->tpdu.size(), kLargestTpduBytes);
  EXPECT_TRUE(EncodeFrame(kTo, kFrom, Bytes(kLargestTpduBytes + 1)).empty());
}

TEST(H1Frame, RejectsFramesThatAreNotH1) {
  const Bytes good = EncodeFrame(kTo, kFrom, Bytes{0x04, 0x60, 0x12, 0x34, 0x05});
  struct Row {
    const char* what;
    size_t at;
    uint8_t value;
  };
  const Row rows[] = {
      {"an EtherType (IPv4)", 12, 0x08},
      {"length past the frame", 13, 0x2F},
      {"length below LLC", 13, 0x03},
      {"DSAP", 14, 0x42},
      {"SSAP", 15, 0xAA},
      {"control", 16, 0x13},
      {"network layer active", 17, 0x81},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes frame = good;
    frame[row.at] = row.value;
    EXPECT_FALSE(DecodeFrame(frame));
  }
  EXPECT_FALSE(DecodeFrame(ByteView(good).first(kFrameHeaderBytes - 1)));
}

}  // namespace
}  // namespace tav::h1eth
