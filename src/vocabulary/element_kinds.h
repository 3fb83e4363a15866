// The kinds of elements a tag holds, and the kind each AreaTypeCode names: what the address
// grammar reports, the transfers move and a host shows, written once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "abi/address_block.h"
#include "abi/area_type.h"

namespace tav {

// The host element of each kind: 16 bits for bytes (zero-extended) and words, 32 bits for double
// words and floats, characters for a string.
enum class ElementKind : uint8_t { kNone, kByte, kWord, kDoubleWord, kFloat, kString };
inline constexpr size_t kElementKinds = 6;

struct ElementKindInfo {
  ElementKind kind;
  std::string_view name;
  uint32_t elementWidth;  // the AddressBlock's element width
  int32_t hostDataType;   // the host data type the kind asks for; 0: none of its own
  uint8_t hostBytes;      // bytes of one host element; a string's characters take one each
};

inline constexpr std::array<ElementKindInfo, kElementKinds> kElementKindTable{{
    {ElementKind::kNone, "none", 16, 0, 2},
    {ElementKind::kByte, "byte", 16, 0, 2},
    {ElementKind::kWord, "word", 16, 0, 2},
    {ElementKind::kDoubleWord, "double word", 32, kHostTypeInteger, 4},
    {ElementKind::kFloat, "float", 32, kHostTypeFloat, 4},
    {ElementKind::kString, "string", 16, kHostTypeString, 1},
}};

constexpr const ElementKindInfo& InfoOf(ElementKind kind) {
  return kElementKindTable[static_cast<size_t>(kind)];
}

// Whether the host holds the kind's elements in 16 bits (unknown kinds count as 16-bit).
constexpr bool IsSixteenBitKind(ElementKind kind) {
  return InfoOf(kind).hostBytes == 2;
}

// Each AreaTypeCode the address grammar gives, without the extended qualifier: its element kind
// and what it is called.
struct AreaKindInfo {
  AreaTypeCode code;
  ElementKind element;
  std::string_view name;
};

inline constexpr AreaKindInfo kAreaKinds[] = {
    {kAreaDataByte, ElementKind::kByte, "byte"},
    {kAreaDataWord, ElementKind::kWord, "word"},
    {kAreaDataWordOdd, ElementKind::kWord, "word at an odd byte"},
    {kAreaDataDouble, ElementKind::kDoubleWord, "double word"},
    {kAreaDataDoubleOdd, ElementKind::kDoubleWord, "double word off its boundary"},
    {kAreaDataFloat, ElementKind::kFloat, "float"},
    {kAreaDataFloatOdd, ElementKind::kFloat, "float off its boundary"},
    {kAreaString, ElementKind::kString, "string"},
    {kAreaInputBytes, ElementKind::kByte, "byte"},
    {kAreaOutputBytes, ElementKind::kByte, "byte"},
    {kAreaFlagBytes, ElementKind::kByte, "byte"},
    {kAreaInputWords, ElementKind::kWord, "word"},
    {kAreaOutputWords, ElementKind::kWord, "word"},
    {kAreaFlagWords, ElementKind::kWord, "word"},
};

// The entry of an AreaTypeCode, an extended data block's as its data block's; none for a code the
// grammar never gives.
constexpr const AreaKindInfo* AreaKindOf(uint32_t areaTypeCode) {
  const uint32_t code =
      AreaQualifier(areaTypeCode) == kQualifierExtended ? KindByte(areaTypeCode) : areaTypeCode;
  for (const AreaKindInfo& info : kAreaKinds) {
    if (info.code == code) return &info;
  }
  return nullptr;
}

}  // namespace tav
