#include "grammar/familiar_address.h"

#include <optional>

#include "abi/driver_instance.h"

namespace tav {
namespace {

constexpr int32_t kDefaultStation = 1;
constexpr uint32_t kLastBlock = 999;    // three digits
constexpr uint32_t kLastOffset = 9999;  // four digits
constexpr uint32_t kLastByteBit = 7;
constexpr uint32_t kBeyondAnyNumber = 1'000'000;

enum class Bit : uint8_t { kNone, kRequired };

// One familiar form: the letters that name it, and the area and data-type letters of its
// 13-character form, or the rule it breaks.
struct FamiliarForm {
  std::string_view letters;
  bool dataBlock;  // follows "DBn."
  char area;
  char kind;
  Bit bit;
  FamiliarRule refusal = FamiliarRule::kNone;
};

// Longer letters first: "IB" before "I".
constexpr FamiliarForm kFamiliarForms[] = {
    {"DBX", true, 'D', 'B', Bit::kRequired},
    {"DBB", true, 'D', 'B', Bit::kNone},
    {"DBW", true, 'D', 'W', Bit::kNone},
    {"DBD", true, 'D', 'D', Bit::kNone},
    {"IB", false, 'I', 'B', Bit::kNone},
    {"IW", false, 'I', 'W', Bit::kNone},
    {"ID", false, 'I', 'D', Bit::kNone, FamiliarRule::kAreaDoubleWord},
    {"I", false, 'I', 'B', Bit::kRequired},
    {"QB", false, 'Q', 'B', Bit::kNone},
    {"QW", false, 'Q', 'W', Bit::kNone},
    {"QD", false, 'Q', 'D', Bit::kNone, FamiliarRule::kAreaDoubleWord},
    {"Q", false, 'Q', 'B', Bit::kRequired},
    {"MB", false, 'M', 'B', Bit::kNone},
    {"MW", false, 'M', 'W', Bit::kNone},
    {"MD", false, 'M', 'D', Bit::kNone, FamiliarRule::kAreaDoubleWord},
    {"M", false, 'M', 'B', Bit::kRequired},
};

constexpr char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Takes `letters` off the front of `text`, whatever their case.
bool Take(std::string_view& text, std::string_view letters) {
  if (text.size() < letters.size()) return false;
  for (size_t i = 0; i < letters.size(); ++i) {
    if (Upper(text[i]) != letters[i]) return false;
  }
  text.remove_prefix(letters.size());
  return true;
}

// Takes a decimal number off the front of `text`; one too long for any field reads as beyond it.
std::optional<uint32_t> TakeNumber(std::string_view& text) {
  size_t digits = 0;
  uint32_t value = 0;
  while (digits < text.size() && IsDigit(text[digits])) {
    if (value < kBeyondAnyNumber) value = value * 10 + static_cast<uint32_t>(text[digits] - '0');
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  text.remove_prefix(digits);
  return value;
}

const FamiliarForm* TakeForm(std::string_view& text, bool dataBlock) {
  for (const FamiliarForm& form : kFamiliarForms) {
    if (form.dataBlock == dataBlock && Take(text, form.letters)) return &form;
  }
  return nullptr;
}

// Writes `value` as `digits` decimal digits at `position`.
void PutNumber(FamiliarTranslation& t, size_t position, uint32_t value, size_t digits) {
  for (size_t i = digits; i-- > 0; value /= 10)
    t.text[position + i] = static_cast<char>('0' + value % 10);
  t.length = position + digits;
}

FamiliarTranslation Refused(FamiliarRule rule) {
  FamiliarTranslation t;
  t.rule = rule;
  return t;
}

}  // namespace

bool IsFamiliarAddress(std::string_view text) {
  if (text.find(':') != std::string_view::npos) return true;
  // No 13-character address starts with a letter: it starts with its station.
  const bool dataBlock = Take(text, "DB");
  return (dataBlock || TakeForm(text, false) != nullptr) && !text.empty() && IsDigit(text.front());
}

FamiliarTranslation TranslateFamiliarAddress(std::string_view text, bool asFloat,
                                             StationTypes stations) {
  int32_t station = kDefaultStation;
  if (const size_t colon = text.find(':'); colon != std::string_view::npos) {
    std::string_view prefix = text.substr(0, colon);
    const std::optional<uint32_t> number = TakeNumber(prefix);
    if (colon != 2 || !number || !prefix.empty()) return Refused(FamiliarRule::kStation);
    station = static_cast<int32_t>(*number);
    text.remove_prefix(colon + 1);
  }

  std::optional<uint32_t> block;
  std::string_view rest = text;
  if (Take(rest, "DB") && !rest.empty() && IsDigit(rest.front())) {
    block = TakeNumber(rest);
    if (!Take(rest, ".")) return Refused(FamiliarRule::kForm);
  } else {
    rest = text;
  }
  const FamiliarForm* form = TakeForm(rest, block.has_value());
  const std::optional<uint32_t> offset = form != nullptr ? TakeNumber(rest) : std::nullopt;
  if (!offset) return Refused(FamiliarRule::kForm);
  std::optional<uint32_t> bit;
  if (Take(rest, ".")) {
    bit = TakeNumber(rest);
    if (!bit) return Refused(FamiliarRule::kForm);
  }
  if (!rest.empty()) return Refused(FamiliarRule::kForm);

  if (form->refusal != FamiliarRule::kNone) return Refused(form->refusal);
  if (block && *block > kLastBlock) return Refused(FamiliarRule::kBlockRange);
  if (*offset > kLastOffset) return Refused(FamiliarRule::kOffsetRange);
  if (form->bit == Bit::kRequired && !bit) return Refused(FamiliarRule::kBitMissing);
  if (form->bit == Bit::kNone && bit) return Refused(FamiliarRule::kBitNotAllowed);
  if (bit && *bit > kLastByteBit) return Refused(FamiliarRule::kBitRange);
  // The familiar forms count bytes; the data blocks of types 5 and 6 count words.
  if (block && IsStationNumber(station)) {
    const std::optional<uint8_t> plcType = stations.typeOf(stations.context, station);
    if (plcType && *plcType != kPlcTypeS7) return Refused(FamiliarRule::kWordBlockStation);
  }

  FamiliarTranslation t;
  t.text.fill(' ');
  PutNumber(t, 0, static_cast<uint32_t>(station), 2);
  t.text[2] = form->area;
  t.text[3] = form->kind == 'D' && asFloat ? 'F' : form->kind;
  t.length = 4;
  if (block) PutNumber(t, t.length, *block, 3);
  PutNumber(t, t.length, *offset, 4);
  if (bit) PutNumber(t, t.length, *bit, 2);
  return t;
}

}  // namespace tav
