#include "sim/station.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <optional>
#include <vector>

#include "sim/h1_codes.h"

namespace tav::sim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kDb = static_cast<uint16_t>(AreaKind::kDataBlock);
constexpr uint16_t kDx = static_cast<uint16_t>(AreaKind::kExtendedDataBlock);
constexpr uint16_t kInputs = static_cast<uint16_t>(AreaKind::kInputs);
constexpr uint16_t kOutputs = static_cast<uint16_t>(AreaKind::kOutputs);
constexpr uint16_t kFlags = static_cast<uint16_t>(AreaKind::kFlags);

// A station of `type` with DB 10 and DX 10 of 64 units and every area filled with the pattern
// byte i = i (in PLC order), so that each byte of an answer tells where it came from.
Station PatternStation(StationType type) {
  StationConfig config = S7Station("0A0B0C010201");
  config.type = type;
  Station station(config);
  station.AddBlock(DataBlock(10), 64);
  station.AddBlock(ExtendedDataBlock(10), 64);
  for (AreaRef area : {DataBlock(10), ExtendedDataBlock(10), Inputs(), Outputs(), Flags()}) {
    Bytes pattern(station.Units(area) * station.UnitBytes(area));
    std::iota(pattern.begin(), pattern.end(), uint8_t{0});
    EXPECT_TRUE(station.PutBytes(area, 0, pattern));
  }
  return station;
}

// The whole of an area, in PLC order.
std::optional<Bytes> Image(const Station& station, AreaRef area) {
  return station.Bytes(area, 0, station.Units(area) * station.UnitBytes(area));
}

struct LayoutCase {
  const char* what;
  StationType type;
  RequestRecord request;
  Bytes transfer;  // the transfer buffer's bytes for the pattern
};

// S7 stations and process areas travel in PLC order; the data blocks of word-addressed stations
// as words in host order.
const LayoutCase kLayouts[] = {
    {"S7 data block bytes", StationType::kS7, {1, kDb, 10, 2, 4}, {2, 3, 4, 5}},
    {"S7 inputs", StationType::kS7, {1, kInputs, 0, 7, 2}, {7, 8}},
    {"S7 outputs", StationType::kS7, {1, kOutputs, 0, 0, 1}, {0}},
    {"S7 flags", StationType::kS7, {1, kFlags, 0, 3, 3}, {3, 4, 5}},
    {"S5 data block words", StationType::kS5, {1, kDb, 10, 1, 2}, {3, 2, 5, 4}},
    {"S5 extended data block words", StationType::kS5, {1, kDx, 10, 0, 1}, {1, 0}},
    {"type 6 data block words", StationType::kType6, {1, kDb, 10, 2, 1}, {5, 4}},
    {"S5 inputs are bytes", StationType::kS5, {1, kInputs, 0, 2, 4}, {2, 3, 4, 5}},
    {"S5 flags are bytes", StationType::kS5, {1, kFlags, 0, 9, 1}, {9}},
    {"type 6 outputs are bytes", StationType::kType6, {1, kOutputs, 0, 1, 2}, {1, 2}},
    {"nothing asked", StationType::kS5, {1, kDb, 10, 64, 0}, {}},
};

TEST(StationExchange, FetchAnswersInTheTransferBufferLayout) {
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(c.what);
    const Station station = PatternStation(c.type);
    Bytes buffer(100, 0xEE);
    ASSERT_EQ(station.TransferBytes(c.request), c.transfer.size());
    ASSERT_EQ(station.Fetch(c.request, buffer), h1::kStatusGood);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.transfer.size()), c.transfer);
    EXPECT_EQ(buffer[c.transfer.size()], 0xEE);  // nothing beyond the request
  }
}

TEST(StationExchange, StoreTakesTheSameLayoutBackIntoPlcOrder) {
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(c.what);
    const Station pattern = PatternStation(c.type);
    StationConfig config = pattern.config();
    Station station(config);
    station.AddBlock(DataBlock(10), 64);
    station.AddBlock(ExtendedDataBlock(10), 64);

    ASSERT_EQ(station.Store(c.request, c.transfer), h1::kStatusGood);

    const AreaRef area{*AreaOfKind(c.request.areaKind), c.request.blockNumber};
    const size_t bytes = c.transfer.size();
    EXPECT_EQ(station.Bytes(area, c.request.start, bytes),
              pattern.Bytes(area, c.request.start, bytes));
  }
}

