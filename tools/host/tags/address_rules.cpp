#include "tags/address_rules.h"

#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <iterator>

#include "abi/address_block.h"
#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "vocabulary/element_kinds.h"

namespace tavhost {

namespace {

using tav::AddressRule;

constexpr char kBlank = ' ';
constexpr size_t kNotInText = static_cast<size_t>(-1);
constexpr size_t kBlockTailPosition = 11;  // data-block form: bit number or string length

std::string CharacterName(char c) {
  if (c == kBlank) return "a blank";
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte >= 0x7F) return fmt::format("byte 0x{:02X}", byte);
  return fmt::format("'{}'", c);
}

// What the character at each position of a form is for.
using PositionMeanings = std::array<std::string_view, kAddressCharacters>;

constexpr std::string_view kStationMeaning = "the station number has two digits";
constexpr std::string_view kAreaMeaning =
    "the area letter is D (data block), X (extended data block), S (string), I (inputs), "
    "Q (outputs) or M (flags)";
constexpr std::string_view kBlockMeaning = "the block number has three digits";
constexpr std::string_view kOffsetMeaning = "the offset has four digits";
constexpr std::string_view kTailMeaning =
    "positions 11-12 hold a bit number, a string length or blanks";
constexpr std::string_view kAreaOffsetMeaning = "the byte offset has four digits";
constexpr std::string_view kAreaEndMeaning = "an input, output or flag address ends at position 9";

constexpr PositionMeanings kDataBlockMeanings = {
    kStationMeaning, kStationMeaning,
    kAreaMeaning,    "the data type of a data-block address is B, W, D or F",
    kBlockMeaning,   kBlockMeaning,
    kBlockMeaning,   kOffsetMeaning,
    kOffsetMeaning,  kOffsetMeaning,
    kOffsetMeaning,  kTailMeaning,
    kTailMeaning,
};

constexpr PositionMeanings kAreaMeanings = {
    kStationMeaning,
    kStationMeaning,
    kAreaMeaning,
    "the data type of an input, output or flag address is B or W",
    kAreaOffsetMeaning,
    kAreaOffsetMeaning,
    kAreaOffsetMeaning,
    kAreaOffsetMeaning,
    "position 8 holds the bit number's first digit (0 to 7) or a blank",
    "position 9 holds the bit number's second digit or a blank",
    kAreaEndMeaning,
    kAreaEndMeaning,
    kAreaEndMeaning,
};

// Everything a wording looks at.
struct Subject {
  const AddressReading& reading;
  const tav::AddressVerdict& verdict;
  int32_t hostDataType;
  int32_t elementCount;

