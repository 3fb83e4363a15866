// A tag address read by the address grammar the driver uses (commands 3 and 4), with tavhost's
// wording of each rule it may break: the rule's name and what is wrong, in a sentence. `check`
// still compares every verdict and every output field with the driver's answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "abi/driver_instance.h"
#include "grammar/address_grammar.h"
#include "grammar/familiar_address.h"

namespace tavhost {

inline constexpr size_t kAddressCharacters = tav::kAddressLength;

// What the parser looks up in the station table.
struct StationView {
  bool configured = false;
  uint8_t plcType = 0;
};
using StationLookup = tav::StationTypes;
// The stations of the instance's PlcTable, as command 1 filled it.
StationLookup StationsOf(const tav::DriverInstance& instance);

using tav::AddressCommand;

// The rule an address breaks, and where: positions count from 0 in the 13-character text.
struct Refusal {
  std::string rule;    // a short name, "station-not-configured"
  size_t position;     // first character concerned
  size_t width;        // characters concerned
  std::string reason;  // what is wrong, in a sentence
};

// An address as the rules read it: its parts as far as the reading got, and either the outputs
// of a valid address or the first rule it breaks.
struct AddressReading {
  std::string workText;  // upper-cased, blank-filled to 13 characters
  bool dataBlockForm = false;
  int32_t station = -1;
  StationView stationView;
  char area = ' ';  // D, X, S, I, Q, M
  char kind = ' ';  // B, W, D, F
  uint32_t block = 0;
  uint32_t offset = 0;  // as typed
  uint32_t stringLength = 0;

  std::optional<Refusal> refusal;  // none: valid
  // The outputs of a valid address, as the driver fills the AddressBlock.
  uint32_t areaTypeCode = 0;
  uint32_t packedAddress = 0;
  uint32_t bitNumber = 255;
  uint32_t elementWidth = 16;

  bool valid() const { return !refusal; }
};

// Reads `text` as command 3 (with `hostDataType`) or command 4 (with `elementCount`) does.
AddressReading ReadAddress(std::string_view text, AddressCommand command, int32_t hostDataType,
                           int32_t elementCount, const StationLookup& stations);

// The host data type an address asks for, as the driver's parser sees it (command 3): 6 when it
// names a bit, 7 for a string, 3 for a float, 4 for a double word, 0 otherwise.
int32_t HostDataTypeFor(std::string_view address, const StationLookup& stations);

// Why commands 5 and 7 refuse a tag whose address command 3 accepts: a bit number beyond its
// element (bits 8 to 15 of an input, output or flag byte). None when they take it.
std::optional<std::string> TransferRefusal(uint32_t areaTypeCode, uint32_t bitNumber);

// "positions 0-1: station 99: ...", or the reason alone when it concerns no position.
std::string RefusalText(const Refusal& refusal);

// Why a familiar form ("DB10.DBW4") has no 13-character equivalent: the rule's name,
// "familiar-bit-range", and "DB10.DBX4.9: a bit of a byte is 0 to 7".
std::string_view FamiliarRuleName(tav::FamiliarRule rule);
std::string FamiliarRefusalText(std::string_view address, tav::FamiliarRule rule);

// Names for the explanation.
std::string StationTypeName(uint8_t plcType);         // "S7 (type 7)"
std::string AreaName(const AddressReading& reading);  // "data block 10", "flags"
std::string ElementName(uint32_t areaTypeCode);       // "float at byte 4n+2"
std::string HostDataTypeName(int32_t hostDataType);   // "3 (float)"

}  // namespace tavhost
