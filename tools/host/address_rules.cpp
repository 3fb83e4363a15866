#include "address_rules.h"

#include <fmt/core.h>

#include <array>
#include <span>

#include "abi/address_block.h"
#include "abi/area_type.h"
#include "abi/driver_instance.h"

namespace tavhost {

namespace {

constexpr std::string_view kDigits = "0123456789";
constexpr char kBlank = ' ';
constexpr size_t kNotInText = static_cast<size_t>(-1);

// Positions in the 13-character text.
constexpr size_t kAreaPosition = 2;
constexpr size_t kKindPosition = 3;
constexpr size_t kBlockPosition = 4;        // data-block form, three digits
constexpr size_t kBlockOffsetPosition = 7;  // data-block form, four digits
constexpr size_t kBlockTailPosition = 11;   // data-block form: bit number or string length
constexpr size_t kAreaOffsetPosition = 4;   // I/Q/M form, four digits
constexpr size_t kAreaBitPosition = 8;      // I/Q/M form: bit number

constexpr uint32_t kLastBlockS5 = 255;
constexpr uint32_t kLastStringBlock = 255;
constexpr uint32_t kLongestString = 80;
constexpr uint32_t kLastBit = 15;
constexpr uint32_t kLastByteBit = 7;
constexpr int32_t kMostCheckedElements = 1000;

// What each position of a form may hold, and what it is for.
struct PositionRule {
  std::string_view allowed;
  std::string_view meaning;
};
using FormRules = std::array<PositionRule, kAddressCharacters>;

constexpr std::string_view kStationMeaning = "the station number has two digits";
constexpr std::string_view kAreaMeaning =
    "the area letter is D (data block), X (extended data block), S (string), I (inputs), "
    "Q (outputs) or M (flags)";

constexpr FormRules kDataBlockForm = {{
    {kDigits, kStationMeaning},
    {kDigits, kStationMeaning},
    {"DSX", kAreaMeaning},
    {"BWDF", "the data type of a data-block address is B, W, D or F"},
    {kDigits, "the block number has three digits"},
    {kDigits, "the block number has three digits"},
    {kDigits, "the block number has three digits"},
    {kDigits, "the offset has four digits"},
    {kDigits, "the offset has four digits"},
    {kDigits, "the offset has four digits"},
    {kDigits, "the offset has four digits"},
    {"0123456789 ", "positions 11-12 hold a bit number, a string length or blanks"},
    {"0123456789 ", "positions 11-12 hold a bit number, a string length or blanks"},
}};

constexpr FormRules kAreaForm = {{
    {kDigits, kStationMeaning},
    {kDigits, kStationMeaning},
    {"IQM", kAreaMeaning},
    {"BW", "the data type of an input, output or flag address is B or W"},
    {kDigits, "the byte offset has four digits"},
    {kDigits, "the byte offset has four digits"},
    {kDigits, "the byte offset has four digits"},
    {kDigits, "the byte offset has four digits"},
    {"01234567 ", "position 8 holds the bit number's first digit (0 to 7) or a blank"},
    {"0123456789 ", "position 9 holds the bit number's second digit or a blank"},
    {" ", "an input, output or flag address ends at position 9"},
    {" ", "an input, output or flag address ends at position 9"},
    {" ", "an input, output or flag address ends at position 9"},
}};

std::string Normalise(std::string_view text) {
  std::string work;
  for (char c : text) {
    if (c == '\0' || work.size() == kAddressCharacters) break;
    work += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  work.resize(kAddressCharacters, kBlank);
  return work;
}

std::string CharacterName(char c) {
  if (c == kBlank) return "a blank";
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte >= 0x7F) return fmt::format("byte 0x{:02X}", byte);
  return fmt::format("'{}'", c);
}

uint32_t Number(const std::string& text, size_t position, size_t digits) {
  uint32_t value = 0;
  for (size_t i = position; i < position + digits; ++i) {
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  return value;
}

// The first position whose character its form does not allow; the form follows position 2.
std::optional<Refusal> CharacterRefusal(AddressReading& reading) {
  const std::string& text = reading.workText;
  reading.dataBlockForm =
      kAreaForm[kAreaPosition].allowed.find(text[kAreaPosition]) == std::string_view::npos;
  const FormRules& form = reading.dataBlockForm ? kDataBlockForm : kAreaForm;
  for (size_t position = 0; position < kAddressCharacters; ++position) {
    const char c = text[position];
    const bool allowed =
        position == kAreaPosition
            ? (kDataBlockForm[position].allowed.find(c) != std::string_view::npos ||
               kAreaForm[position].allowed.find(c) != std::string_view::npos)
            : form[position].allowed.find(c) != std::string_view::npos;
    if (!allowed) {
      return Refusal{"character", position, 1,
                     fmt::format("found {}; {}", CharacterName(c), form[position].meaning)};
    }
  }
  return std::nullopt;
}

// The parts of a text that passed the character check.
void ReadParts(AddressReading& reading) {
  const std::string& text = reading.workText;
  reading.station = static_cast<int32_t>(Number(text, 0, 2));
  reading.area = text[kAreaPosition];
  reading.kind = text[kKindPosition];
  if (reading.dataBlockForm) {
    reading.block = Number(text, kBlockPosition, 3);
    reading.offset = Number(text, kBlockOffsetPosition, 4);
    for (size_t i = kBlockTailPosition; i < kAddressCharacters; ++i) {
      if (text[i] != kBlank) reading.stringLength = reading.stringLength * 10 + Number(text, i, 1);
    }
  } else {
    reading.offset = Number(text, kAreaOffsetPosition, 4);
  }
}

// Everything a rule looks at.
struct Subject {
  const AddressReading& reading;
  AddressCommand command;
  int32_t hostDataType;
  int32_t elementCount;

  uint8_t plcType() const { return reading.stationView.plcType; }
  bool s7() const { return plcType() == tav::kPlcTypeS7; }
  bool string() const { return reading.area == 'S'; }
  bool blockLike() const { return reading.area == 'D' || reading.area == 'X'; }
  bool wide() const { return blockLike() && (reading.kind == 'D' || reading.kind == 'F'); }
  // A double word or float at its natural boundary: an S7 byte offset 4n, an S5 word offset 2n.
  bool aligned() const { return s7() ? reading.offset % 4 == 0 : reading.offset % 2 == 0; }
  size_t bitPosition() const {
    return reading.dataBlockForm ? kBlockTailPosition : kAreaBitPosition;
  }
  char at(size_t position) const { return reading.workText[position]; }
  uint32_t bitNumber() const { return Number(reading.workText, bitPosition(), 2); }
  bool bitDigits() const { return at(bitPosition()) != kBlank && at(bitPosition() + 1) != kBlank; }
};

// Which addresses a rule looks at.
enum class Path : uint8_t { kAny, kString, kDataBlock, kArea, kNotString };
enum class Commands : uint8_t { kBoth, kParseOnly, kCheckOnly };

struct Rule {
  std::string_view name;
  Path path;
  Commands commands;
  bool (*broken)(const Subject&);
  size_t (*position)(const Subject&);
  size_t width;
  std::string (*reason)(const Subject&);
};

size_t At0(const Subject&) {
  return 0;
}
size_t AtArea(const Subject&) {
  return kAreaPosition;
}
size_t AtKind(const Subject&) {
  return kKindPosition;
}
size_t AtBlock(const Subject&) {
  return kBlockPosition;
}
size_t AtBits(const Subject& s) {
  return s.bitPosition();
}
size_t Nowhere(const Subject&) {
  return kNotInText;
}

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

// The rules in the order the driver applies them: the first one broken decides.
const Rule kRules[] = {
    {"station-range", Path::kAny, Commands::kBoth,
     [](const Subject& s) { return !tav::IsStationNumber(s.reading.station); }, At0, 2,
     [](const Subject& s) {
       return fmt::format("station {:02}: the station table holds stations 1 to 98",
                          s.reading.station);
     }},
    {"station-not-configured", Path::kAny, Commands::kBoth,
     [](const Subject& s) { return !s.reading.stationView.configured; }, At0, 2,
     [](const Subject& s) {
       return s.reading.station == 0
                  ? std::string("station 00 is never configured: station files number 1 to 98")
                  : fmt::format("station {:02} is not configured in the station file",
                                s.reading.station);
     }},
    {"s7-extended-block", Path::kAny, Commands::kBoth,
     [](const Subject& s) { return s.s7() && s.reading.area == 'X'; }, AtArea, 1,
     [](const Subject& s) {
       return fmt::format(
           "station {:02} is an S7 station: extended data blocks (X) exist on S5 "
           "and type-6 stations only (the driver logs this)",
           s.reading.station);
     }},
    {"string-block", Path::kString, Commands::kBoth,
     [](const Subject& s) { return s.reading.block > kLastStringBlock; }, AtBlock, 3,
     [](const Subject& s) {
       return fmt::format("block {}: a string's block number is at most 255", s.reading.block);
     }},
    {"string-data-type", Path::kString, Commands::kBoth,
     [](const Subject& s) { return s.reading.kind != 'B'; }, AtKind, 1,
     [](const Subject&) { return std::string("a string address takes data type B"); }},
    {"string-host-type", Path::kString, Commands::kBoth,
     [](const Subject& s) { return s.hostDataType != tav::kHostTypeString; }, AtArea, 1,
     [](const Subject& s) {
       return fmt::format("a string address needs host data type 7, not {}",
                          HostDataTypeName(s.hostDataType));
     }},
    {"string-length", Path::kString, Commands::kBoth,
     [](const Subject& s) {
       return s.reading.stringLength == 0 || s.reading.stringLength > kLongestString;
     },
     [](const Subject&) { return kBlockTailPosition; }, 2,
     [](const Subject& s) {
       return s.at(kBlockTailPosition) == kBlank && s.at(kBlockTailPosition + 1) == kBlank
                  ? std::string(
                        "a string address ends with its length, 1 to 80, at positions "
                        "11-12")
                  : fmt::format("string length {}: a string has 1 to 80 characters",
                                s.reading.stringLength);
     }},
    {"check-string", Path::kString, Commands::kCheckOnly, [](const Subject&) { return true; },
     AtArea, 1,
     [](const Subject&) {
       return std::string("command 4 accepts no string address (command 3 parses it)");
     }},
    {"s5-block", Path::kDataBlock, Commands::kBoth,
     [](const Subject& s) {
       return s.plcType() == tav::kPlcTypeS5 && s.reading.block > kLastBlockS5;
     },
     AtBlock, 3,
     [](const Subject& s) {
       return fmt::format("block {}: S5 stations have data blocks 0 to 255", s.reading.block);
     }},
    {"s7-odd-offset", Path::kDataBlock, Commands::kBoth,
     [](const Subject& s) { return s.s7() && s.wide() && s.reading.offset % 2 != 0; },
     [](const Subject&) { return kBlockOffsetPosition; }, 4,
     [](const Subject& s) {
       return fmt::format("byte {}: an S7 double word or float starts at an even byte offset",
                          s.reading.offset);
     }},
    {"odd-word-offset", Path::kArea, Commands::kBoth,
     [](const Subject& s) { return s.reading.kind == 'W' && s.reading.offset % 2 != 0; },
     [](const Subject&) { return kAreaOffsetPosition; }, 4,
     [](const Subject& s) {
       return fmt::format("byte {}: a word of the {} starts at an even byte offset",
                          s.reading.offset, AreaWords(s.reading.area));
     }},
    {"s5-byte", Path::kDataBlock, Commands::kBoth,
     [](const Subject& s) { return s.plcType() == tav::kPlcTypeS5 && s.reading.kind == 'B'; },
     AtKind, 1,
     [](const Subject&) {
       return std::string("S5 data blocks hold words: they have no byte addresses (use W)");
     }},
    {"float-host-type", Path::kDataBlock, Commands::kParseOnly,
     [](const Subject& s) {
       return s.reading.kind == 'F' && s.hostDataType != tav::kHostTypeFloat;
     },
     AtKind, 1,
     [](const Subject& s) {
       return fmt::format("a float needs host data type 3, not {}",
                          HostDataTypeName(s.hostDataType));
     }},
    {"double-word-host-type", Path::kDataBlock, Commands::kParseOnly,
     [](const Subject& s) {
       return s.reading.kind == 'D' && s.aligned() && s.hostDataType != tav::kHostTypeInteger &&
              s.hostDataType != tav::kHostTypeOtherInteger;
     },
     AtKind, 1,
     [](const Subject& s) {
       return fmt::format("a double word at its boundary needs host data type 4 or 5, not {}",
                          HostDataTypeName(s.hostDataType));
     }},
    {"bit-digits", Path::kNotString, Commands::kParseOnly,
     [](const Subject& s) { return s.hostDataType == tav::kHostTypeBit && !s.bitDigits(); }, AtBits,
     2,
     [](const Subject& s) {
       return fmt::format("a bit tag (host data type 6) needs two bit digits at positions {}-{}",
                          s.bitPosition(), s.bitPosition() + 1);
     }},
    {"bit-range", Path::kNotString, Commands::kParseOnly,
     [](const Subject& s) {
       return s.hostDataType == tav::kHostTypeBit && s.bitNumber() > kLastBit;
     },
     AtBits, 2,
     [](const Subject& s) { return fmt::format("bit {}: bits are 0 to 15", s.bitNumber()); }},
    {"byte-bit-range", Path::kDataBlock, Commands::kParseOnly,
     [](const Subject& s) {
       return s.hostDataType == tav::kHostTypeBit && s.reading.kind == 'B' &&
              s.bitNumber() > kLastByteBit;
     },
     AtBits, 2,
     [](const Subject& s) {
       return fmt::format("bit {}: a data-block byte has bits 0 to 7", s.bitNumber());
     }},
    {"bit-without-bit-type", Path::kNotString, Commands::kParseOnly,
     [](const Subject& s) {
       return s.hostDataType != tav::kHostTypeBit && s.at(s.bitPosition()) != kBlank;
     },
     AtBits, 1,
     [](const Subject& s) {
       return fmt::format(
           "a digit at position {} is a bit number, which only a bit tag (host "
           "data type 6) has; this tag has {}",
           s.bitPosition(), HostDataTypeName(s.hostDataType));
     }},
    {"check-count", Path::kAny, Commands::kCheckOnly,
     [](const Subject& s) { return s.elementCount > kMostCheckedElements; }, Nowhere, 0,
     [](const Subject& s) {
       return fmt::format("{} elements: command 4 accepts at most 1000", s.elementCount);
     }},
};

bool Applies(const Rule& rule, const Subject& subject) {
  const Path path = subject.string()                ? Path::kString
                    : subject.reading.dataBlockForm ? Path::kDataBlock
                                                    : Path::kArea;
  const bool pathMatches = rule.path == Path::kAny || rule.path == path ||
                           (rule.path == Path::kNotString && path != Path::kString);
  if (!pathMatches) return false;
  switch (rule.commands) {
    case Commands::kParseOnly:
      return subject.command == AddressCommand::kParse;
    case Commands::kCheckOnly:
      return subject.command == AddressCommand::kCheck;
    case Commands::kBoth:
      break;
  }
  return true;
}

// The AreaTypeCode and the packed address of a valid address; S5 data blocks count words, S7
// data blocks bytes, and an element off its natural boundary gets the odd code with the offset
// of the aligned element below it.
void FillOutputs(const Subject& subject, AddressReading& reading) {
  if (subject.string()) {
    reading.areaTypeCode = tav::kAreaString;
    reading.packedAddress =
        tav::PackStringAddress(reading.offset, reading.block, reading.stringLength);
    return;
  }
  if (!reading.dataBlockForm) {
    reading.areaTypeCode = tav::MakeAreaTypeCode(static_cast<uint8_t>(reading.area),
                                                 static_cast<uint8_t>(reading.kind));
    reading.packedAddress =
        reading.kind == 'W' && subject.s7() ? reading.offset / 2 : reading.offset;
  } else {
    uint32_t stored = reading.offset;
    if (reading.kind == 'B') {
      reading.areaTypeCode = tav::kAreaDataByte;
    } else if (reading.kind == 'W') {
      const bool odd = subject.s7() && reading.offset % 2 != 0;
      reading.areaTypeCode = odd ? tav::kAreaDataWordOdd : tav::kAreaDataWord;
      if (subject.s7()) stored /= 2;
    } else {
      const bool isFloat = reading.kind == 'F';
      const uint32_t even = isFloat ? tav::kAreaDataFloat : tav::kAreaDataDouble;
      const uint32_t odd = isFloat ? tav::kAreaDataFloatOdd : tav::kAreaDataDoubleOdd;
      reading.areaTypeCode = subject.aligned() ? even : odd;
      stored /= subject.s7() ? 4 : 2;
      reading.elementWidth = 32;
    }
    if (reading.area == 'X') reading.areaTypeCode |= tav::kAreaExtended;
    reading.packedAddress = tav::PackAddress(stored, reading.block);
  }
  if (subject.command == AddressCommand::kParse && subject.hostDataType == tav::kHostTypeBit) {
    reading.bitNumber = subject.bitNumber();
  }
}

}  // namespace

AddressReading ReadAddress(std::string_view text, AddressCommand command, int32_t hostDataType,
                           int32_t elementCount, const StationLookup& stations) {
  AddressReading reading;
  reading.workText = Normalise(text);
  reading.refusal = CharacterRefusal(reading);
  if (reading.refusal) return reading;
  ReadParts(reading);
  if (tav::IsStationNumber(reading.station)) reading.stationView = stations(reading.station);

  const Subject subject{reading, command, hostDataType, elementCount};
  for (const Rule& rule : kRules) {
    if (!Applies(rule, subject) || !rule.broken(subject)) continue;
    reading.refusal =
        Refusal{std::string(rule.name), rule.position(subject), rule.width, rule.reason(subject)};
    return reading;
  }
  FillOutputs(subject, reading);
  return reading;
}

StationLookup StationsOf(const tav::DriverInstance& instance) {
  return [&instance](int32_t station) {
    const tav::PlcEntry& entry = instance.plcTable[station];
    return StationView{tav::IsConfigured(entry), entry.plcType};
  };
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

namespace {

struct ElementRule {
  uint32_t code;  // the whole AreaTypeCode, without the extended qualifier
  std::string_view name;
};

constexpr ElementRule kElementNames[] = {
    {tav::kAreaDataByte, "byte"},
    {tav::kAreaDataWord, "word"},
    {tav::kAreaDataWordOdd, "word at an odd byte"},
    {tav::kAreaDataDouble, "double word"},
    {tav::kAreaDataDoubleOdd, "double word off its boundary"},
    {tav::kAreaDataFloat, "float"},
    {tav::kAreaDataFloatOdd, "float off its boundary"},
    {tav::kAreaString, "string"},
    {tav::kAreaInputBytes, "byte"},
    {tav::kAreaOutputBytes, "byte"},
    {tav::kAreaFlagBytes, "byte"},
    {tav::kAreaInputWords, "word"},
    {tav::kAreaOutputWords, "word"},
    {tav::kAreaFlagWords, "word"},
};

uint32_t WithoutExtended(uint32_t code) {
  return tav::AreaQualifier(code) == tav::kQualifierExtended ? tav::KindByte(code) : code;
}

}  // namespace

std::string ElementName(uint32_t areaTypeCode) {
  const uint32_t code = WithoutExtended(areaTypeCode);
  for (const ElementRule& rule : kElementNames) {
    if (rule.code == code) return std::string(rule.name);
  }
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

size_t TransferBytesPerElement(uint32_t areaTypeCode, uint8_t plcType) {
  const uint32_t code = WithoutExtended(areaTypeCode);
  switch (tav::KindByte(code)) {
    case tav::kAreaDataByte:
      // Bytes of a data block count bytes on S7 stations; on the word-addressed stations each
      // byte travels in a word of its own.
      return plcType == tav::kPlcTypeS7 ? 1 : 2;
    case tav::kAreaDataDouble:
    case tav::kAreaDataDoubleOdd:
    case tav::kAreaDataFloat:
    case tav::kAreaDataFloatOdd:
      return 4;
    case tav::kAreaInputs:
    case tav::kAreaOutputs:
    case tav::kAreaFlags:
      return tav::AreaQualifier(code) == tav::kQualifierWords ? 2 : 1;
    default:
      return 2;
  }
}

int32_t MaxElementsPerTransfer(uint32_t areaTypeCode, uint8_t plcType) {
  return static_cast<int32_t>(tav::kTransferBufferSize /
                              TransferBytesPerElement(areaTypeCode, plcType));
}

}  // namespace tavhost
