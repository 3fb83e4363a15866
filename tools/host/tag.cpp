#include "tag.h"

#include <fmt/core.h>

#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "abi/area_type.h"
#include "abi/transfer_block.h"

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
  for (const TypeCandidate& candidate : kTypeCandidates) {
    tav::AddressBlock parsed{};
    parsed.addressText = address.c_str();
    parsed.hostDataType = candidate.hostDataType;
    const int32_t result = host.driver().Run(&host.instance(), tav::CommandCode::kParseAddress,
                                             &parsed, host.driverNumber());
    if (result == 0 && candidate.fits(tav::KindByte(parsed.areaTypeCode))) {
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
    text.resize(values.size(), ' ');
    std::memcpy(values.data(), text.data(), values.size());
    return true;
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string& text = texts[i];
    if (tag.kind == ValueKind::kFloat) {
      char* end = nullptr;
      const float value = std::strtof(text.c_str(), &end);
      if (text.empty() || *end != '\0') {
        error = fmt::format("'{}' is not a number", text);
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