  char at(size_t position) const { return reading.workText[position]; }
  uint32_t bitNumber() const {
    const size_t p = verdict.position;
    return static_cast<uint32_t>((at(p) - '0') * 10 + (at(p + 1) - '0'));
  }
};

std::string AreaWords(char area) {
  switch (area) {
    case 'I':
      return "inputs";
    case 'Q':
      return "outputs";
    default:
      return "flags";
  }
}

// Each rule of the grammar in its order: its name and what is wrong, in a sentence.
struct RuleWording {
  AddressRule rule;
  std::string_view name;
  std::string (*reason)(const Subject&);
};

constexpr RuleWording kWordings[] = {
    {AddressRule::kNone, "valid", [](const Subject&) { return std::string("valid"); }},
    {AddressRule::kCharacter, "character",
     [](const Subject& s) {
       const size_t position = s.verdict.position;
       const PositionMeanings& meanings =
           s.reading.dataBlockForm ? kDataBlockMeanings : kAreaMeanings;
       return fmt::format("found {}; {}", CharacterName(s.at(position)), meanings[position]);
     }},
    {AddressRule::kStationRange, "station-range",
     [](const Subject& s) {
       return fmt::format("station {:02}: the station table holds stations 1 to 98",
                          s.reading.station);
     }},
    {AddressRule::kStationNotConfigured, "station-not-configured",
     [](const Subject& s) {
       return s.reading.station == 0
                  ? std::string("station 00 is never configured: station files number 1 to 98")
                  : fmt::format("station {:02} is not configured in the station file",
                                s.reading.station);
     }},
    {AddressRule::kS7ExtendedBlock, "s7-extended-block",
     [](const Subject& s) {
       return fmt::format(
           "station {:02} is an S7 station: extended data blocks (X) exist on S5 "
           "and type-6 stations only (the driver logs this)",
           s.reading.station);
     }},
    {AddressRule::kStringBlock, "string-block",
     [](const Subject& s) {
       return fmt::format("block {}: a string's block number is at most 255", s.reading.block);
     }},
    {AddressRule::kStringDataType, "string-data-type",
     [](const Subject&) { return std::string("a string address takes data type B"); }},
    {AddressRule::kStringHostType, "string-host-type",
     [](const Subject& s) {
       return fmt::format("a string address needs host data type 7, not {}",
                          HostDataTypeName(s.hostDataType));
     }},
    {AddressRule::kStringLength, "string-length",
     [](const Subject& s) {
       return s.at(kBlockTailPosition) == kBlank && s.at(kBlockTailPosition + 1) == kBlank
                  ? std::string(
                        "a string address ends with its length, 1 to 80, at positions "
                        "11-12")
                  : fmt::format("string length {}: a string has 1 to 80 characters",
                                s.reading.stringLength);
     }},
    {AddressRule::kS5Block, "s5-block",
     [](const Subject& s) {
       return fmt::format("block {}: S5 stations have data blocks 0 to 255", s.reading.block);
     }},
    {AddressRule::kS7OddOffset, "s7-odd-offset",
     [](const Subject& s) {
       return fmt::format("byte {}: an S7 double word or float starts at an even byte offset",
                          s.reading.offset);
     }},
    {AddressRule::kOddWordOffset, "odd-word-offset",
     [](const Subject& s) {
       return fmt::format("byte {}: a word of the {} starts at an even byte offset",
                          s.reading.offset, AreaWords(s.reading.area));
     }},
    {AddressRule::kS5Byte, "s5-byte",
     [](const Subject&) {
       return std::string("S5 data blocks hold words: they have no byte addresses (use W)");
     }},
    {AddressRule::kFloatHostType, "float-host-type",
     [](const Subject& s) {
       return fmt::format("a float needs host data type 3, not {}",
                          HostDataTypeName(s.hostDataType));
     }},
    {AddressRule::kDoubleWordHostType, "double-word-host-type",
     [](const Subject& s) {
       return fmt::format("a double word at its boundary needs host data type 4 or 5, not {}",
                          HostDataTypeName(s.hostDataType));
     }},
    {AddressRule::kBitDigits, "bit-digits",
     [](const Subject& s) {
       return fmt::format("a bit tag (host data type 6) needs two bit digits at positions {}-{}",
                          s.verdict.position, s.verdict.position + 1);
     }},
    {AddressRule::kBitRange, "bit-range",
     [](const Subject& s) { return fmt::format("bit {}: bits are 0 to 15", s.bitNumber()); }},
    {AddressRule::kByteBitRange, "byte-bit-range",
     [](const Subject& s) {
       return fmt::format("bit {}: a data-block byte has bits 0 to 7", s.bitNumber());
     }},
    {AddressRule::kBitWithoutBitType, "bit-without-bit-type",
     [](const Subject& s) {
       return fmt::format(
           "a digit at position {} is a bit number, which only a bit tag (host "
           "data type 6) has; this tag has {}",
           s.verdict.position, HostDataTypeName(s.hostDataType));
     }},
    {AddressRule::kCheckString, "check-string",
     [](const Subject&) {
       return std::string("command 4 accepts no string address (command 3 parses it)");
     }},
    {AddressRule::kCheckCount, "check-count",
     [](const Subject& s) {
       return fmt::format("{} elements: command 4 accepts at most 1000", s.elementCount);
     }},
};

// Every rule of the grammar has its wording, in the grammar's order.
constexpr bool EveryRuleHasWording() {
  if (std::size(kWordings) != tav::kAddressRuleCount) return false;
  for (size_t i = 0; i < std::size(kWordings); ++i) {
    if (static_cast<size_t>(kWordings[i].rule) != i || kWordings[i].name.empty()) return false;
  }
  return true;
}
static_assert(EveryRuleHasWording());

// Why a familiar form has no 13-character equivalent, in the grammar's order.
struct FamiliarWording {
  tav::FamiliarRule rule;
  std::string_view name;
  std::string_view reason;
};

constexpr FamiliarWording kFamiliarWordings[] = {
    {tav::FamiliarRule::kNone, "translated", ""},
    {tav::FamiliarRule::kStation, "familiar-station",
     "the station before the colon has two digits, as in 05:DB10.DBW4"},
    {tav::FamiliarRule::kForm, "familiar-form",
     "no address form: write DBn.DBXb.x, DBn.DBBb, DBn.DBWb, DBn.DBDb, IBb, IWb, Ib.x (Q, M "
     "alike) or the 13-character form"},
    {tav::FamiliarRule::kBlockRange, "familiar-block",
     "the 13-character form has data blocks 0 to 999"},
    {tav::FamiliarRule::kOffsetRange, "familiar-offset",
     "the 13-character form has byte offsets 0 to 9999"},
    {tav::FamiliarRule::kBitMissing, "familiar-bit-missing",
     "a bit address names its bit, as DB10.DBX4.3 and M10.3 do"},
    {tav::FamiliarRule::kBitRange, "familiar-bit-range", "a bit of a byte is 0 to 7"},
    {tav::FamiliarRule::kBitNotAllowed, "familiar-bit-not-allowed",
     "only a bit address (DBX, or I, Q, M without a data type) takes a bit number"},
    {tav::FamiliarRule::kAreaDoubleWord, "familiar-area-double-word",
     "the inputs, outputs and flags have bytes and words only, no double words: read two words "
     "(MW, --count 2) instead"},
    {tav::FamiliarRule::kWordBlockStation, "familiar-word-block",
     "the station's data blocks count words, the familiar forms bytes: write the 13-character "
     "form, its offset in words"},
};

constexpr bool EveryFamiliarRuleHasWording() {
  if (std::size(kFamiliarWordings) != tav::kFamiliarRuleCount) return false;
  for (size_t i = 0; i < std::size(kFamiliarWordings); ++i) {
    if (static_cast<size_t>(kFamiliarWordings[i].rule) != i) return false;
  }
  return true;
}
static_assert(EveryFamiliarRuleHasWording());

// The element kind of a code the grammar gives; none for any other.
tav::ElementKind ElementOf(uint32_t areaTypeCode) {
  const tav::AreaKindInfo* area = tav::AreaKindOf(areaTypeCode);
  return area != nullptr ? area->element : tav::ElementKind::kNone;
}

// The host data types an address may ask for, most particular first: the parser accepts a bit
// type only with bit digits, and the others when the kind it finds asks for them.
constexpr int32_t kTypeCandidates[] = {tav::kHostTypeBit, tav::kHostTypeString, tav::kHostTypeFloat,
                                       tav::kHostTypeInteger};
constexpr int32_t kHostTypeWords = 0;

}  // namespace

