#include "tags/status_words.h"

#include <fmt/core.h>

#include <charconv>

#include "plc_sessions/frames.h"
#include "vocabulary/h1_results.h"

namespace tavhost {

namespace {

struct Meaning {
  uint16_t code;
  std::string_view words;
};

// Status words every station gives alike.
constexpr Meaning kStatusWords[] = {
    {tav::h1::kStatusGood, "good"},
    {tav::h1::kStatusNoSuchArea, "no such data block or area at the station"},
    {tav::h1::kStatusOutOfRange, "address out of range: the range runs past the end of the area"},
    {tav::h1::kStatusTooLong, "more data than the 10,000-byte transfer buffer holds"},
};

// An S7 item's return code (the low byte of 0x07nn).
constexpr Meaning kS7ReturnCodes[] = {
    {tav::sessions::kS7ItemHardwareFault, "hardware fault at the station"},
    {tav::sessions::kS7ItemAccessDenied,
     "access denied: the station does not permit this access (PUT/GET not enabled, or "
     "a protected block)"},
    {tav::sessions::kS7ItemOutOfRange, "address out of range"},
    {tav::sessions::kS7ItemTypeNotSupported,
     "type not supported: the station does not serve this data type"},
    {tav::sessions::kS7ItemTypeInconsistent,
     "type inconsistent: the data's length does not fit its type"},
    {tav::sessions::kS7ItemNoSuchObject, "no such data block or area at the station"},
};

// An S5 acknowledgement's error byte (the low byte of 0x05nn).
constexpr Meaning kS5ErrorBytes[] = {
    {tav::sessions::kS5ErrorNoSuchBlock, "no such data block or area at the station"},
    {tav::sessions::kS5ErrorBlockTooShort,
     "address out of range: the block is shorter than the request"},
};

// Codes of an S7 answer's header error that say more than their class.
constexpr Meaning kS7HeaderErrors[] = {
    {0x8104, "function not supported by the station"},
    {0x8500, "the request does not fit the PDU size agreed with the station"},
};

// The class (high byte) of an S7 header error.
constexpr Meaning kS7HeaderClasses[] = {
    {0x81, "application relationship error"},        {0x82, "object definition error"},
    {0x83, "no resources available at the station"}, {0x84, "error in the service's processing"},
    {0x85, "error in the request's supplies"},       {0x87, "access error"},
};

// What the library's result says of an exchange that never brought the station's answer.
constexpr Meaning kLibraryResults[] = {
    {tav::h1::kDriverNotOpen, "the H1 library was not open"},
    {tav::h1::kUnknownConnection, "no connection to the station: the H1 library knows none"},
    {tav::h1::kBusy, "the H1 library stayed busy"},
    {tav::h1::kNotEstablished, "no connection to the station yet: it is being set up"},
    {tav::h1::kConnectionBroken, "no connection to the station: the connection broke"},
    {tav::h1::kNoData, "no answer came within the retry budget"},
    {tav::h1::kReceiving, "the answer came only in part within the retry budget"},
    {tav::h1::kNoRequest, "the H1 library knew of no request on the connection"},
    {tav::h1::kRequestLost, "the request was lost"},
    {tav::h1::kBadArgument, "the H1 library refused the request's record"},
    {tav::h1::kRejected, "no connection to the station: it refuses the connection"},
    {tav::h1::kAborted, "the request was aborted"},
};

template <size_t N>
std::optional<std::string_view> Find(const Meaning (&table)[N], uint32_t code) {
  for (const Meaning& entry : table) {
    if (entry.code == code) return entry.words;
  }
  return std::nullopt;
}

bool Number(std::string_view text, int32_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::optional<ExchangeOutcome> ExchangeOutcomeOf(std::string_view logLine,
                                                 std::string_view tagName) {
  const std::string marker = fmt::format(" Tag {} Failed, rc=", tagName);
  const size_t at = logLine.find(marker);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view codes = logLine.substr(at + marker.size());
  const size_t comma = codes.find(',');
  ExchangeOutcome outcome;
  if (comma == std::string_view::npos || !Number(codes.substr(0, comma), outcome.libraryResult) ||
      !Number(codes.substr(comma + 1), outcome.statusWord)) {
    return std::nullopt;
  }
  return outcome;
}

std::string StatusWordMeaning(uint16_t statusWord) {
  if (const auto words = Find(kStatusWords, statusWord)) return std::string(*words);
  const uint16_t protocol = statusWord & 0xFF00;
  const auto low = static_cast<uint8_t>(statusWord & 0xFF);
  if (protocol == tav::h1::kStatusS7Item) {
    const auto words = Find(kS7ReturnCodes, low);
    return words ? fmt::format("{} (S7 return code 0x{:02X})", *words, low)
                 : fmt::format("the S7 station answered return code 0x{:02X}", low);
  }
  if (protocol == tav::h1::kStatusS5Error) {
    const auto words = Find(kS5ErrorBytes, low);
    return words ? fmt::format("{} (S5 error byte 0x{:02X})", *words, low)
                 : fmt::format("the S5 station answered error byte 0x{:02X}", low);
  }
  if (const auto words = Find(kS7HeaderErrors, statusWord)) {
    return fmt::format("{} (S7 error 0x{:04X})", *words, statusWord);
  }
  if (const auto words = Find(kS7HeaderClasses, statusWord >> 8)) {
    return fmt::format("the S7 station answered: {} (S7 error 0x{:04X})", *words, statusWord);
  }
  return fmt::format("the station answered status word 0x{:04X}", statusWord);
}

std::string ExchangeOutcomeMeaning(const ExchangeOutcome& outcome) {
  if (outcome.libraryResult == tav::h1::kOk) {
    return "the station answered: " + StatusWordMeaning(static_cast<uint16_t>(outcome.statusWord));
  }
  const auto words = Find(kLibraryResults, static_cast<uint32_t>(outcome.libraryResult));
  return words ? fmt::format("{} (H1 result {})", *words, outcome.libraryResult)
               : fmt::format("the H1 library answered {}", outcome.libraryResult);
}

}  // namespace tavhost
