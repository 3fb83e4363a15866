// The transport codec against TPDUs laid out by hand from ISO 8073's formats, class 0 as ISO on
// TCP sends them and class 4 with references, both numberings and the checksum (its octets
// worked out separately from the annex's formulas).
#include "plc_sessions/cotp.h"

#include <gtest/gtest.h>

#include <utility>

namespace tav::cotp {
namespace {

Tpdu Make(Kind kind, std::function<void(Tpdu&)> fill = {}) {
  Tpdu tpdu;
  tpdu.kind = kind;
  if (fill) fill(tpdu);
  return tpdu;
}

constexpr Format kClass0{};
constexpr Format kTp4{false, Numbering::kNormal, false};
constexpr Format kTp4Extended{false, Numbering::kExtended, false};
constexpr Format kTp4Checksum{false, Numbering::kNormal, true};
const Bytes kUserData{0x32, 0x01, 0xAA};

TEST(Cotp, EncodesAndDecodesTheHandLaidTpdus) {
  struct Row {
    const char* what;
    Tpdu tpdu;
    Format format;
    Bytes bytes;
  };
  const Row rows[] = {
      {"class 0 CR",
       Make(Kind::kConnectionRequest,
            [](Tpdu& t) {
              t.sourceReference = 1;
              t.parameters.tpduSizeCode = 0x0A;
              t.parameters.callingTsap = Bytes{1, 0};
              t.parameters.calledTsap = Bytes{3, 2};
            }),
       kClass0,
       {0x11, 0xE0, 0, 0, 0, 1, 0, 0xC0, 1, 0x0A, 0xC1, 2, 1, 0, 0xC2, 2, 3, 2}},
      {"class 0 CC",
       Make(Kind::kConnectionConfirm,
            [](Tpdu& t) {
              t.destinationReference = 1;
              t.sourceReference = 0x4411;
              t.parameters.tpduSizeCode = 0x09;
            }),
       kClass0,
       {0x09, 0xD0, 0, 1, 0x44, 0x11, 0, 0xC0, 1, 0x09}},
      {"class 0 DT",
       Make(Kind::kData,
            [](Tpdu& t) {
              t.endOfTsdu = true;
              t.userData = kUserData;
            }),
       kClass0,
       {0x02, 0xF0, 0x80, 0x32, 0x01, 0xAA}},
      {"class 4 DT",
       Make(Kind::kData,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.number = 5;
              t.endOfTsdu = true;
            }),
       kTp4,
       {0x04, 0xF0, 0x12, 0x34, 0x85}},
      {"class 4 DT, extended",
       Make(Kind::kData,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.number = 0x01020304;
              t.endOfTsdu = true;
            }),
       kTp4Extended,
       {0x07, 0xF0, 0x12, 0x34, 0x81, 0x02, 0x03, 0x04}},
      {"AK",
       Make(Kind::kDataAcknowledge,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.number = 7;
              t.credit = 3;
            }),
       kTp4,
       {0x04, 0x63, 0x12, 0x34, 0x07}},
      {"AK, extended",
       Make(Kind::kDataAcknowledge,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.number = 0x10000;
              t.credit = 0x0100;
            }),
       kTp4Extended,
       {0x09, 0x60, 0x12, 0x34, 0, 1, 0, 0, 1, 0}},
      {"ED",
       Make(Kind::kExpeditedData,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.number = 1;
              t.endOfTsdu = true;
            }),
       kTp4,
       {0x04, 0x10, 0x12, 0x34, 0x81}},
      {"EA",
       Make(Kind::kExpeditedAcknowledge,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.number = 2;
            }),
       kTp4,
       {0x04, 0x20, 0x12, 0x34, 0x02}},
      {"DR",
       Make(Kind::kDisconnectRequest,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.sourceReference = 0x5678;
              t.reason = kReasonNormal;
            }),
       kTp4,
       {0x06, 0x80, 0x12, 0x34, 0x56, 0x78, 0x80}},
      {"DC",
       Make(Kind::kDisconnectConfirm,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.sourceReference = 0x5678;
            }),
       kTp4,
       {0x05, 0xC0, 0x12, 0x34, 0x56, 0x78}},
      {"ER",
       Make(Kind::kError,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.reason = 2;
            }),
       kTp4,
       {0x04, 0x70, 0x12, 0x34, 0x02}},
      {"class 4 CR with checksum",
       Make(Kind::kConnectionRequest,
            [](Tpdu& t) {
              t.credit = 2;
              t.sourceReference = 0x42;
              t.classOptions = kClass4 | kOptionExtendedFormats;
              t.parameters.tpduSizeCode = 0x0B;
              t.parameters.version = 1;
              t.parameters.additionalOptions = 1;
            }),
       kTp4Checksum,
       {0x13, 0xE2, 0, 0,    0,    0x42, 0x42, 0xC3, 2, 0x26,
        0x3D, 0xC0, 1, 0x0B, 0xC4, 1,    1,    0xC6, 1, 1}},
      {"class 4 DT with checksum",
       Make(Kind::kData,
            [](Tpdu& t) {
              t.destinationReference = 0x1234;
              t.number = 5;
              t.endOfTsdu = true;
              t.userData = kUserData;
            }),
       kTp4Checksum,
       {0x08, 0xF0, 0x12, 0x34, 0x85, 0xC3, 2, 0x86, 0x11, 0x32, 0x01, 0xAA}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(Encode(row.tpdu, row.format), row.bytes);
    const std::optional<Tpdu> decoded = Decode(row.bytes, row.format);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->kind, row.tpdu.kind);
    EXPECT_EQ(decoded->number, row.tpdu.number);
    EXPECT_EQ(decoded->credit, row.tpdu.credit);
    EXPECT_EQ(Bytes(decoded->userData.begin(), decoded->userData.end()),
              Bytes(row.tpdu.userData.begin(), row.tpdu.userData.end()));
    // Everything else the fields hold comes back too: what decodes encodes to the same bytes.
    EXPECT_EQ(Encode(*decoded, row.format), row.bytes);
    // A header cut short is malformed, whatever its length indicator claims.
    for (size_t size = 0; size <= row.bytes[0]; ++size) {
      EXPECT_FALSE(Decode(ByteView(row.bytes).first(size), row.format)) << size;
    }
  }
}

