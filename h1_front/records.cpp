#include "h1_front/records.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "vocabulary/byte_order.h"

namespace tav::front {

uint16_t TakeConnectRecord(const void* connectRecord, ConnectRecord& record) {
  if (connectRecord == nullptr) return h1::kBadArgument;
  std::memcpy(&record, connectRecord, sizeof record);
  return record.addressLength == kEthernetAddressBytes ? h1::kOk : h1::kBadArgument;
}

EthernetAddress StationAddress(const ConnectRecord& record) {
  EthernetAddress address;
  std::copy(std::begin(record.ethernetAddress), std::end(record.ethernetAddress), address.begin());
  return address;
}

void AnswerConnectRecord(void* connectRecord, uint16_t connection, uint16_t statusWord) {
  auto* bytes = static_cast<uint8_t*>(connectRecord);
  StoreLe16(bytes + offsetof(ConnectRecord, connection), connection);
  StoreLe16(bytes + offsetof(ConnectRecord, statusWord), statusWord);
}

uint16_t TakeRequestRecord(const void* requestRecord, RequestRecord& request) {
  if (requestRecord == nullptr) return h1::kBadArgument;
  std::memcpy(&request, requestRecord, sizeof request);
  return h1::kOk;
}

uint16_t TakeReadArguments(uint32_t bufferSize, const void* buffer, uint16_t* statusWord) {
  if (buffer == nullptr && bufferSize > 0) return h1::kBadArgument;
  return TakeAcknowledgeArguments(statusWord);
}

uint16_t TakeAcknowledgeArguments(uint16_t* statusWord) {
  if (statusWord == nullptr) return h1::kBadArgument;
  *statusWord = 0;
  return h1::kOk;
}

namespace {

std::span<const uint8_t> TsapField(const uint8_t (&field)[kTsapFieldBytes], uint8_t length) {
  return {field, std::min<size_t>(length, kTsapFieldBytes)};
}

}  // namespace

std::span<const uint8_t> LocalTsap(const ConnectRecord& record) {
  return TsapField(record.localTsap, record.localTsapLength);
}

std::span<const uint8_t> RemoteTsap(const ConnectRecord& record) {
  return TsapField(record.remoteTsap, record.remoteTsapLength);
}

std::vector<uint8_t> WireTsap(std::span<const uint8_t> tsap, bool text) {
  std::vector<uint8_t> wire(tsap.begin(), tsap.end());
  if (text) std::replace(wire.begin(), wire.end(), uint8_t{0}, uint8_t{' '});
  return wire;
}

std::string_view Unpadded(std::string_view tsap) {
  const size_t end = tsap.find_last_not_of(std::string_view("\0 ", 2));
  return end == std::string_view::npos ? std::string_view() : tsap.substr(0, end + 1);
}

std::string_view UnpaddedTsap(std::span<const uint8_t> tsap) {
  return Unpadded({reinterpret_cast<const char*>(tsap.data()), tsap.size()});
}

}  // namespace tav::front
