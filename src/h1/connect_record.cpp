#include "h1/connect_record.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "vocabulary/ethernet_address.h"

namespace tav {
namespace {

// No padding: zero-filling the fields zero-fills every byte the library gets.
static_assert(std::has_unique_object_representations_v<ConnectRecord>);

constexpr uint8_t kRecordType = 8;
constexpr uint8_t kRecordVersion = 1;
constexpr uint8_t kS5TsapLength = 8;
constexpr uint8_t kS7TsapLength = 2;
constexpr uint8_t kS7RemoteTsapPrefix = 0x03;  // followed by the CPU slot
constexpr uint8_t kS7LocalTsap[kS7TsapLength] = {0x01, 0x01};

ConnectRecord BuildRecordHead(const PlcEntry& entry) {
  ConnectRecord record{};
  record.recordType = kRecordType;
  record.recordVersion = kRecordVersion;
  record.addressLength = kEthernetAddressBytes;
  ParseEthernetAddress(entry.ethernetAddress, record.ethernetAddress);
  return record;
}

// Copies an S5 TSAP text into a record field: at most 8 characters, zero-padded to 8.
template <size_t N>
void PutS5Tsap(uint8_t (&field)[kTsapFieldBytes], const char (&tsap)[N]) {
  static_assert(N > kS5TsapLength);
  const char* end = std::find(tsap, tsap + kS5TsapLength, '\0');
  std::fill_n(field, kS5TsapLength, uint8_t{0});
  std::transform(tsap, end, field, [](char c) { return static_cast<uint8_t>(c); });
}

}  // namespace

void ParseEthernetAddress(const char (&text)[sizeof PlcEntry::ethernetAddress],
                          uint8_t (&address)[kEthernetAddressBytes]) {
  const size_t length =
      static_cast<size_t>(std::find(std::begin(text), std::end(text), '\0') - std::begin(text));
  for (size_t i = 0; i < kEthernetAddressBytes && 2 * i < length; ++i) {
    const int high = HexDigitValue(text[2 * i]);
    if (high < 0) continue;
    const int low = 2 * i + 1 < length ? HexDigitValue(text[2 * i + 1]) : -1;
    address[i] = static_cast<uint8_t>(low < 0 ? high : high * 16 + low);
  }
}

ConnectRecord BuildS5ConnectRecord(const PlcEntry& entry) {
  ConnectRecord record = BuildRecordHead(entry);
  record.remoteTsapLength = kS5TsapLength;
  PutS5Tsap(record.remoteTsap, entry.rtsap);
  record.localTsapLength = kS5TsapLength;
  PutS5Tsap(record.localTsap, entry.ltsap);
  return record;
}

void SetS5WriteTsap(ConnectRecord& record, const PlcEntry& entry) {
  PutS5Tsap(record.remoteTsap, entry.wtsap);
}

ConnectRecord BuildS7ConnectRecord(const PlcEntry& entry) {
  ConnectRecord record = BuildRecordHead(entry);
  record.remoteTsapLength = kS7TsapLength;
  record.remoteTsap[0] = kS7RemoteTsapPrefix;
  record.remoteTsap[1] = entry.slot;
  record.localTsapLength = kS7TsapLength;
  std::copy(std::begin(kS7LocalTsap), std::end(kS7LocalTsap), record.localTsap);
  return record;
}

}  // namespace tav