AddressReading ReadAddress(std::string_view text, AddressCommand command, int32_t hostDataType,
                           int32_t elementCount, const StationLookup& stations) {
  AddressReading reading;
  // The driver reads at most 13 characters, up to a NUL.
  char bounded[kAddressCharacters + 1] = {};
  text.copy(bounded, kAddressCharacters);
  char normalised[kAddressCharacters];
  tav::NormaliseAddress(bounded, normalised);
  reading.workText.assign(normalised, kAddressCharacters);

  tav::AddressBlock block{};
  block.hostDataType = hostDataType;
  block.elementCount = elementCount;
  block.areaTypeCode = reading.areaTypeCode;
  block.packedAddress = reading.packedAddress;
  block.bitNumber = reading.bitNumber;
  block.elementWidth = reading.elementWidth;
  const tav::AddressVerdict verdict = tav::ReadAddressText(normalised, command, stations, block);

  const tav::AddressParts& parts = verdict.parts;
  reading.dataBlockForm = parts.form == tav::AddressForm::kDataBlock;
  if (verdict.rule != AddressRule::kCharacter) {
    reading.station = parts.station;
    reading.area = parts.area;
    reading.kind = parts.kind;
    reading.block = parts.block;
    reading.offset = parts.offset;
    reading.stringLength = parts.stringLength;
    const bool configured = verdict.valid() || verdict.rule > AddressRule::kStationNotConfigured;
    reading.stationView = {configured, parts.plcType};
  }
  if (verdict.valid()) {
    reading.areaTypeCode = block.areaTypeCode;
    reading.packedAddress = block.packedAddress;
    reading.bitNumber = block.bitNumber;
    reading.elementWidth = block.elementWidth;
    return reading;
  }
  const Subject subject{reading, verdict, hostDataType, elementCount};
  const RuleWording& wording = kWordings[static_cast<size_t>(verdict.rule)];
  const size_t position = verdict.width == 0 ? kNotInText : verdict.position;
  reading.refusal =
      Refusal{std::string(wording.name), position, verdict.width, wording.reason(subject)};
  return reading;
}

