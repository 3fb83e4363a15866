// The address forms S7 users type, translated into the 13-character form:
//   DB10.DBX4.3  DB10.DBB2  DB10.DBW4  DB10.DBD8    bit, byte, word, double word (or float) of a
//                                                   data block, at a byte offset
//   IB0  IW2  I0.1  QB1  QW20  Q1.0  MB3  MW10  M10.3   byte, word, bit of inputs, outputs, flags
// with an optional station in front, "05:DB10.DBW4"; without one the address names station 01.
// Lower case is accepted. A text with a colon, or that starts with DB or an area's letters and then
// a digit, is meant as a familiar form; any other is taken as the 13-character form itself (which
// starts with its station's two digits).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "grammar/address_grammar.h"

namespace tav {

// Why a familiar form has no 13-character equivalent.
enum class FamiliarRule : uint8_t {
  kNone,              // translated
  kStation,           // the station before the colon is not two digits
  kForm,              // no form of the table: an unknown area or data type, a missing number
  kBlockRange,        // a data block above 999
  kOffsetRange,       // a byte offset above 9999
  kBitMissing,        // DBX, I, Q, M without a bit number
  kBitRange,          // a bit above 7
  kBitNotAllowed,     // a bit number after a byte, word or double word
  kAreaDoubleWord,    // ID, QD, MD: the input, output and flag areas have bytes and words only
  kWordBlockStation,  // a data block of a station whose data blocks count words (types 5, 6)
};
inline constexpr size_t kFamiliarRuleCount =
    static_cast<size_t>(FamiliarRule::kWordBlockStation) + 1;

struct FamiliarTranslation {
  FamiliarRule rule = FamiliarRule::kNone;
  std::array<char, kAddressLength> text{};  // the 13-character form, blank-filled
  size_t length = 0;                        // its characters before the blanks

  constexpr bool translated() const { return rule == FamiliarRule::kNone; }
  constexpr std::string_view address() const { return {text.data(), length}; }
};

// Whether `text` is meant as a familiar form rather than the 13-character form.
bool IsFamiliarAddress(std::string_view text);

// Translates a familiar form; `asFloat` makes a DBD a float (F) rather than a double word (D). The
// stations' types tell the data blocks that count bytes (type 7) from those that count words.
FamiliarTranslation TranslateFamiliarAddress(std::string_view text, bool asFloat,
                                             StationTypes stations);

}  // namespace tav
