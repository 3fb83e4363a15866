#include "tag.h"

#include <fmt/core.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>

#include "abi/area_type.h"
#include "abi/transfer_block.h"
#include "address_rules.h"
#include "cp437.h"
#include "output.h"
#include "vocabulary/element_kinds.h"
#include "vocabulary/s5_float.h"

namespace tavhost {

namespace {

constexpr size_t kValueCellBytes = 4;
constexpr uint32_t kValueCellShift = 16;  // a 16-bit element lies in bytes 2 and 3 of its cell

// The element kind of a code the grammar gives; words for any other.
tav::ElementKind ElementOf(uint32_t areaTypeCode) {
  const tav::AreaKindInfo* area = tav::AreaKindOf(areaTypeCode);
  return area != nullptr ? area->element : tav::ElementKind::kWord;
}

// The host element of each element kind, in the vocabulary's order.
constexpr ValueKind kValueKinds[] = {ValueKind::kWord,       ValueKind::kByte,  ValueKind::kWord,
                                     ValueKind::kDoubleWord, ValueKind::kFloat, ValueKind::kString};
static_assert(std::size(kValueKinds) == tav::kElementKinds);

ValueKind KindOf(const tav::AddressBlock& parsed) {
  if (parsed.bitNumber != tav::kNoBitNumber) return ValueKind::kBit;
  return kValueKinds[static_cast<size_t>(ElementOf(parsed.areaTypeCode))];
}

size_t ElementBytes(ValueKind kind) {
  return kind == ValueKind::kDoubleWord || kind == ValueKind::kFloat ? 4 : 2;
}

tav::TransferBlock Block(const Tag& tag, std::vector<uint8_t>& values) {
  return tav::TransferBlockFor(tag.parsed, tag.address.c_str(), tag.count, values.data());
}

std::optional<ExchangeOutcome>& LastOutcome() {
  static std::optional<ExchangeOutcome> outcome;
  return outcome;
}

// Runs a transfer command on the tag and keeps what the driver logged of a failed exchange.
int32_t Transfer(Host& host, tav::CommandCode command, const Tag& tag,
                 std::vector<uint8_t>& values) {
  tav::TransferBlock block = Block(tag, values);
  const uint64_t linesBefore = DriverLogCount();
  const int32_t result = host.driver().Run(&host.instance(), command, &block, host.driverNumber());
  LastOutcome() = result != 0 && DriverLogCount() != linesBefore
                      ? ExchangeOutcomeOf(LastDriverLog(), tag.address)
                      : std::nullopt;
  return result;
}

// An integer as typed: an optional minus, then decimal digits or 0x and hexadecimal digits, and
// nothing else (a second sign, "0x-5", is no number). Magnitudes beyond every element saturate,
// so that they are refused as out of range.
std::optional<int64_t> Integer(const std::string& text) {
  std::string_view digits = text;
  const bool negative = digits.starts_with('-');
  if (negative) digits.remove_prefix(1);
  int base = 10;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    base = 16;
    digits.remove_prefix(2);
  }
  constexpr uint64_t kBeyondAnyElement = uint64_t{1} << 40;
  uint64_t magnitude = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (digits.empty() || end != digits.data() + digits.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    magnitude = kBeyondAnyElement;
  } else if (error != std::errc()) {
    return std::nullopt;
  }
  const auto value = static_cast<int64_t>(std::min(magnitude, kBeyondAnyElement));
  return negative ? -value : value;
}

// The integers each integer kind takes: the element's unsigned range, and its negative half as
// two's complement.
struct IntegerRange {
  int64_t low;
  int64_t high;
};
IntegerRange RangeOf(ValueKind kind) {
  switch (kind) {
    case ValueKind::kBit:
      return {0, 1};
    case ValueKind::kByte:
      return {-0x80, 0xFF};
    case ValueKind::kWord:
      return {-0x8000, 0xFFFF};
    case ValueKind::kDoubleWord:
    case ValueKind::kFloat:
    case ValueKind::kString:
      break;
  }
  return {-0x8000'0000LL, 0xFFFF'FFFFLL};
}

// S5 floats (types 5 and 6) hold a narrower range than singles: the driver would store the
// largest S5 float for anything above it and the smallest for anything below it. Both are
// singles exactly: (2^23 - 1) × 2^104 and 2^-129, the smallest normalised magnitude.
constexpr float kS5LargestMagnitude = tav::DecodeS5FloatToSingle(tav::kS5FloatLargest);
constexpr float kS5SmallestMagnitude = tav::DecodeS5FloatToSingle(tav::kS5FloatSmallestPositive);

// A float as typed, or why it does not fit a float element of a station of `plcType`.
std::optional<std::string> ParseFloat(const std::string& text, uint8_t plcType, float& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtof(text.c_str(), &end);
  if (text.empty() || *end != '\0') return fmt::format("'{}' is not a number", text);
  if (std::isnan(value)) return fmt::format("'{}' is not a number", text);
  if (std::isinf(value)) {
    return errno == ERANGE ? fmt::format("'{}' is beyond the range of a float", text)
                           : fmt::format("'{}' is not a finite number", text);
  }
  if (errno == ERANGE && value == 0) {
    return fmt::format("'{}' is too small for a float: it would be stored as 0", text);
  }
  if (plcType == tav::kPlcTypeS7 || value == 0) return std::nullopt;
  if (std::fabs(value) > kS5LargestMagnitude) {
    return fmt::format("'{}' is beyond the range of an S5 float (magnitudes up to {:g})", text,
                       kS5LargestMagnitude);
  }
  if (std::fabs(value) < kS5SmallestMagnitude) {
    return fmt::format("'{}' is too small for an S5 float (magnitudes from {:g}, or 0)", text,
                       kS5SmallestMagnitude);
  }
  return std::nullopt;
}

// The characters a string tag takes: printable ASCII, which the station and tavhost's output
// show alike. Other bytes (UTF-8 sequences among them) would reach the station as bytes of
// another meaning.
std::optional<std::string> StringProblem(const std::string& text, size_t moved, uint32_t length) {
  const auto unprintable =
      std::find_if(text.begin(), text.end(), [](char c) { return c < 0x20 || c > 0x7E; });
  if (unprintable != text.end()) {
    return fmt::format(
        "'{}': a string tag takes printable ASCII characters only, not byte 0x{:02X}", text,
        static_cast<uint8_t>(*unprintable));
  }
  if (text.size() <= moved) return std::nullopt;
  if (moved == length) {
    return fmt::format("'{}' has {} characters; the string tag holds {}", text, text.size(),
                       length);
  }
  return fmt::format(
      "'{}' has {} characters; the string tag holds {}, and {} of them travel "
      "(strings move in pairs of characters)",
      text, text.size(), length, moved);
}

}  // namespace