std::string_view FamiliarRuleName(tav::FamiliarRule rule) {
  return kFamiliarWordings[static_cast<size_t>(rule)].name;
}

std::string FamiliarRefusalText(std::string_view address, tav::FamiliarRule rule) {
  return fmt::format("{}: {}", address, kFamiliarWordings[static_cast<size_t>(rule)].reason);
}

StationLookup StationsOf(const tav::DriverInstance& instance) {
  return {&instance, [](const void* context, int32_t station) -> std::optional<uint8_t> {
            const tav::PlcEntry& entry =
                static_cast<const tav::DriverInstance*>(context)->plcTable[station];
            if (!tav::IsConfigured(entry)) return std::nullopt;
            return entry.plcType;
          }};
}

std::string RefusalText(const Refusal& refusal) {
  if (refusal.position == kNotInText) return refusal.reason;
  if (refusal.width <= 1) return fmt::format("position {}: {}", refusal.position, refusal.reason);
  return fmt::format("positions {}-{}: {}", refusal.position, refusal.position + refusal.width - 1,
                     refusal.reason);
}

std::string StationTypeName(uint8_t plcType) {
  switch (plcType) {
    case tav::kPlcTypeS5:
      return "S5 (type 5)";
    case tav::kPlcTypeS7:
      return "S7 (type 7)";
    default:
      return fmt::format("type {} (S5 memory, reached like an S7 station)", plcType);
  }
}

std::string AreaName(const AddressReading& reading) {
  switch (reading.area) {
    case 'D':
    case 'S':
      return fmt::format("data block {}", reading.block);
    case 'X':
      return fmt::format("extended data block {}", reading.block);
    default:
      return AreaWords(reading.area);
  }
}

std::string ElementName(uint32_t areaTypeCode) {
  const tav::AreaKindInfo* area = tav::AreaKindOf(areaTypeCode);
  if (area != nullptr) return std::string(area->name);
  return fmt::format("kind 0x{:04X}", areaTypeCode);
}

std::string HostDataTypeName(int32_t hostDataType) {
  switch (hostDataType) {
    case tav::kHostTypeFloat:
      return "3 (float)";
    case tav::kHostTypeInteger:
    case tav::kHostTypeOtherInteger:
      return fmt::format("{} (32-bit integer)", hostDataType);
    case tav::kHostTypeBit:
      return "6 (bit)";
    case tav::kHostTypeString:
      return "7 (string)";
    default:
      return fmt::format("{} (no special type)", hostDataType);
  }
}

int32_t HostDataTypeFor(std::string_view address, const StationLookup& stations) {
  // The rules answer as the driver does, without its log line for each try of an X address.
  for (const int32_t candidate : kTypeCandidates) {
    const AddressReading reading =
        ReadAddress(address, AddressCommand::kParse, candidate, 1, stations);
    if (!reading.valid()) continue;
    if (candidate == tav::kHostTypeBit ||
        tav::InfoOf(ElementOf(reading.areaTypeCode)).hostDataType == candidate) {
      return candidate;
    }
  }
  return kHostTypeWords;
}

std::optional<std::string> TransferRefusal(uint32_t areaTypeCode, uint32_t bitNumber) {
  if (bitNumber == tav::kNoBitNumber || ElementOf(areaTypeCode) != tav::ElementKind::kByte ||
      bitNumber < 8) {
    return std::nullopt;
  }
  return fmt::format(
      "bit {} lies beyond the byte: the driver reads and writes bits 0 to 7 of a "
      "byte only (\"bit beyond the element\")",
      bitNumber);
}

}  // namespace tavhost
