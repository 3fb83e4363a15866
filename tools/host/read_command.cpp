// tavhost read: initialises quietly, then reads one tag (command 6, or 5 for a bit).
#include <fmt/core.h>

#include "tag.h"

namespace tavhost {

void AddReadCommand(CLI::App& app, Host& host, int& exitCode) {
  struct Options {
    StationOptions stations;
    std::string address;
    int32_t count = 1;
    std::optional<int32_t> hostDataType;
  };
  auto options = std::make_shared<Options>();
  CLI::App* read = app.add_subcommand("read", "Read a tag from a simulated station");
  read->add_option("address", options->address, "Tag address, e.g. 01DF0100010")->required();
  read->add_option("--count", options->count, "Number of elements")->capture_default_str();
  read->add_option("--type", options->hostDataType,
                   "Host data type (default: from the address: 3 float, 4 double word, 6 bit, "
                   "7 string)");
  AddStationOptions(*read, options->stations);
  read->callback([&host, &exitCode, options] {
    exitCode = 1;
    if (!InitialiseQuietly(host, options->stations)) return;
    int32_t result = 0;
    const std::optional<Tag> tag =
        ParseTag(host, options->address,
                 options->hostDataType.value_or(HostDataTypeOf(host, options->address)),
                 options->count, result);
    if (!tag) {
      fmt::print(stderr, "{}: the driver refuses the address ({})\n", options->address, result);
      return;
    }
    std::vector<uint8_t> values;
    result = ReadTag(host, *tag, values);
    if (result != 0) {
      fmt::print(stderr, "{}: read failed with {}\n", options->address, result);
      return;
    }
    fmt::print("{}: {}\n", options->address, FormatValues(*tag, values));
    exitCode = 0;
  });
}

}  // namespace tavhost
