// tavhost write: initialises quietly, writes one tag (command 10, or 7 for a bit) and reads it
// back. The simulated stations live in the tavhost process, so a write lasts as long as it.
#include <fmt/core.h>

#include "cli/output.h"
#include "commands/command_line.h"
#include "commands/commands.h"
#include "commands/tag_report.h"
#include "tags/tag.h"
#include "tags/transfer.h"
#include "tags/values.h"

namespace tavhost {

void AddWriteCommand(CLI::App& app, Host& host, int& exitCode) {
  struct Options {
    StationOptions stations;
    std::string address;
    std::vector<std::string> values;
    std::optional<int32_t> hostDataType;
    ValueView view;
  };
  auto options = std::make_shared<Options>();
  CLI::App* write =
      app.add_subcommand("write", "Write a tag to a simulated station and read it back");
  write->add_option("address", options->address, "Tag address, e.g. 03DW0100020")->required();
  write
      ->add_option("values", options->values,
                   "One value per element: integers (0x... for hexadecimal), floats, a text")
      ->required();
  write
      ->add_option("--type", options->hostDataType,
                   "Host data type (default: from the address: 3 float, 4 double word, 6 bit, "
                   "7 string)")
      ->transform(HostDataTypeNames())
      ->check(HostDataTypeCheck());
  AddValueViewOptions(*write, options->view);
  AddStationOptions(*write, options->stations);
  write->callback([&host, &exitCode, options] {
    if (!InitialiseQuietly(host, options->stations, "write", exitCode)) return;
    const auto count = static_cast<int64_t>(options->values.size());
    const std::optional<Tag> tag =
        PrepareTag(host, "write", options->address, options->hostDataType, count, exitCode);
    if (!tag) return;
    std::vector<uint8_t> values;
    std::string error;
    if (!ParseValues(*tag, options->values, values, error)) {
      ReportError("write", fmt::format("{}: {}", options->address, error));
      exitCode = kExitUsage;
      return;
    }
    Json document = {{"command", "write"},
                     {"address", tag->address},
                     {"kind", KindName(tag->kind)},
                     {"count", tag->count},
                     {"written", ValuesToJson(*tag, values)}};
    exitCode = kExitRefused;
    const TransferResult written = WriteTag(host, *tag, values);
    document["result"] = written.result;
    if (written.result != 0) {
      ReportTransferFailure(host, "write", "write", options->address, *tag, written,
                            std::move(document));
      return;
    }
    const TransferResult read = ReadTag(host, *tag, values);
    document["readBackResult"] = read.result;
    if (read.result != 0) {
      ReportTransferFailure(host, "write", "reading back", options->address, *tag, read,
                            std::move(document));
      return;
    }
    exitCode = kExitDone;
    ShowValues(std::move(document), options->address, *tag, values, options->view);
  });
}

}  // namespace tavhost
