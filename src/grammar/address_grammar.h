// The grammar of a tag's 13-character address, as commands 3 and 4 read it: which form the text
// takes, which rule it breaks and where, and the AddressBlock outputs of a valid address. Pure:
// no logging, no state, no station table; the caller passes the normalised text and a lookup of
// the stations' configured types.
//
// An address names a station (positions 0-1) and either a data block or an input, output or flag
// area:
//   data-block form   SS T K BBB OOOO NN   T = D data block, X extended data block, S string;
//                                          K = B, W, D, F; BBB block; OOOO offset;
//                                          NN bit number or string length, or blanks
//   I/Q/M form        SS A K OOOO NN       A = I, Q, M; K = B, W; OOOO byte offset;
//                                          NN bit number or blanks
// Lower case is accepted and a short text is filled with blanks to 13 characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "abi/address_block.h"

namespace tav {

inline constexpr size_t kAddressLength = 13;

enum class AddressCommand : uint8_t {
  kParse,  // command 3: the host data type counts, the bit digits are read
  kCheck,  // command 4: neither; strings refused, at most 1000 elements
};

// The rules in the order they are applied: the first one an address breaks decides.
enum class AddressRule : uint8_t {
  kNone,                  // valid
  kCharacter,             // a position holds a character its form does not allow
  kStationRange,          // station beyond the station table
  kStationNotConfigured,  // station absent from the station file
  kS7ExtendedBlock,       // X on an S7 station
  kStringBlock,           // a string's block above 255
  kStringDataType,        // a string with a data type other than B
  kStringHostType,        // a string without host data type 7
  kStringLength,          // a string's length missing, 0 or above 80
  kS5Block,               // an S5 data block above 255
  kS7OddOffset,           // an S7 double word or float at an odd byte
  kOddWordOffset,         // a word of inputs, outputs or flags at an odd byte
  kS5Byte,                // a byte of an S5 data block
  kFloatHostType,         // a float without host data type 3
  kDoubleWordHostType,    // an aligned double word without host data type 4 or 5
  kBitDigits,             // a bit tag without two bit digits
  kBitRange,              // a bit above 15
  kByteBitRange,          // a bit of a data-block byte above 7
  kBitWithoutBitType,     // bit digits on a tag that is no bit tag
  kCheckString,           // command 4 on a string address
  kCheckCount,            // command 4 with more than 1000 elements
};
inline constexpr size_t kAddressRuleCount = static_cast<size_t>(AddressRule::kCheckCount) + 1;

enum class AddressForm : uint8_t { kDataBlock, kArea };

// The parts of an address as far as the reading got.
struct AddressParts {
  AddressForm form = AddressForm::kDataBlock;
  int32_t station = -1;
  uint8_t plcType = 0;  // the station's configured type, once looked up
  char area = ' ';      // D, X, S, I, Q, M
  char kind = ' ';      // B, W, D, F
  uint32_t block = 0;
  uint32_t offset = 0;  // as typed
  uint32_t stringLength = 0;
};

// The rule an address breaks (kNone: valid), and the characters it concerns: positions count from
// 0 in the 13-character text; a width of 0 concerns no position.
struct AddressVerdict {
  AddressRule rule = AddressRule::kNone;
  uint8_t position = 0;
  uint8_t width = 0;
  AddressParts parts;

  constexpr bool valid() const { return rule == AddressRule::kNone; }
};

// The configured type of a station 0 to 98, or nothing when the station file leaves it out.
struct StationTypes {
  const void* context;
  std::optional<uint8_t> (*typeOf)(const void* context, int32_t station);
};

// Copies at most 13 characters of `text`, up to its NUL, upper-cased and blank-filled. A null text
// is an empty text. Only ASCII letters change; the host's code page may put other letters above
// 127.
inline void NormaliseAddress(const char* text, std::span<char, kAddressLength> normalised) {
  size_t length = 0;
  if (text != nullptr) {
    for (; length < kAddressLength && text[length] != '\0'; ++length) {
      const char c = text[length];
      normalised[length] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
  }
  for (; length < kAddressLength; ++length) normalised[length] = ' ';
}

// Reads a normalised text as `command` does, with the block's host data type and element count.
// Writes the block's outputs as the reading goes, in the driver's order: a refused address may
// leave some written, and they mean nothing.
AddressVerdict ReadAddressText(std::span<const char, kAddressLength> text, AddressCommand command,
                               StationTypes stations, AddressBlock& block);

}  // namespace tav
