// Ethernet (MAC) addresses, six bytes, and the hexadecimal text that station files, simulation
// files and station maps write them in: its parser and its formatter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tav {

inline constexpr size_t kEthernetAddressBytes = 6;
using EthernetAddress = std::array<uint8_t, kEthernetAddressBytes>;

// The value of one hexadecimal digit, either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly twelve hexadecimal digits, either case, the first pair the first byte; nothing for any
// other text.
constexpr std::optional<EthernetAddress> ParseEthernetAddressText(std::string_view text) {
  EthernetAddress address{};
  if (text.size() != 2 * address.size()) return std::nullopt;
  for (size_t i = 0; i < address.size(); ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    address[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return address;
}

// Bytes as hexadecimal text, two upper-case digits a byte, the first byte first: how an Ethernet
// address is written (the text ParseEthernetAddressText reads), and a TSAP in the logs.
inline std::string HexText(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * bytes.size());
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

inline std::string EthernetAddressText(const EthernetAddress& address) {
  return HexText(address);
}

static_assert(ParseEthernetAddressText("0a0B0C010203") ==
              EthernetAddress{0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03});
static_assert(!ParseEthernetAddressText("0A0B0C01020") && !ParseEthernetAddressText("0A0B0C01020G"));

}  // namespace tav
