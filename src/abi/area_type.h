// The AreaTypeCode: the 16-bit code of a tag's kind that the address parser produces and the
// transfers dispatch on. Its low byte is the element kind, its second byte qualifies it: 'X' for an
// extended data block, the data-type letter ('B' or 'W') for an input, output or flag area, and 0
// otherwise. The host carries it in a 32-bit field whose upper half is always 0.
#pragma once

#include <cstdint>

namespace tav {

using AreaTypeCode = uint16_t;

constexpr AreaTypeCode MakeAreaTypeCode(uint8_t kind, uint8_t qualifier) {
  return static_cast<AreaTypeCode>(kind | qualifier << 8);
}
// The low byte, the element kind: what the transfers dispatch on.
constexpr uint8_t KindByte(uint32_t code) {
  return static_cast<uint8_t>(code & 0xFF);
}
// 'X', 'B', 'W' or 0.
constexpr uint8_t AreaQualifier(uint32_t code) {
  return static_cast<uint8_t>(code >> 8 & 0xFF);
}

// Data blocks. The "odd" kinds start off the natural boundary of their size (an odd S7 byte
// offset for a word; an odd S5 word offset or an S7 byte offset 4n+2 for a double word or a
// float); their stored offset is rounded down to that boundary.
inline constexpr AreaTypeCode kAreaDataWord = 0x00;
inline constexpr AreaTypeCode kAreaDataWordOdd = 0x01;
inline constexpr AreaTypeCode kAreaDataByte = 'B';
inline constexpr AreaTypeCode kAreaDataDouble = 'D';
inline constexpr AreaTypeCode kAreaDataDoubleOdd = 'd';
inline constexpr AreaTypeCode kAreaDataFloat = 'F';
inline constexpr AreaTypeCode kAreaDataFloatOdd = 'f';
// A string in a data block; its packed address carries the length.
inline constexpr AreaTypeCode kAreaString = 'S';

// Kinds of the input, output and flag areas; the qualifier says bytes or words.
inline constexpr uint8_t kAreaInputs = 'I';
inline constexpr uint8_t kAreaOutputs = 'Q';
inline constexpr uint8_t kAreaFlags = 'M';
inline constexpr uint8_t kQualifierBytes = 'B';
inline constexpr uint8_t kQualifierWords = 'W';

inline constexpr AreaTypeCode kAreaInputBytes = MakeAreaTypeCode(kAreaInputs, kQualifierBytes);
inline constexpr AreaTypeCode kAreaOutputBytes = MakeAreaTypeCode(kAreaOutputs, kQualifierBytes);
inline constexpr AreaTypeCode kAreaFlagBytes = MakeAreaTypeCode(kAreaFlags, kQualifierBytes);
inline constexpr AreaTypeCode kAreaInputWords = MakeAreaTypeCode(kAreaInputs, kQualifierWords);
inline constexpr AreaTypeCode kAreaOutputWords = MakeAreaTypeCode(kAreaOutputs, kQualifierWords);
inline constexpr AreaTypeCode kAreaFlagWords = MakeAreaTypeCode(kAreaFlags, kQualifierWords);
static_assert(kAreaInputBytes == 0x4249 && kAreaOutputWords == 0x5751 && kAreaFlagWords == 0x574D);

// An extended data block (S5 stations and type 6): the data-block kind with qualifier 'X'.
inline constexpr uint8_t kQualifierExtended = 'X';
inline constexpr AreaTypeCode kAreaExtended = MakeAreaTypeCode(0, kQualifierExtended);
static_assert(kAreaExtended == 0x5800);

}  // namespace tav
