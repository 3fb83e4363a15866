#include "commands/tag_report.h"

#include <fmt/core.h>

#include <utility>

#include "stations/recovery.h"
#include "tags/values.h"

namespace tavhost {

void ReportTransferFailure(const Host& host, std::string_view command, std::string_view what,
                           const std::string& typed, const Tag& tag, const TransferResult& transfer,
                           Json document) {
  AddExchangeOutcome(document, transfer);
  ReportError(command,
              fmt::format("{}: {} failed with {}: {}", typed, what, transfer.result,
                          TransferFailureText(host, tag, transfer)),
              std::move(document));
}

void ShowValues(Json document, const std::string& typed, const Tag& tag,
                const std::vector<uint8_t>& values, const ValueView& view) {
  if (JsonOutput()) {
    document["values"] = ValuesToJson(tag, values);
    EmitDocument(std::move(document));
    return;
  }
  fmt::print("{}: {}\n", typed, FormatValues(tag, values, view));
}

}  // namespace tavhost
