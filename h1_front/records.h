// The records the H1 operations take and answer, as every implementation of the library checks
// and writes them: one set of rules, so that the simulated network, libh1tcp and libh1eth answer a
// bad argument alike. Records are read by copying (the driver's records need not be aligned) and
// answered by writing only the fields the library owns.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/h1_records.h"

namespace tav::front {

// An open's connect record: kBadArgument for a null record or an address that is no Ethernet
// address (its length not 6), else kOk with `record` a copy of it.
uint16_t TakeConnectRecord(const void* connectRecord, ConnectRecord& record);

// The station's Ethernet address the record names.
EthernetAddress StationAddress(const ConnectRecord& record);

// Writes the connection's identifier and the status word into the caller's connect record and
// nothing else of it.
void AnswerConnectRecord(void* connectRecord, uint16_t connection, uint16_t statusWord);

// A send request's record: kBadArgument for a null record, else kOk with `request` a copy of it.
uint16_t TakeRequestRecord(const void* requestRecord, RequestRecord& request);

// The receive operations' arguments: kBadArgument for a null status word, or for a null buffer of
// a non-zero size; else kOk with the status word cleared, so that every answer but an exchange's
// own leaves 0 in it.
uint16_t TakeReadArguments(uint32_t bufferSize, const void* buffer, uint16_t* statusWord);
uint16_t TakeAcknowledgeArguments(uint16_t* statusWord);

// The TSAPs of a connect record, their lengths held to the field.
std::span<const uint8_t> LocalTsap(const ConnectRecord& record);
std::span<const uint8_t> RemoteTsap(const ConnectRecord& record);

// A TSAP as it goes to the station. The fetch/write TSAPs of S5 communication processors are text
// (`text`), 8 characters padded with blanks; the station file pads them with NULs, which go out as
// blanks. S7 TSAPs go out as they are.
std::vector<uint8_t> WireTsap(std::span<const uint8_t> tsap, bool text);

// A TSAP's text without its padding, trailing NULs and blanks, to compare TSAPs however each was
// padded.
std::string_view Unpadded(std::string_view tsap);
std::string_view UnpaddedTsap(std::span<const uint8_t> tsap);

}  // namespace tav::front
