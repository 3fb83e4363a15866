// One tag as tavhost handles it: its address parsed by the driver (command 3) into the host
// array of the width the driver uses for it (transfer.h reads and writes it; values.h shows and
// takes its values as text).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/address_block.h"
#include "runtime/host.h"

namespace tavhost {

// The host element a tag's kind takes.
enum class ValueKind : uint8_t {
  kByte,        // 8 bits, zero-extended into a 16-bit host element
  kWord,        // 16 bits
  kDoubleWord,  // 32-bit integer
  kFloat,       // single-precision float
  kString,      // characters
  kBit,         // one bit of a word, through the value cell
};

// A bit travels in a 32-bit value cell; a 16-bit element lies in bytes 2 and 3 of its cell.
inline constexpr size_t kValueCellBytes = 4;
inline constexpr uint32_t kValueCellShift = 16;

// Bytes of one host element of the kind (a bit's and a string's aside).
size_t ElementBytes(ValueKind kind);

struct Tag {
  std::string address;
  tav::AddressBlock parsed{};
  ValueKind kind = ValueKind::kWord;
  int32_t count = 1;    // elements; a string and a bit are one
  uint8_t plcType = 0;  // the station's type, as the station file made it

  // Bytes of the host array (the value cell for a bit).
  size_t HostBytes() const;
  // A string's length from its packed address.
  uint32_t StringLength() const;
  // The characters of a string that travel: strings move in pairs, so an odd length leaves its
  // last character behind.
  size_t StringCharactersMoved() const;
};

// The most elements of the kind one transfer moves at a station of `plcType`: the driver's
// 10,000-byte TransferBuffer divided by the bytes one element takes there (as the transfer plan
// counts them, vocabulary/area_rules.h).
int32_t MaxElementsPerTransfer(uint32_t areaTypeCode, uint8_t plcType);

// The 13-character form of `address`: the address itself, or the translation of a familiar form
// ("DB10.DBW4", a DBD as a float with host data type 3). A familiar form with no 13-character
// equivalent is reported under `command`, with `exitCode` set; then nothing.
std::optional<std::string> ThirteenCharacterForm(Host& host, std::string_view command,
                                                 const std::string& address,
                                                 std::optional<int32_t> hostDataType,
                                                 int& exitCode);

// The names --type takes beside the numbers: float 3, bit 6, string 7.
CLI::Transformer HostDataTypeNames();

// The host data type an address asks for, as the driver's parser sees it (command 3): 6 when it
// names a bit, 7 for a string, 3 for a float, 4 for a double word, 0 otherwise.
int32_t HostDataTypeOf(Host& host, const std::string& address);

// Parses `address` (command 3, with `hostDataType` or the one the address asks for) for a
// transfer of `count` elements. Returns the tag; or reports under `command` what is wrong with
// the address or the count, sets `exitCode` and returns nothing.
std::optional<Tag> PrepareTag(Host& host, std::string_view command, const std::string& address,
                              std::optional<int32_t> hostDataType, int64_t count, int& exitCode);

// Parses `address` with command 3. Returns the tag, or the driver's result when it refused.
std::optional<Tag> ParseTag(Host& host, const std::string& address, int32_t hostDataType,
                            int32_t count, int32_t& result);

// The kind's name: "byte", "word", "double word", "float", "string", "bit".
std::string_view KindName(ValueKind kind);
}  // namespace tavhost
