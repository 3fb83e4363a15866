#include "h1/connect_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace tav {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes BytesOf(const ConnectRecord& record) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
  return {bytes, bytes + sizeof record};
}

void Put(Bytes& bytes, size_t offset, const Bytes& values) {
  std::copy(values.begin(), values.end(), bytes.begin() + static_cast<ptrdiff_t>(offset));
}

void PutText(Bytes& bytes, size_t offset, const std::string& text) {
  Put(bytes, offset, Bytes(text.begin(), text.end()));
}

// An entry whose every byte is noise, then the fields a station file line sets.
PlcEntry NoisyEntry() {
  PlcEntry entry;
  std::memset(&entry, 0xA5, sizeof entry);
  std::strcpy(entry.ethernetAddress, "0A0B0C0102FE");
  return entry;
}

// The record written out by offset, independently of the struct.
Bytes RecordHead() {
  Bytes bytes(80, 0);
  Put(bytes, 0, {8, 1, 6, 0x0A, 0x0B, 0x0C, 0x01, 0x02, 0xFE});
  return bytes;
}

TEST(ConnectRecord, S5FormCarriesAddressAndTsapsAndNothingElse) {
  PlcEntry entry = NoisyEntry();
  std::strcpy(entry.ltsap, "LOCALTSAP-LONG");  // cut to 8
  std::strcpy(entry.rtsap, "RD");              // zero-padded to 8
  std::strcpy(entry.wtsap, "KORWRITE");

  Bytes expected = RecordHead();
  expected[23] = 8;
  PutText(expected, 24, "RD");
  expected[40] = 8;
  PutText(expected, 41, "LOCALTSA");
  EXPECT_EQ(BytesOf(BuildS5ConnectRecord(entry)), expected);
}

TEST(ConnectRecord, S7FormCarriesAddressSlotAndFixedTsaps) {
  PlcEntry entry = NoisyEntry();
  entry.slot = 0x11;

  Bytes expected = RecordHead();
  Put(expected, 23, {2, 0x03, 0x11});
  Put(expected, 40, {2, 0x01, 0x01});
  EXPECT_EQ(BytesOf(BuildS7ConnectRecord(entry)), expected);
}

struct AddressCase {
  const char* text;
  std::array<uint8_t, 6> bytes;
};

class EthernetAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(EthernetAddressTest, ReadsSixPairsOfHexDigits) {
  char text[16];
  std::memset(text, '7', sizeof text);  // whatever follows the terminator is never read
  std::strcpy(text, GetParam().text);
  uint8_t bytes[6] = {};

  ParseEthernetAddress(text, bytes);

  EXPECT_EQ(std::to_array(bytes), GetParam().bytes) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EthernetAddressTest,
    ::testing::Values(AddressCase{"080006010203", {0x08, 0x00, 0x06, 0x01, 0x02, 0x03}},
                      AddressCase{"FFffAa0a9B0c", {0xFF, 0xFF, 0xAA, 0x0A, 0x9B, 0x0C}},
                      AddressCase{"0A0B0C010203ABC", {0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03}},
                      AddressCase{"0A0B0C01020", {0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x00}},
                      AddressCase{"0A0B0C0102", {0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x00}},
                      AddressCase{"0A0B0C01023", {0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03}},
                      AddressCase{"", {0, 0, 0, 0, 0, 0}},
                      AddressCase{"G1A20B0C0D0E", {0x00, 0xA2, 0x0B, 0x0C, 0x0D, 0x0E}},
                      AddressCase{"1G0B0C0D0E0F", {0x01, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}},
                      AddressCase{"08:00:06:01", {0x08, 0x00, 0x00, 0x06, 0x00, 0x01}}));

}  // namespace
}  // namespace tav