size_t Tag::HostBytes() const {
  if (kind == ValueKind::kBit) return kValueCellBytes;
  if (kind == ValueKind::kString) return StringLength();
  return static_cast<size_t>(count) * ElementBytes(kind);
}

uint32_t Tag::StringLength() const {
  return tav::PackedStringLength(parsed.packedAddress);
}

size_t Tag::StringCharactersMoved() const {
  return StringLength() & ~uint32_t{1};
}

std::string TransferFailureMeaning(const Tag& tag, int32_t result) {
  if (result == 1) {
    if (std::optional<std::string> refusal =
            TransferRefusal(tag.parsed.areaTypeCode, tag.parsed.bitNumber)) {
      return "the driver refused the transfer: " + *refusal;
    }
  }
  if (const std::optional<ExchangeOutcome> outcome = LastExchangeOutcome()) {
    return ExchangeOutcomeMeaning(*outcome);
  }
  return std::string(TransferResultMeaning(result));
}

std::optional<ExchangeOutcome> LastExchangeOutcome() {
  return LastOutcome();
}

void AddExchangeOutcome(Json& document) {
  if (const std::optional<ExchangeOutcome> outcome = LastExchangeOutcome()) {
    document["h1Result"] = outcome->libraryResult;
    document["statusWord"] = outcome->statusWord;
  }
}

