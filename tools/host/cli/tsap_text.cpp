#include "cli/tsap_text.h"

#include "vocabulary/ethernet_address.h"

namespace tavhost {

namespace {

constexpr size_t kS5TsapCharacters = 8;
constexpr size_t kLargestTsap = 16;

}  // namespace

std::optional<Tsap> ParseTsapText(const std::string& text) {
  Tsap tsap;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    const std::string digits = text.substr(2);
    if (digits.empty() || digits.size() % 2 != 0 || digits.size() / 2 > kLargestTsap) {
      return std::nullopt;
    }
    for (size_t i = 0; i < digits.size(); i += 2) {
      const int high = tav::HexDigitValue(digits[i]);
      const int low = tav::HexDigitValue(digits[i + 1]);
      if (high < 0 || low < 0) return std::nullopt;
      tsap.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return tsap;
  }
  if (text.empty() || text.size() > kS5TsapCharacters) return std::nullopt;
  tsap.assign(text.begin(), text.end());
  if (tsap.size() < kS5TsapCharacters) tsap.resize(kS5TsapCharacters, ' ');
  return tsap;
}

}  // namespace tavhost
