// What a failed exchange means in words: the driver logs the H1 library's result and the
// station's status word of an exchange that ended without data ("... Failed, rc=R,S"); tavhost
// reads them back from that line and says what the station or the library meant.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavhost {

// The library's result and the status word of an exchange, as the driver logged them.
struct ExchangeOutcome {
  int32_t libraryResult = 0;  // 0: the station answered, with `statusWord`
  int32_t statusWord = 0;
};

// The outcome in the driver's log line `logLine` of a failed transfer of `tagName`; none when
// the line is no such line, or names another tag.
std::optional<ExchangeOutcome> ExchangeOutcomeOf(std::string_view logLine,
                                                 std::string_view tagName);

// What the station's status word means: "no such data block or area", "address out of range",
// an S7 return code or an S5 error byte in words.
std::string StatusWordMeaning(uint16_t statusWord);

// What the outcome means: the station's status word in words when the station answered, else
// what the library's result says of the exchange.
std::string ExchangeOutcomeMeaning(const ExchangeOutcome& outcome);

}  // namespace tavhost
