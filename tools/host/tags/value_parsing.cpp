// Values as the user types them, into the host array of a tag.
#include <fmt/core.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "abi/area_type.h"
#include "tags/values.h"
#include "vocabulary/s5_float.h"

namespace tavhost {

namespace {

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
