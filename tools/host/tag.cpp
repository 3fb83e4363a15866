#include "tag.h"

#include <fmt/core.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "abi/area_type.h"
#include "abi/transfer_block.h"
#include "address_rules.h"
#include "cp437.h"
#include "output.h"

namespace tavhost {

namespace {

constexpr int32_t kHostTypeWords = 0;
constexpr size_t kValueCellBytes = 4;
constexpr uint32_t kValueCellShift = 16;  // a 16-bit element lies in bytes 2 and 3 of its cell

ValueKind KindOf(const tav::AddressBlock& parsed) {
  if (parsed.bitNumber != tav::kNoBitNumber) return ValueKind::kBit;
  switch (tav::KindByte(parsed.areaTypeCode)) {
    case tav::kAreaDataDouble:
    case tav::kAreaDataDoubleOdd:
      return ValueKind::kDoubleWord;
    case tav::kAreaDataFloat:
    case tav::kAreaDataFloatOdd:
      return ValueKind::kFloat;
    case tav::kAreaString:
      return ValueKind::kString;
    default:
      return ValueKind::kWord;
  }
}

size_t ElementBytes(ValueKind kind) {
  return kind == ValueKind::kDoubleWord || kind == ValueKind::kFloat ? 4 : 2;
}

tav::TransferBlock Block(const Tag& tag, std::vector<uint8_t>& values) {
  return tav::TransferBlockFor(tag.parsed, tag.address.c_str(), tag.count, values.data());
}

bool IsFloatKind(uint8_t kind) {
  return kind == tav::kAreaDataFloat || kind == tav::kAreaDataFloatOdd;
}
bool IsDoubleWordKind(uint8_t kind) {
  return kind == tav::kAreaDataDouble || kind == tav::kAreaDataDoubleOdd;
}
bool IsStringKind(uint8_t kind) {
  return kind == tav::kAreaString;
}
bool AnyKind(uint8_t /*kind*/) {
  return true;
}

// The host data types an address may ask for, most particular first: the parser accepts a bit
// type only with bit digits, and the others when the kind it finds is theirs.
struct TypeCandidate {
  int32_t hostDataType;
  bool (*fits)(uint8_t kind);
};
constexpr TypeCandidate kTypeCandidates[] = {
    {tav::kHostTypeBit, AnyKind},
    {tav::kHostTypeString, IsStringKind},
    {tav::kHostTypeFloat, IsFloatKind},
    {tav::kHostTypeInteger, IsDoubleWordKind},
};

std::optional<int64_t> Integer(const std::string& text) {
  std::string_view digits = text;
  const bool negative = digits.starts_with('-');
  if (negative) digits.remove_prefix(1);
  int base = 10;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    base = 16;
    digits.remove_prefix(2);
  }
  int64_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
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

int32_t HostDataTypeOf(Host& host, const std::string& address) {
  // The rules answer as the driver does, without its log line for each try of an X address.
  const StationLookup stations = StationsOf(host.instance());
  for (const TypeCandidate& candidate : kTypeCandidates) {
    const AddressReading reading =
        ReadAddress(address, AddressCommand::kParse, candidate.hostDataType, 1, stations);
    if (reading.valid() && candidate.fits(tav::KindByte(reading.areaTypeCode))) {
      return candidate.hostDataType;
    }
  }
  return kHostTypeWords;
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
  tag.count = tag.kind == ValueKind::kBit || tag.kind == ValueKind::kString ? 1 : count;
  return tag;
}

int32_t ReadTag(Host& host, const Tag& tag, std::vector<uint8_t>& values) {
  values.assign(tag.HostBytes(), 0);
  tav::TransferBlock block = Block(tag, values);
  const tav::CommandCode command =
      tag.kind == ValueKind::kBit ? tav::CommandCode::kReadTag : tav::CommandCode::kReadBlock;
  return host.driver().Run(&host.instance(), command, &block, host.driverNumber());
}

int32_t WriteTag(Host& host, const Tag& tag, std::vector<uint8_t>& values) {
  values.resize(tag.HostBytes());
  tav::TransferBlock block = Block(tag, values);
  const tav::CommandCode command =
      tag.kind == ValueKind::kBit ? tav::CommandCode::kWriteTag : tav::CommandCode::kWriteBlock;
  return host.driver().Run(&host.instance(), command, &block, host.driverNumber());
}

std::optional<Tag> PrepareTag(Host& host, std::string_view command, const std::string& address,
                              std::optional<int32_t> hostDataType, int64_t count, int& exitCode) {
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

std::string_view KindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::kWord:
      return "word";
    case ValueKind::kDoubleWord:
      return "double word";
    case ValueKind::kFloat:
      return "float";
    case ValueKind::kString:
      return "string";
    case ValueKind::kBit:
      break;
  }
  return "bit";
}

Json ValuesToJson(const Tag& tag, const std::vector<uint8_t>& values) {
  Json list = Json::array();
  if (tag.kind == ValueKind::kString) {
    list.push_back(
        Cp437ToUtf8(std::string_view(reinterpret_cast<const char*>(values.data()), values.size())));
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

std::string FormatValues(const Tag& tag, const std::vector<uint8_t>& values) {
  std::string text;
  auto add = [&text](const std::string& value) {
    if (!text.empty()) text += ' ';
    text += value;
  };
  switch (tag.kind) {
    case ValueKind::kString: {
      std::string characters;
      for (uint8_t c : values) characters += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
      return "\"" + characters + "\"";
    }
    case ValueKind::kBit: {
      uint32_t cell = 0;
      std::memcpy(&cell, values.data(), sizeof cell);
      return fmt::format("{}", cell >> kValueCellShift & 1);
    }
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
      add(fmt::format("0x{:04X}", word));
      continue;
    }
    uint32_t raw = 0;
    std::memcpy(&raw, &values[at], sizeof raw);
    add(tag.kind == ValueKind::kFloat ? fmt::format("{:g}", std::bit_cast<float>(raw))
                                      : fmt::format("0x{:08X}", raw));
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
    if (text.size() > values.size()) {
      error = fmt::format("'{}' has {} characters; the string tag holds {}", text, text.size(),
                          values.size());
      return false;
    }
    text.resize(values.size(), ' ');
    std::memcpy(values.data(), text.data(), values.size());
    return true;
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string& text = texts[i];
    if (tag.kind == ValueKind::kFloat) {
      char* end = nullptr;
      errno = 0;
      const float value = std::strtof(text.c_str(), &end);
      if (text.empty() || *end != '\0') {
        error = fmt::format("'{}' is not a number", text);
        return false;
      }
      if (errno == ERANGE && std::isinf(value)) {
        error = fmt::format("'{}' is beyond the range of a float", text);
        return false;
      }
      std::memcpy(&values[4 * i], &value, sizeof value);
      continue;
    }
    const std::optional<int64_t> value = Integer(text);
    const int64_t low = tag.kind == ValueKind::kBit    ? 0
                        : tag.kind == ValueKind::kWord ? -0x8000
                                                       : -0x8000'0000LL;
    const int64_t high = tag.kind == ValueKind::kBit    ? 1
                         : tag.kind == ValueKind::kWord ? 0xFFFF
                                                        : 0xFFFF'FFFFLL;
    if (!value || *value < low || *value > high) {
      error = fmt::format("'{}' is not an integer from {} to {}", text, low, high);
      return false;
    }
    if (tag.kind == ValueKind::kBit) {
      const uint32_t cell = static_cast<uint32_t>(*value) << kValueCellShift;
      std::memcpy(values.data(), &cell, sizeof cell);
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