TEST(Cotp, AChecksumThatDoesNotHoldIsMalformed) {
  Bytes dt{0x08, 0xF0, 0x12, 0x34, 0x85, 0xC3, 2, 0x86, 0x11, 0x32, 0x01, 0xAA};
  EXPECT_TRUE(ChecksumHolds(dt));
  dt.back() ^= 1;
  EXPECT_FALSE(Decode(dt, kTp4Checksum));
  // Without the parameter where the connection agreed to use it.
  EXPECT_FALSE(Decode(Bytes{0x04, 0xF0, 0x12, 0x34, 0x85}, kTp4Checksum));
  // DTs of the largest octets, long enough for sums far beyond 32 bits, and of octets that differ
  // at every position, in lengths that end inside a 16-octet chunk and beyond a block of 4,096
  // chunks: the sums octet by octet modulo 255 come to zero over what Encode wrote, and a changed
  // octet is noticed.
  for (const auto& [size, varied] :
       {std::pair{size_t{1015}, false}, std::pair{size_t{1} << 20, false},
        std::pair{(size_t{1} << 20) + 4096, false}, std::pair{size_t{1015}, true},
        std::pair{size_t{65536 + 1015}, true}, std::pair{(size_t{1} << 20) + 29, true}}) {
    SCOPED_TRACE(testing::Message() << size << (varied ? " varied" : " of 0xFF"));
    Bytes data(size, 0xFF);
    if (varied) {
      for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 37 + i / 251);
    }
    Tpdu tpdu;
    tpdu.kind = Kind::kData;
    tpdu.userData = data;
    Bytes encoded = Encode(tpdu, kTp4Checksum);
    unsigned c0 = 0, c1 = 0;
    for (const uint8_t octet : encoded) {
      c0 = (c0 + octet) % 255;
      c1 = (c1 + c0) % 255;
    }
    EXPECT_EQ(c0 + c1, 0u);
    EXPECT_TRUE(ChecksumHolds(encoded));
    encoded[encoded.size() / 2] ^= 1;
    EXPECT_FALSE(ChecksumHolds(encoded));
  }
}

}  // namespace
}  // namespace tav::cotp
