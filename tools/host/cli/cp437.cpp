#include "cli/cp437.h"

#include <array>
#include <utility>

namespace tavhost {
namespace {

// The upper half of code page 437 that the driver's texts use: box drawing and shade blocks.
constexpr std::array<std::pair<unsigned char, std::string_view>, 10> kGlyphs = {{
    {0xB0, "\u2591"},
    {0xB1, "\u2592"},
    {0xB2, "\u2593"},
    {0xB3, "\u2502"},
    {0xBF, "\u2510"},
    {0xC0, "\u2514"},
    {0xC4, "\u2500"},
    {0xD9, "\u2518"},
    {0xDA, "\u250C"},
    {0xDB, "\u2588"},
}};

}  // namespace

std::string Cp437ToUtf8(std::string_view text) {
  std::string utf8;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
      continue;
    }
    std::string_view glyph = "?";
    for (const auto& [code, shown] : kGlyphs) {
      if (code == byte) glyph = shown;
    }
    utf8 += glyph;
  }
  return utf8;
}

}  // namespace tavhost
