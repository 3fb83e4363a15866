#include "address/address_parser.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "abi/address_block.h"
#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "platform/host_log.h"

namespace tav {
namespace {

constexpr size_t kAddressLength = 13;

// Positions in the work text. Both forms begin with the station and the area letter.
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
constexpr char kByte = 'B';
constexpr char kWord = 'W';
constexpr char kBlank = ' ';

constexpr uint32_t kS5LastBlock = 255;
// A string's block number has 8 bits of the packed address.
constexpr uint32_t kStringLastBlock = 255;
constexpr uint32_t kStringMaxLength = 80;
constexpr uint32_t kLastBitNumber = 15;
constexpr uint32_t kLastByteBitNumber = 7;
constexpr uint32_t kWordWidth = 16;
constexpr uint32_t kDoubleWordWidth = 32;
constexpr int32_t kMaxCheckedElements = 1000;

// The characters each of the 13 positions may hold, one table per form. A text belongs to a form
// when every character lies in its position's set; position 2 tells the forms apart.
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

// The parser's process-wide work area, shared by every instance: the normalised text of the
// address being parsed, and 1 while command 4's parse runs.
char workText[kAddressLength];
uint8_t checkMode = 0;

enum class Outcome : uint8_t { kValid, kInvalid };

constexpr CommandResult ToResult(Outcome outcome) {
  return outcome == Outcome::kValid ? 0 : 1;
}

// Only ASCII letters change; the host's code page may put other letters above 127.
constexpr char ToUpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Copies at most 13 characters of the text, up to its NUL, upper-cased and blank-filled.
void Normalise(const char* text) {
  size_t length = 0;
  if (text != nullptr) {
    for (; length < kAddressLength && text[length] != '\0'; ++length) {
      workText[length] = ToUpperAscii(text[length]);
    }
  }
  std::fill(workText + length, workText + kAddressLength, kBlank);
}

bool Matches(const CharacterClasses& classes) {
  for (size_t position = 0; position < kAddressLength; ++position) {
    if (classes[position].find(workText[position]) == std::string_view::npos) return false;
  }
  return true;
}

// The decimal number in `digits` positions from `position`; they all hold digits.
uint32_t Number(size_t position, size_t digits) {
  uint32_t value = 0;
  for (size_t i = position; i < position + digits; ++i) {
    value = value * 10 + static_cast<uint32_t>(workText[i] - '0');
  }
  return value;
}

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

// Block number, offset conversion and packed address of a D or X address. S5 data blocks count
// words, S7 data blocks bytes; the code tells the transfers where the element starts.
[[nodiscard]] Outcome ParseDataBlock(uint8_t plcType, AddressBlock& block) {
  const uint32_t blockNumber = Number(kBlockPosition, 3);
  if (plcType == kPlcTypeS5 && blockNumber > kS5LastBlock) return Outcome::kInvalid;

  uint32_t offset = Number(kBlockOffsetPosition, 4);
  const bool s7 = plcType == kPlcTypeS7;
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
        if (IsOdd(offset)) return Outcome::kInvalid;
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
  block.packedAddress = PackAddress(offset, blockNumber);
  return Outcome::kValid;
}

// Byte offset, code and packed address of an I, Q or M address. Both station types count bytes;
// S7 word areas are addressed in words.
[[nodiscard]] Outcome ParseArea(uint8_t plcType, AddressBlock& block) {
  uint32_t offset = Number(kAreaOffsetPosition, 4);
  const char kind = workText[kKindPosition];
  block.areaTypeCode =
      MakeAreaTypeCode(static_cast<uint8_t>(workText[kAreaPosition]), static_cast<uint8_t>(kind));
  if (kind == kWord) {
    if (IsOdd(offset)) return Outcome::kInvalid;
    if (plcType == kPlcTypeS7) offset /= 2;
  }
  block.packedAddress = offset;
  return Outcome::kValid;
}

// What the host data type demands of the address (command 3 only): floats need the float type,
// 'D' double words an integer type, bit tags two bit digits and every other tag none.
[[nodiscard]] Outcome CheckHostDataType(bool dataBlockForm, AddressBlock& block) {
  const int32_t hostType = block.hostDataType;
  const uint32_t code = block.areaTypeCode;
  if (hostType != kHostTypeFloat && (code == kAreaDataFloat || code == kAreaDataFloatOdd)) {
    return Outcome::kInvalid;
  }
  // Only the aligned double word: an odd one ('d') passes with any type.
  if (code == kAreaDataDouble && hostType != kHostTypeInteger &&
      hostType != kHostTypeOtherInteger) {
    return Outcome::kInvalid;
  }

  const size_t bitPosition = dataBlockForm ? kBlockTailPosition : kAreaBitPosition;
  if (hostType != kHostTypeBit) {
    // The position after the first bit digit is not examined.
    return workText[bitPosition] == kBlank ? Outcome::kValid : Outcome::kInvalid;
  }
  if (workText[bitPosition] == kBlank || workText[bitPosition + 1] == kBlank) {
    return Outcome::kInvalid;
  }
  block.bitNumber = Number(bitPosition, 2);
  if (block.bitNumber > kLastBitNumber) return Outcome::kInvalid;
  // A data-block byte has 8 bits; the input, output and flag bytes take 0 to 15 like words.
  if (code == kAreaDataByte && block.bitNumber > kLastByteBitNumber) return Outcome::kInvalid;
  return Outcome::kValid;
}

// A string in a data block: always a byte address, always host type 7 (in check mode too), with a
// length of 1 to 80 characters in positions 11-12.
[[nodiscard]] Outcome ParseString(AddressBlock& block) {
  // The packed address holds a string's block number in 8 bits: a larger one would address
  // another block and spill into the length, whatever the station's type.
  const uint32_t blockNumber = Number(kBlockPosition, 3);
  if (blockNumber > kStringLastBlock) return Outcome::kInvalid;
  if (workText[kKindPosition] != kByte) return Outcome::kInvalid;
  if (block.hostDataType != kHostTypeString) return Outcome::kInvalid;

  const uint32_t offset = Number(kBlockOffsetPosition, 4);
  // The length digits may stand with a blank before or after them: 05, "5 " and " 5" are all 5.
  uint32_t length = 0;
  bool anyDigit = false;
  for (size_t i = kBlockTailPosition; i < kAddressLength; ++i) {
    if (workText[i] == kBlank) continue;
    length = length * 10 + Number(i, 1);
    anyDigit = true;
  }
  if (!anyDigit || length == 0 || length > kStringMaxLength) return Outcome::kInvalid;

  block.packedAddress = PackStringAddress(offset, blockNumber, length);
  return Outcome::kValid;
}

[[nodiscard]] Outcome Parse(const DriverInstance& instance, AddressBlock& block) {
  Normalise(block.addressText);
  const bool dataBlockForm = Matches(kDataBlockClasses);
  if (!dataBlockForm && !Matches(kAreaClasses)) return Outcome::kInvalid;

  block.bitNumber = kNoBitNumber;
  block.elementWidth = kWordWidth;
  const auto station = static_cast<int32_t>(Number(kStationPosition, 2));
  block.plcNumber = station;
  if (!IsStationNumber(station)) return Outcome::kInvalid;
  const PlcEntry& entry = instance.plcTable[station];
  if (!IsConfigured(entry)) return Outcome::kInvalid;

  const uint8_t plcType = entry.plcType;
  const char area = workText[kAreaPosition];
  if (plcType == kPlcTypeS7 && area == kExtendedBlock) {
    err(kLogLevelBlockType, "TavSH1: S7 PLC does not support Block type X");
    return Outcome::kInvalid;
  }

  // A data-block address starts from its data-type letter, any other from its area letter.
  const bool blockOrExtended = area == kDataBlock || area == kExtendedBlock;
  block.areaTypeCode = Letter(blockOrExtended ? workText[kKindPosition] : area);
  if (block.areaTypeCode == kAreaString) return ParseString(block);

  const Outcome place = dataBlockForm ? ParseDataBlock(plcType, block) : ParseArea(plcType, block);
  if (place != Outcome::kValid) return place;
  // S5 data blocks have no byte addresses.
  if (plcType == kPlcTypeS5 && blockOrExtended && workText[kKindPosition] == kByte) {
    return Outcome::kInvalid;
  }
  if (checkMode == 0 && CheckHostDataType(dataBlockForm, block) != Outcome::kValid) {
    return Outcome::kInvalid;
  }
  if (area == kExtendedBlock) block.areaTypeCode |= kAreaExtended;
  return Outcome::kValid;
}

}  // namespace

CommandResult ParseAddress(const Request& request) {
  auto* block = static_cast<AddressBlock*>(request.parameters);
  if (request.instance == nullptr || block == nullptr) return ToResult(Outcome::kInvalid);
  return ToResult(Parse(*request.instance, *block));
}

CommandResult CheckAddress(const Request& request) {
  auto* block = static_cast<AddressBlock*>(request.parameters);
  if (request.instance == nullptr || block == nullptr) return ToResult(Outcome::kInvalid);

  checkMode = 1;
  const Outcome outcome = Parse(*request.instance, *block);
  checkMode = 0;
  if (outcome != Outcome::kValid) return ToResult(outcome);
  // The check admits no string address, however well formed.
  if (block->areaTypeCode == kAreaString) return ToResult(Outcome::kInvalid);
  if (block->elementCount > kMaxCheckedElements) return ToResult(Outcome::kInvalid);
  return ToResult(Outcome::kValid);
}

}  // namespace tav
