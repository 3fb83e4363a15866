// Values of a tag's host array as text and as JSON.
#include <fmt/core.h>

#include <bit>
#include <cstring>

#include "cli/cp437.h"
#include "tags/values.h"

namespace tavhost {

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

}  // namespace tavhost
