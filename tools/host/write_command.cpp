// tavhost write: initialises quietly, writes one tag (command 10, or 7 for a bit) and reads it
// back. The simulated stations live in the tavhost process, so a write lasts as long as it.
#include <fmt/core.h>

#include "tag.h"

namespace tavhost {

void AddWriteCommand(CLI::App& app, Host& host, int& exitCode) {
  struct Options {
    StationOptions stations;
    std::string address;
    std::vector<std::string> values;
    std::optional<int32_t> hostDataType;
  };
  auto options = std::make_shared<Options>();
  CLI::App* write =
      app.add_subcommand("write", "Write a tag to a simulated station and read it back");
  write->add_option("address", options->address, "Tag address, e.g. 03DW0100020")->required();
  write
      ->add_option("values", options->values,
                   "One value per element: integers (0x... for hexadecimal), floats, a text")
      ->required();
  write->add_option("--type", options->hostDataType,
                    "Host data type (default: from the address: 3 float, 4 double word, 6 bit, "
                    "7 string)");
  AddStationOptions(*write, options->stations);
  write->callback([&host, &exitCode, options] {
    exitCode = 1;
    if (!InitialiseQuietly(host, options->stations)) return;
    const auto count = static_cast<int32_t>(options->values.size());
    int32_t result = 0;
    const std::optional<Tag> tag = ParseTag(
        host, options->address,
        options->hostDataType.value_or(HostDataTypeOf(host, options->address)), count, result);
    if (!tag) {
      fmt::print(stderr, "{}: the driver refuses the address ({})\n", options->address, result);
      return;
    }
    std::vector<uint8_t> values;
    std::string error;
    if (!ParseValues(*tag, options->values, values, error)) {
      fmt::print(stderr, "{}\n", error);
      return;
    }
    if (const int32_t written = WriteTag(host, *tag, values); written != 0) {
      fmt::print(stderr, "{}: write failed with {}\n", options->address, written);
      return;
    }
    if (const int32_t read = ReadTag(host, *tag, values); read != 0) {
      fmt::print(stderr, "{}: reading back failed with {}\n", options->address, read);
      return;
    }
    fmt::print("{}: {}\n", options->address, FormatValues(*tag, values));
    exitCode = 0;
  });
}

}  // namespace tavhost