std::optional<std::string> ThirteenCharacterForm(Host& host, std::string_view command,
                                                 const std::string& address,
                                                 std::optional<int32_t> hostDataType,
                                                 int& exitCode) {
  if (!tav::IsFamiliarAddress(address)) return address;
  const tav::FamiliarTranslation translation = tav::TranslateFamiliarAddress(
      address, hostDataType == tav::kHostTypeFloat, StationsOf(host.instance()));
  if (translation.translated()) return std::string(translation.address());
  exitCode = kExitRefused;
  ReportError(command, FamiliarRefusalText(address, translation.rule),
              {{"address", address}, {"rule", FamiliarRuleName(translation.rule)}});
  return std::nullopt;
}

CLI::Transformer HostDataTypeNames() {
  const std::map<std::string, int32_t> names = {
      {"float", tav::kHostTypeFloat}, {"bit", tav::kHostTypeBit}, {"string", tav::kHostTypeString}};
  return CLI::Transformer(names, CLI::ignore_case);
}

int32_t HostDataTypeOf(Host& host, const std::string& address) {
  return HostDataTypeFor(address, StationsOf(host.instance()));
}

std::optional<Tag> ParseTag(Host& host, const std::string& address, int32_t hostDataType,
                            int32_t count, int32_t& result) {
  Tag tag;
  tag.address = address;
  tag.parsed.addressText = tag.address.c_str();
  tag.parsed.hostDataType = hostDataType;
  tag.parsed.elementCount = count;
  result = host.driver().Run(&host.instance(), tav::CommandCode::kParseAddress, &tag.parsed,
                             host.driverNumber());
  if (result != 0) return std::nullopt;
  tag.parsed.addressText = nullptr;  // the Tag may move; the driver keeps no pointer
  tag.kind = KindOf(tag.parsed);
  tag.plcType = host.instance().plcTable[tag.parsed.plcNumber].plcType;
  tag.count = tag.kind == ValueKind::kBit || tag.kind == ValueKind::kString ? 1 : count;
  return tag;
}

int32_t ReadTag(Host& host, const Tag& tag, std::vector<uint8_t>& values) {
  values.assign(tag.HostBytes(), 0);
  const tav::CommandCode command =
      tag.kind == ValueKind::kBit ? tav::CommandCode::kReadTag : tav::CommandCode::kReadBlock;
  return Transfer(host, command, tag, values);
}

int32_t WriteTag(Host& host, const Tag& tag, std::vector<uint8_t>& values) {
  values.resize(tag.HostBytes());
  const tav::CommandCode command =
      tag.kind == ValueKind::kBit ? tav::CommandCode::kWriteTag : tav::CommandCode::kWriteBlock;
  return Transfer(host, command, tag, values);
}

