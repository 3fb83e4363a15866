// The AreaTypeCodes the transfers dispatch on: the low byte names the element kind, the second
// byte qualifies it ('X' an extended data block, 'B' or 'W' bytes or words of an input, output or
// flag area). The address parser produces them; the host hands them over in the TransferBlock.
#pragma once

#include <cstdint>

namespace tav {

using AreaTypeCode = uint16_t;

constexpr AreaTypeCode MakeAreaTypeCode(uint8_t kind, uint8_t qualifier) {
  return static_cast<AreaTypeCode>(kind | qualifier << 8);
}

// Data blocks. The "odd" kinds start off the natural boundary of their size; their stored offset
// is rounded down to that boundary.
inline constexpr AreaTypeCode kAreaDataWord = 0x00;
inline constexpr AreaTypeCode kAreaDataWordOdd = 0x01;
inline constexpr AreaTypeCode kAreaDataByte = 'B';
inline constexpr AreaTypeCode kAreaDataDouble = 'D';
inline constexpr AreaTypeCode kAreaDataDoubleOdd = 'd';
inline constexpr AreaTypeCode kAreaDataFloat = 'F';
inline constexpr AreaTypeCode kAreaDataFloatOdd = 'f';
inline constexpr AreaTypeCode kAreaString = 'S';

// Kinds of the input, output and flag areas; the qualifier says bytes or words.
inline constexpr uint8_t kAreaInputs = 'I';
inline constexpr uint8_t kAreaOutputs = 'Q';
inline constexpr uint8_t kAreaFlags = 'M';
inline constexpr uint8_t kQualifierBytes = 'B';
inline constexpr uint8_t kQualifierWords = 'W';
inline constexpr uint8_t kQualifierExtended = 'X';

}  // namespace tav