TEST(StationExchange, RefusesRequestsOutsideItsAreas) {
  struct Case {
    const char* what;
    StationType type;
    RequestRecord request;
    size_t bufferSize;
    uint16_t status;
  };
  const Case cases[] = {
      {"unknown area kind", StationType::kS7, {1, 5, 10, 0, 1}, 100, h1::kStatusNoSuchArea},
      {"no such data block", StationType::kS7, {1, kDb, 11, 0, 1}, 100, h1::kStatusNoSuchArea},
      {"no such extended block", StationType::kS5, {1, kDx, 9, 0, 1}, 100, h1::kStatusNoSuchArea},
      {"last byte", StationType::kS7, {1, kDb, 10, 63, 1}, 100, h1::kStatusGood},
      {"one byte past the end", StationType::kS7, {1, kDb, 10, 63, 2}, 100, h1::kStatusOutOfRange},
      {"last word", StationType::kS5, {1, kDb, 10, 62, 2}, 100, h1::kStatusGood},
      {"one word past the end", StationType::kS5, {1, kDb, 10, 63, 2}, 100, h1::kStatusOutOfRange},
      {"start and length wrap 16 bits",
       StationType::kS7,
       {1, kDb, 10, 0xFFFF, 2},
       100,
       h1::kStatusOutOfRange},
      {"past the inputs", StationType::kS5, {1, kInputs, 0, 255, 2}, 100, h1::kStatusOutOfRange},
      {"more than the buffer holds", StationType::kS5, {1, kDb, 10, 0, 8}, 15, h1::kStatusTooLong},
      {"exactly the buffer", StationType::kS5, {1, kDb, 10, 0, 8}, 16, h1::kStatusGood},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Station station = PatternStation(c.type);
    const Station before = station;
    Bytes buffer(c.bufferSize, 0xEE);
    EXPECT_EQ(station.Fetch(c.request, buffer), c.status);
    if (c.status != h1::kStatusGood) {
      EXPECT_EQ(buffer, Bytes(c.bufferSize, 0xEE));
    }

    // A refused write stores nothing.
    const Bytes data(c.bufferSize, 0x55);
    EXPECT_EQ(station.Store(c.request, data), c.status);
    if (c.status != h1::kStatusGood) {
      for (AreaRef area : {DataBlock(10), ExtendedDataBlock(10), Inputs()}) {
        EXPECT_EQ(Image(station, area), Image(before, area));
      }
    }
  }
}

TEST(StationMemory, HoldsValuesAsThePlcDoes) {
  Station s7(S7Station("0A0B0C010201"));
  Station s5(S5Station("0A0B0C010203"));
  for (Station* station : {&s7, &s5}) station->AddBlock(DataBlock(10), 32);

  ASSERT_TRUE(s7.PutDWord(DataBlock(10), 4, 0x1234'5678));
  EXPECT_EQ(s7.Bytes(DataBlock(10), 4, 4), (Bytes{0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(s7.Word(DataBlock(10), 6), 0x5678);

  // An S5 double word lies in two words, the high word first.
  ASSERT_TRUE(s5.PutDWord(DataBlock(10), 4, 0x1234'5678));
  EXPECT_EQ(s5.Word(DataBlock(10), 4), 0x1234);
  EXPECT_EQ(s5.Word(DataBlock(10), 5), 0x5678);

  // Floats: an IEEE single on S7, an S5 float on S5.
  ASSERT_TRUE(s7.PutFloat(DataBlock(10), 8, 1.0));
  EXPECT_EQ(s7.Bytes(DataBlock(10), 8, 4), (Bytes{0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(s7.Float(DataBlock(10), 8), 1.0);
  ASSERT_TRUE(s5.PutFloat(DataBlock(10), 8, 1.0));
  EXPECT_EQ(s5.Word(DataBlock(10), 8), 0x0140);
  EXPECT_EQ(s5.Word(DataBlock(10), 9), 0x0000);
  EXPECT_EQ(s5.Float(DataBlock(10), 8), 1.0);

  // An S5 word holds two characters, the first in its high byte.
  ASSERT_TRUE(s5.PutText(DataBlock(10), 12, "ABC"));
  EXPECT_EQ(s5.Word(DataBlock(10), 12), 0x4142);
  EXPECT_EQ(s5.Text(DataBlock(10), 12, 3), "ABC");

  // Nothing lands outside an area, and nothing is read from outside it.
  EXPECT_FALSE(s7.PutDWord(DataBlock(10), 29, 1));
  EXPECT_FALSE(s5.PutWord(DataBlock(10), 32, 1));
  EXPECT_FALSE(s5.PutWord(DataBlock(11), 0, 1));
  EXPECT_EQ(s7.Word(DataBlock(10), 31), std::nullopt);
  EXPECT_EQ(s5.DWord(DataBlock(10), 31), std::nullopt);
  EXPECT_EQ(s5.Word(Inputs(), 255), std::nullopt);
}

TEST(StationMemory, SizesAreasInTheirOwnUnit) {
  Station s5(S5Station("0A0B0C010203"));
  Station s7(S7Station("0A0B0C010201"));
  EXPECT_TRUE(s5.AddBlock(DataBlock(1), 100));
  EXPECT_TRUE(s7.AddBlock(DataBlock(1), 100));
  EXPECT_EQ(s5.Units(DataBlock(1)), 100u);
  EXPECT_EQ(s5.UnitBytes(DataBlock(1)), 2u);
  EXPECT_EQ(s7.UnitBytes(DataBlock(1)), 1u);
  EXPECT_EQ(s5.UnitBytes(Inputs()), 1u);
  EXPECT_EQ(s5.Units(Inputs()), kDefaultProcessAreaBytes);
  EXPECT_EQ(s5.Units(DataBlock(2)), 0u);

  EXPECT_TRUE(s7.AddBlock(DataBlock(2), kMaxAreaUnits));
  EXPECT_FALSE(s7.AddBlock(DataBlock(3), kMaxAreaUnits + 1));
  EXPECT_FALSE(s7.AddBlock(Inputs(), 10));
}

TEST(EthernetAddress, ReadsTwelveHexadecimalDigits) {
  EXPECT_EQ(ParseEthernetAddress("0A0b0C010203"), (EthernetAddress{0x0A, 0x0B, 0x0C, 1, 2, 3}));
  EXPECT_EQ(FormatEthernetAddress({0x0A, 0x0B, 0x0C, 1, 2, 0xFF}), "0A0B0C0102FF");
  for (const char* bad : {"", "0A0B0C01020", "0A0B0C0102030", "0A0B0C01020G", "0A-0B-0C-01"}) {
    EXPECT_EQ(ParseEthernetAddress(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace tav::sim