std::optional<Tag> PrepareTag(Host& host, std::string_view command, const std::string& typed,
                              std::optional<int32_t> hostDataType, int64_t count, int& exitCode) {
  const std::optional<std::string> thirteen =
      ThirteenCharacterForm(host, command, typed, hostDataType, exitCode);
  if (!thirteen) return std::nullopt;
  const std::string& address = *thirteen;
  exitCode = kExitUsage;
  if (address.size() > kAddressCharacters) {
    ReportError(command,
                fmt::format("{}: an address has at most 13 characters, not {} (the driver "
                            "would read only \"{}\")",
                            address, address.size(), address.substr(0, kAddressCharacters)));
    return std::nullopt;
  }
  const int32_t type = hostDataType.value_or(HostDataTypeOf(host, address));
  int32_t result = 0;
  std::optional<Tag> tag = ParseTag(host, address, type, 1, result);
  if (!tag) {
    const AddressReading reading =
        ReadAddress(address, AddressCommand::kParse, type, 1, StationsOf(host.instance()));
    exitCode = reading.valid() ? kExitDisagreement : kExitRefused;
    ReportError(command,
                fmt::format("{}: the driver refuses the address (result {}): {}", address, result,
                            reading.valid() ? "tavhost's rules find no fault in it"
                                            : RefusalText(*reading.refusal)));
    return std::nullopt;
  }
  const bool single = tag->kind == ValueKind::kBit || tag->kind == ValueKind::kString;
  const int32_t most =
      single ? 1
             : MaxElementsPerTransfer(tag->parsed.areaTypeCode,
                                      host.instance().plcTable[tag->parsed.plcNumber].plcType);
  if (count < 1 || count > most) {
    ReportError(command,
                single ? fmt::format("{} is a {} tag: it has one element, not {}", address,
                                     KindName(tag->kind), count)
                : count < 1
                    ? fmt::format("{} elements: a transfer moves at least one", count)
                    : fmt::format("{} elements: a transfer of {} moves at most {} (the driver's "
                                  "10,000-byte buffer)",
                                  count, address, most));
    return std::nullopt;
  }
  tag->count = static_cast<int32_t>(count);
  exitCode = kExitDone;
  return tag;
}

size_t TransferBytesPerElement(uint32_t areaTypeCode, uint8_t plcType) {
  const tav::ElementKind element = ElementOf(areaTypeCode);
  if (element != tav::ElementKind::kByte) return tav::InfoOf(element).hostBytes == 4 ? 4 : 2;
  // A byte of inputs, outputs or flags takes one byte; so does a data block's byte on an S7
  // station, while on the word-addressed stations each travels in a word of its own.
  const bool dataBlock = tav::KindByte(areaTypeCode) == tav::kAreaDataByte;
  return !dataBlock || plcType == tav::kPlcTypeS7 ? 1 : 2;
}

int32_t MaxElementsPerTransfer(uint32_t areaTypeCode, uint8_t plcType) {
  return static_cast<int32_t>(tav::kTransferBufferSize /
                              TransferBytesPerElement(areaTypeCode, plcType));
}

std::string_view KindName(ValueKind kind) {
  if (kind == ValueKind::kBit) return "bit";
  for (size_t element = 0; element < tav::kElementKinds; ++element) {
    if (kValueKinds[element] == kind) return tav::kElementKindTable[element].name;
  }
  return "word";
}

Json ValuesToJson(const Tag& tag, const std::vector<uint8_t>& values) {
  Json list = Json::array();
  if (tag.kind == ValueKind::kString) {
    list.push_back(
        Cp437ToUtf8(std::string_view(reinterpret_cast<const char*>(values.data()),
                                     std::min(values.size(), tag.StringCharactersMoved()))));
    return list;
  }
  if (tag.kind == ValueKind::kBit) {
    uint32_t cell = 0;
    std::memcpy(&cell, values.data(), sizeof cell);
    list.push_back((cell >> kValueCellShift & 1) != 0);
    return list;
  }
  const size_t width = ElementBytes(tag.kind);
  for (size_t at = 0; at + width <= values.size(); at += width) {
    if (width == 2) {
      uint16_t word = 0;
      std::memcpy(&word, &values[at], sizeof word);
      list.push_back(word);
      continue;
    }
    uint32_t raw = 0;
    std::memcpy(&raw, &values[at], sizeof raw);
    if (tag.kind == ValueKind::kFloat) {
      // The shortest decimal that reads back as the same single: 3.14159, not 3.141590118408203.
      list.push_back(std::strtod(fmt::format("{}", std::bit_cast<float>(raw)).c_str(), nullptr));
    } else {
      list.push_back(raw);
    }
  }
  return list;
}

