// How the data of each area kind lie at a station and pass through the driver's TransferBuffer,
// worked out from the area kinds of element_kinds.h: what the transfer plan builds its requests
// from, and what a host asks when it wants to know how many elements one transfer can move.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "vocabulary/element_kinds.h"

namespace tav {

// Where a kind's data lie at the station.
enum class Placement : uint8_t { kDataBlock, kString, kProcessArea };

// What the low byte of an AreaTypeCode selects: the element kind and where its data lie.
struct AreaRule {
  ElementKind element = ElementKind::kNone;
  Placement placement = Placement::kDataBlock;
};

constexpr Placement PlacementOf(const AreaKindInfo& area) {
  if (area.element == ElementKind::kString) return Placement::kString;
  const uint8_t qualifier = AreaQualifier(area.code);
  return qualifier == kQualifierBytes || qualifier == kQualifierWords ? Placement::kProcessArea
                                                                      : Placement::kDataBlock;
}

// One rule per low byte. Inputs, outputs and flags hold bytes unless the qualifier says words: the
// rule of their low byte is that of their bytes.
constexpr std::array<AreaRule, 256> MakeAreaRules() {
  std::array<AreaRule, 256> rules{};
  for (const AreaKindInfo& area : kAreaKinds) {
    if (AreaQualifier(area.code) == kQualifierWords) continue;
    rules[KindByte(area.code)] = {area.element, PlacementOf(area)};
  }
  return rules;
}

inline constexpr std::array<AreaRule, 256> kAreaRules = MakeAreaRules();

// The rule of a whole AreaTypeCode: its low byte's, with a process area's qualifier applied.
constexpr AreaRule AreaRuleOf(uint32_t areaTypeCode) {
  AreaRule rule = kAreaRules[KindByte(areaTypeCode)];
  if (rule.placement == Placement::kProcessArea && AreaQualifier(areaTypeCode) == kQualifierWords) {
    const AreaKindInfo* words = AreaKindOf(areaTypeCode);
    if (words != nullptr) rule.element = words->element;
  }
  return rule;
}

// Request units per unit of stored offset (start) and per element (length).
struct Scale {
  uint8_t start;
  uint8_t length;
};
struct RequestScales {
  Scale s5;
  Scale s7;
};

// S7 stations count bytes. S5 data blocks count 16-bit words, and S5 inputs, outputs and flags
// count bytes from a byte offset, so their words take two bytes each.
constexpr RequestScales ScalesOf(ElementKind element, bool processArea) {
  switch (element) {
    case ElementKind::kWord:
      return processArea ? RequestScales{{1, 2}, {2, 2}} : RequestScales{{1, 1}, {2, 2}};
    case ElementKind::kDoubleWord:
    case ElementKind::kFloat:
      return {{2, 2}, {4, 4}};
    default:
      return {{1, 1}, {1, 1}};
  }
}

// Bytes of the TransferBuffer per unit of a request's length: a word in an S5 data block (the
// length counts words there), a byte elsewhere.
constexpr size_t BufferBytesPerUnit(bool s7, bool dataBlock) {
  return !s7 && dataBlock ? 2 : 1;
}

// Bytes one element of an AreaTypeCode's kind takes in the TransferBuffer at a station of
// `plcType`: the most elements one transfer moves is kTransferBufferSize divided by it. A string
// (one element, its characters in pairs) and a code of no kind count as words.
constexpr size_t TransferBytesPerElement(uint32_t areaTypeCode, uint8_t plcType) {
  const AreaRule rule = AreaRuleOf(areaTypeCode);
  if (rule.element == ElementKind::kNone || rule.element == ElementKind::kString) return 2;
  const bool s7 = plcType == kPlcTypeS7;
  const RequestScales scales = ScalesOf(rule.element, rule.placement == Placement::kProcessArea);
  const Scale scale = s7 ? scales.s7 : scales.s5;
  return scale.length * BufferBytesPerUnit(s7, rule.placement == Placement::kDataBlock);
}

}  // namespace tav
