// A tag's values read (commands 5 and 6) and written (commands 7 and 10) through its host array,
// with what the driver logged of a failed exchange.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/output.h"
#include "runtime/host.h"
#include "tags/status_words.h"
#include "tags/tag.h"

namespace tavhost {

// What one transfer of a tag came to: the driver's result and, when it failed, what the driver
// logged of the exchange (the library's result and the station's status word); none when the
// transfer succeeded or logged no exchange.
struct TransferResult {
  int32_t result = 0;
  std::optional<ExchangeOutcome> exchange;
};

// Reads the tag's values into `values` (HostBytes() bytes).
TransferResult ReadTag(Host& host, const Tag& tag, std::vector<uint8_t>& values);
// Writes the tag's values from `values`.
TransferResult WriteTag(Host& host, const Tag& tag, std::vector<uint8_t>& values);
// The exchange's outcome as JSON members: "h1Result" and "statusWord", added to `document` when
// there is one.
void AddExchangeOutcome(Json& document, const TransferResult& transfer);
// What a failed transfer of the tag means: the driver's reason when tavhost knows why it refused,
// the station's status word or the library's result in words when the driver logged them, else
// what the result means.
std::string TransferFailureMeaning(const Tag& tag, const TransferResult& transfer);

}  // namespace tavhost
