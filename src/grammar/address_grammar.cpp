#include "grammar/address_grammar.h"

#include <array>
#include <string_view>

#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "vocabulary/element_kinds.h"

namespace tav {
namespace {

// Positions in the text. Both forms begin with the station and the area letter.
constexpr size_t kStationPosition = 0;  // two digits
constexpr size_t kAreaPosition = 2;     // D, X, S or I, Q, M
constexpr size_t kKindPosition = 3;     // B, W, D, F
// Data-block form.
constexpr size_t kBlockPosition = 4;        // three digits
constexpr size_t kBlockOffsetPosition = 7;  // four digits
constexpr size_t kBlockTailPosition = 11;   // bit number or string length: two digits or blanks
// I/Q/M form.
constexpr size_t kAreaOffsetPosition = 4;  // four digits
constexpr size_t kAreaBitPosition = 8;     // bit number: two digits or blanks

// Letters of the syntax.
constexpr char kDataBlock = 'D';
constexpr char kExtendedBlock = 'X';
constexpr char kString = 'S';
constexpr char kByte = 'B';
constexpr char kWord = 'W';
constexpr char kBlank = ' ';

constexpr uint32_t kS5LastBlock = 255;
// A string's block number has 8 bits of the packed address.
constexpr uint32_t kStringLastBlock = 255;
constexpr uint32_t kStringMaxLength = 80;
constexpr uint32_t kLastBitNumber = 15;
constexpr uint32_t kLastByteBitNumber = 7;
constexpr uint32_t kWordWidth = InfoOf(ElementKind::kWord).elementWidth;
constexpr uint32_t kDoubleWordWidth = InfoOf(ElementKind::kDoubleWord).elementWidth;
static_assert(InfoOf(ElementKind::kFloat).elementWidth == kDoubleWordWidth);
constexpr int32_t kMaxCheckedElements = 1000;

// The characters each of the 13 positions may hold, one table per form; position 2 tells the
// forms apart.
using CharacterClasses = std::array<std::string_view, kAddressLength>;

constexpr CharacterClasses kDataBlockClasses = {
    "0123456789",   // 0-1 station
    "1234567890",   //
    "DSX",          // 2 data block, string, extended data block
    "BWDF",         // 3 byte, word, double word, float
    "0123456789",   // 4-6 block number
    "0123456789",   //
    "0123456789",   //
    "0123456789",   // 7-10 offset
    "0123456789",   //
    "0123456789",   //
    "0123456789",   //
    "0123456789 ",  // 11-12 bit number, string length or blanks
    "0123456789 ",  //
};

constexpr CharacterClasses kAreaClasses = {
    "0123456789",   // 0-1 station
    "1234567890",   //
    "IQM",          // 2 inputs, outputs, flags
    "BW",           // 3 byte, word
    "0123456789",   // 4-7 byte offset
    "0123456789",   //
    "0123456789",   //
    "0123456789",   //
    "01234567 ",    // 8-9 bit number or blanks
    "0123456789 ",  //
    " ",            // 10-12 blanks
    " ",            //
    " ",            //
};

// For each character, the positions of a form that allow it (bit p for position p): one look-up
// per position.
using PositionMasks = std::array<uint16_t, 256>;

constexpr PositionMasks MasksOf(const CharacterClasses& classes) {
  PositionMasks masks{};
  for (size_t position = 0; position < kAddressLength; ++position) {
    for (const char c : classes[position]) {
      masks[static_cast<unsigned char>(c)] |= static_cast<uint16_t>(1u << position);
    }
  }
  return masks;
}

constexpr PositionMasks kDataBlockMasks = MasksOf(kDataBlockClasses);
constexpr PositionMasks kAreaMasks = MasksOf(kAreaClasses);

// Where in the text each rule points.
enum class Span : uint8_t {
  kCharacter,
  kStation,
  kArea,
  kKind,
  kBlock,
  kOffset,
  kBits,
  kBit,
  kNone
};

constexpr std::array<Span, kAddressRuleCount> kRuleSpans = {
    Span::kNone,  // kNone
    Span::kCharacter, Span::kStation, Span::kStation, Span::kArea,
    Span::kBlock,   // kStringBlock
    Span::kKind,    // kStringDataType
    Span::kArea,    // kStringHostType
    Span::kBits,    // kStringLength
    Span::kBlock,   // kS5Block
    Span::kOffset,  // kS7OddOffset
    Span::kOffset,  // kOddWordOffset
    Span::kKind,    // kS5Byte
    Span::kKind,    // kFloatHostType
    Span::kKind,    // kDoubleWordHostType
    Span::kBits,    // kBitDigits
    Span::kBits,    // kBitRange
    Span::kBits,    // kByteBitRange
    Span::kBit,     // kBitWithoutBitType
    Span::kArea,    // kCheckString
    Span::kNone,    // kCheckCount
};

// One reading: the text, what the command takes into account, and the parts found so far.
struct Reading {
  std::span<const char, kAddressLength> text;
  AddressCommand command;
  AddressBlock& block;
  AddressParts parts;
  uint8_t characterPosition = 0;