std::string FormatValues(const Tag& tag, const std::vector<uint8_t>& values,
                         const ValueView& view) {
  std::string text;
  auto add = [&text](const std::string& value) {
    if (!text.empty()) text += ' ';
    text += value;
  };
  switch (tag.kind) {
    case ValueKind::kString: {
      // Only the characters that travelled: the last one of an odd length never did.
      std::string characters;
      for (size_t at = 0; at < std::min(values.size(), tag.StringCharactersMoved()); ++at) {
        const uint8_t c = values[at];
        characters += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
      }
      return "\"" + characters + "\"";
    }
    case ValueKind::kBit: {
      uint32_t cell = 0;
      std::memcpy(&cell, values.data(), sizeof cell);
      return fmt::format("{}", cell >> kValueCellShift & 1);
    }
    case ValueKind::kByte:
    case ValueKind::kWord:
    case ValueKind::kDoubleWord:
    case ValueKind::kFloat:
      break;
  }
  const size_t width = ElementBytes(tag.kind);
  for (size_t at = 0; at + width <= values.size(); at += width) {
    if (width == 2) {
      uint16_t word = 0;
      std::memcpy(&word, &values[at], sizeof word);
      add(IntegerText(word, tag.kind == ValueKind::kByte ? 1 : 2, view.integers));
      continue;
    }
    uint32_t raw = 0;
    std::memcpy(&raw, &values[at], sizeof raw);
    add(tag.kind == ValueKind::kFloat ? FloatText(std::bit_cast<float>(raw), view)
                                      : IntegerText(raw, 4, view.integers));
  }
  return text;
}

bool ParseValues(const Tag& tag, const std::vector<std::string>& texts,
                 std::vector<uint8_t>& values, std::string& error) {
  values.assign(tag.HostBytes(), 0);
  const size_t expected = static_cast<size_t>(tag.count);
  if (texts.size() != expected) {
    error = fmt::format("{} takes {} value(s), not {}", tag.address, expected, texts.size());
    return false;
  }
  if (tag.kind == ValueKind::kString) {
    std::string text = texts[0];
    if (std::optional<std::string> problem =
            StringProblem(text, tag.StringCharactersMoved(), tag.StringLength())) {
      error = std::move(*problem);
      return false;
    }
    text.resize(values.size(), ' ');
    std::memcpy(values.data(), text.data(), values.size());
    return true;
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string& text = texts[i];
    if (tag.kind == ValueKind::kFloat) {
      float value = 0;
      if (std::optional<std::string> problem = ParseFloat(text, tag.plcType, value)) {
        error = std::move(*problem);
        return false;
      }
      std::memcpy(&values[4 * i], &value, sizeof value);
      continue;
    }
    const std::optional<int64_t> value = Integer(text);
    const IntegerRange range = RangeOf(tag.kind);
    if (!value || *value < range.low || *value > range.high) {
      error = fmt::format("'{}' is not an integer from {} to {}", text, range.low, range.high);
      return false;
    }
    if (tag.kind == ValueKind::kBit) {
      const uint32_t cell = static_cast<uint32_t>(*value) << kValueCellShift;
      std::memcpy(values.data(), &cell, sizeof cell);
    } else if (tag.kind == ValueKind::kByte) {
      const auto byte = static_cast<uint16_t>(*value & 0xFF);
      std::memcpy(&values[2 * i], &byte, sizeof byte);
    } else if (tag.kind == ValueKind::kWord) {
      const auto word = static_cast<uint16_t>(*value);
      std::memcpy(&values[2 * i], &word, sizeof word);
    } else {
      const auto doubleWord = static_cast<uint32_t>(*value);
      std::memcpy(&values[4 * i], &doubleWord, sizeof doubleWord);
    }
  }
  return true;
}

}  // namespace tavhost
