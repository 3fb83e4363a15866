// What read and write say of a tag's transfer: its failure in one line, or its values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/output.h"
#include "runtime/host.h"
#include "tags/tag.h"
#include "tags/transfer.h"
#include "tags/value_view.h"

namespace tavhost {

// Reports under `command` that the transfer `what` ("read", "write", "reading back") of the tag
// the user typed as `typed` failed: "TYPED: WHAT failed with N: why", with the exchange's outcome
// added to `document`.
void ReportTransferFailure(const Host& host, std::string_view command, std::string_view what,
                           const std::string& typed, const Tag& tag, const TransferResult& transfer,
                           Json document);

// The tag's values: in `document` as JSON, or as "TYPED: VALUES" in text as `view` shows them.
void ShowValues(Json document, const std::string& typed, const Tag& tag,
                const std::vector<uint8_t>& values, const ValueView& view);

}  // namespace tavhost
