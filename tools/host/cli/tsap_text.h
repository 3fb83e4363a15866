// A TSAP as the user writes it, on tavhost's command line and in its files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavhost {

using Tsap = std::vector<uint8_t>;

// 0x and hexadecimal digits for bytes (an S7 station's 0x0302), else text of at most 8
// characters (what an S5 communication processor's TSAP holds), padded with blanks to 8.
std::optional<Tsap> ParseTsapText(const std::string& text);

}  // namespace tavhost