  // The decimal number in `digits` positions from `position`; they all hold digits.
  uint32_t Number(size_t position, size_t digits) const {
    uint32_t value = 0;
    for (size_t i = position; i < position + digits; ++i) {
      value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    return value;
  }
  bool DataBlockForm() const { return parts.form == AddressForm::kDataBlock; }
  bool S7() const { return parts.plcType == kPlcTypeS7; }
  size_t BitPosition() const { return DataBlockForm() ? kBlockTailPosition : kAreaBitPosition; }
};

constexpr bool IsOdd(uint32_t offset) {
  return (offset & 1) != 0;
}
constexpr uint32_t Letter(char c) {
  return static_cast<unsigned char>(c);
}

// The code of a double word or float that starts off its natural boundary.
constexpr uint32_t OddVariant(uint32_t code) {
  return code == kAreaDataFloat ? kAreaDataFloatOdd : kAreaDataDoubleOdd;
}

// The form position 2 asks for, and the first position whose character that form does not allow.
[[nodiscard]] AddressRule ReadCharacters(Reading& r) {
  const auto at = [&r](size_t position) { return static_cast<unsigned char>(r.text[position]); };
  const bool area = (kAreaMasks[at(kAreaPosition)] >> kAreaPosition & 1u) != 0;
  r.parts.form = area ? AddressForm::kArea : AddressForm::kDataBlock;
  const PositionMasks& masks = area ? kAreaMasks : kDataBlockMasks;
  for (size_t position = 0; position < kAddressLength; ++position) {
    if ((masks[at(position)] >> position & 1u) == 0) {
      r.characterPosition = static_cast<uint8_t>(position);
      return AddressRule::kCharacter;
    }
  }
  return AddressRule::kNone;
}

// The parts of a text that passed the character check.
void ReadParts(Reading& r) {
  r.parts.station = static_cast<int32_t>(r.Number(kStationPosition, 2));
  r.parts.area = r.text[kAreaPosition];
  r.parts.kind = r.text[kKindPosition];
  if (r.DataBlockForm()) {
    r.parts.block = r.Number(kBlockPosition, 3);
    r.parts.offset = r.Number(kBlockOffsetPosition, 4);
  } else {
    r.parts.offset = r.Number(kAreaOffsetPosition, 4);
  }
}

// Block number, offset conversion and packed address of a D or X address. S5 data blocks count
// words, S7 data blocks bytes; the code tells the transfers where the element starts.
[[nodiscard]] AddressRule ReadDataBlock(Reading& r) {
  AddressBlock& block = r.block;
  if (r.parts.plcType == kPlcTypeS5 && r.parts.block > kS5LastBlock) return AddressRule::kS5Block;

  uint32_t offset = r.parts.offset;
  const bool s7 = r.S7();
  switch (block.areaTypeCode) {
    case Letter(kWord):
      block.areaTypeCode = kAreaDataWord;
      if (s7) {
        if (IsOdd(offset)) block.areaTypeCode = kAreaDataWordOdd;
        offset /= 2;
      }
      break;
    case kAreaDataFloat:
    case kAreaDataDouble:
      if (s7) {
        if (IsOdd(offset)) return AddressRule::kS7OddOffset;
        if ((offset & 2) != 0) block.areaTypeCode = OddVariant(block.areaTypeCode);
        offset /= 4;
      } else {
        if (IsOdd(offset)) block.areaTypeCode = OddVariant(block.areaTypeCode);
        offset /= 2;
      }
      block.elementWidth = kDoubleWordWidth;
      break;
    default:  // bytes keep the offset as typed
      break;
  }
  block.packedAddress = PackAddress(offset, r.parts.block);
  return AddressRule::kNone;
}

// Byte offset, code and packed address of an I, Q or M address. Both station types count bytes;
// S7 word areas are addressed in words.
[[nodiscard]] AddressRule ReadArea(Reading& r) {
  uint32_t offset = r.parts.offset;
  r.block.areaTypeCode =
      MakeAreaTypeCode(static_cast<uint8_t>(r.parts.area), static_cast<uint8_t>(r.parts.kind));
  if (r.parts.kind == kWord) {
    if (IsOdd(offset)) return AddressRule::kOddWordOffset;
    if (r.S7()) offset /= 2;
  }
  r.block.packedAddress = offset;
  return AddressRule::kNone;
}

// What the host data type demands of the address (command 3 only): floats need the float type,
// 'D' double words an integer type, bit tags two bit digits and every other tag none.
[[nodiscard]] AddressRule CheckHostDataType(Reading& r) {
  AddressBlock& block = r.block;
  const int32_t hostType = block.hostDataType;
  const uint32_t code = block.areaTypeCode;
  if (hostType != kHostTypeFloat && (code == kAreaDataFloat || code == kAreaDataFloatOdd)) {
    return AddressRule::kFloatHostType;
  }
  // Only the aligned double word: an odd one ('d') passes with any type.
  if (code == kAreaDataDouble && hostType != kHostTypeInteger &&
      hostType != kHostTypeOtherInteger) {
    return AddressRule::kDoubleWordHostType;
  }

  const size_t bitPosition = r.BitPosition();
  if (hostType != kHostTypeBit) {
    // The position after the first bit digit is not examined.
    return r.text[bitPosition] == kBlank ? AddressRule::kNone : AddressRule::kBitWithoutBitType;
  }
  if (r.text[bitPosition] == kBlank || r.text[bitPosition + 1] == kBlank) {
    return AddressRule::kBitDigits;
  }
  block.bitNumber = r.Number(bitPosition, 2);
  if (block.bitNumber > kLastBitNumber) return AddressRule::kBitRange;
  // A data-block byte has 8 bits; the input, output and flag bytes take 0 to 15 like words.
  if (code == kAreaDataByte && block.bitNumber > kLastByteBitNumber) {
    return AddressRule::kByteBitRange;
  }
  return AddressRule::kNone;
}

// A string in a data block: always a byte address, always host type 7 (in check mode too), with a
// length of 1 to 80 characters in positions 11-12.
[[nodiscard]] AddressRule ReadString(Reading& r) {
  // The packed address holds a string's block number in 8 bits: a larger one would address
  // another block and spill into the length, whatever the station's type.
  if (r.parts.block > kStringLastBlock) return AddressRule::kStringBlock;
  if (r.parts.kind != kByte) return AddressRule::kStringDataType;
  if (r.block.hostDataType != kHostTypeString) return AddressRule::kStringHostType;

  // The length digits may stand with a blank before or after them: 05, "5 " and " 5" are all 5.
  uint32_t length = 0;
  bool anyDigit = false;
  for (size_t i = kBlockTailPosition; i < kAddressLength; ++i) {
    if (r.text[i] == kBlank) continue;
    length = length * 10 + r.Number(i, 1);
    anyDigit = true;
  }
  r.parts.stringLength = length;
  if (!anyDigit || length == 0 || length > kStringMaxLength) return AddressRule::kStringLength;

  r.block.packedAddress = PackStringAddress(r.parts.offset, r.parts.block, length);
  return AddressRule::kNone;
}

[[nodiscard]] AddressRule Read(Reading& r, StationTypes stations) {
  if (const AddressRule rule = ReadCharacters(r); rule != AddressRule::kNone) return rule;
  ReadParts(r);

  AddressBlock& block = r.block;
  block.bitNumber = kNoBitNumber;
  block.elementWidth = kWordWidth;
  block.plcNumber = r.parts.station;
  if (!IsStationNumber(r.parts.station)) return AddressRule::kStationRange;
  const std::optional<uint8_t> plcType = stations.typeOf(stations.context, r.parts.station);
  if (!plcType) return AddressRule::kStationNotConfigured;
  r.parts.plcType = *plcType;

  const char area = r.parts.area;
  if (r.S7() && area == kExtendedBlock) return AddressRule::kS7ExtendedBlock;

  // A data-block address starts from its data-type letter, any other from its area letter.
  const bool blockOrExtended = area == kDataBlock || area == kExtendedBlock;
  block.areaTypeCode = Letter(blockOrExtended ? r.parts.kind : area);
  if (area == kString) {
    const AddressRule rule = ReadString(r);
    if (rule != AddressRule::kNone) return rule;
    return r.command == AddressCommand::kCheck ? AddressRule::kCheckString : AddressRule::kNone;
  }

  const AddressRule place = r.DataBlockForm() ? ReadDataBlock(r) : ReadArea(r);
  if (place != AddressRule::kNone) return place;
  // S5 data blocks have no byte addresses.
  if (r.parts.plcType == kPlcTypeS5 && blockOrExtended && r.parts.kind == kByte) {
    return AddressRule::kS5Byte;
  }
  if (r.command == AddressCommand::kParse) {
    if (const AddressRule rule = CheckHostDataType(r); rule != AddressRule::kNone) return rule;
  }
  if (area == kExtendedBlock) block.areaTypeCode |= kAreaExtended;
  if (r.command == AddressCommand::kCheck && block.elementCount > kMaxCheckedElements) {
    return AddressRule::kCheckCount;
  }
  return AddressRule::kNone;
}

// The characters a rule concerns, as (position, width).
std::pair<size_t, size_t> SpanOf(AddressRule rule, const Reading& r) {
  switch (kRuleSpans[static_cast<size_t>(rule)]) {
    case Span::kCharacter:
      return {r.characterPosition, 1};
    case Span::kStation:
      return {kStationPosition, 2};
    case Span::kArea:
      return {kAreaPosition, 1};
    case Span::kKind:
      return {kKindPosition, 1};
    case Span::kBlock:
      return {kBlockPosition, 3};
    case Span::kOffset:
      return {r.DataBlockForm() ? kBlockOffsetPosition : kAreaOffsetPosition, 4};
    case Span::kBits:
      return {r.BitPosition(), 2};
    case Span::kBit:
      return {r.BitPosition(), 1};
    case Span::kNone:
      break;
  }
  return {0, 0};
}

}  // namespace

AddressVerdict ReadAddressText(std::span<const char, kAddressLength> text, AddressCommand command,
                               StationTypes stations, AddressBlock& block) {
  Reading reading{text, command, block, {}};
  const AddressRule rule = Read(reading, stations);
  if (rule == AddressRule::kNone) return {rule, 0, 0, reading.parts};
  const auto [position, width] = SpanOf(rule, reading);
  return {rule, static_cast<uint8_t>(position), static_cast<uint8_t>(width), reading.parts};
}

}  // namespace tav
