// tavhost read: initialises quietly, then reads one tag (command 6, or 5 for a bit).
#include "cli/output.h"
#include "commands/command_line.h"
#include "commands/commands.h"
#include "commands/tag_report.h"
#include "tags/tag.h"
#include "tags/transfer.h"
#include "tags/values.h"

namespace tavhost {

void AddReadCommand(CLI::App& app, Host& host, int& exitCode) {
  struct Options {
    StationOptions stations;
    std::string address;
    int64_t count = 1;
    std::optional<int32_t> hostDataType;
    ValueView view;
  };
  auto options = std::make_shared<Options>();
  CLI::App* read = app.add_subcommand("read", "Read a tag from a simulated station");
  read->add_option("address", options->address, "Tag address, e.g. 01DF0100010")->required();
  read->add_option("--count", options->count, "Number of elements")->capture_default_str();
  read->add_option("--type", options->hostDataType,
                   "Host data type (default: from the address: 3 float, 4 double word, 6 bit, "
                   "7 string)")
      ->transform(HostDataTypeNames())
      ->check(HostDataTypeCheck());
  AddValueViewOptions(*read, options->view);
  AddStationOptions(*read, options->stations);
  read->callback([&host, &exitCode, options] {
    if (!InitialiseQuietly(host, options->stations, "read", exitCode)) return;
    const std::optional<Tag> tag =
        PrepareTag(host, "read", options->address, options->hostDataType, options->count, exitCode);
    if (!tag) return;
    std::vector<uint8_t> values;
    const TransferResult transfer = ReadTag(host, *tag, values);
    const int32_t result = transfer.result;
    exitCode = result == 0 ? kExitDone : kExitRefused;
    Json document = {{"command", "read"},
                     {"address", tag->address},
                     {"kind", KindName(tag->kind)},
                     {"count", tag->count},
                     {"result", result}};
    if (result != 0) {
      ReportTransferFailure(host, "read", "read", options->address, *tag, transfer,
                            std::move(document));
      return;
    }
    ShowValues(std::move(document), options->address, *tag, values, options->view);
  });
}

}  // namespace tavhost
