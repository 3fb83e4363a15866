// tavhost info: command 14, the driver information.
#include <fmt/core.h>

#include "cp437.h"
#include "host.h"

namespace tavhost {

void AddInfoCommand(CLI::App& app, Host& host, int& exitCode) {
  CLI::App* info = app.add_subcommand("info", "Print the driver information (command 14)");
  info->callback([&host, &exitCode] {
    tav::InfoBlock block{};
    const int32_t result = host.driver().Run(nullptr, tav::CommandCode::kDriverInformation, &block);
    if (result != 0) {
      fmt::print(stderr, "driver information failed with {}\n", result);
      exitCode = 1;
      return;
    }
    fmt::print("{}", Cp437ToUtf8(block.banner));
    fmt::print("name:          {}\n", block.name);
    fmt::print("instance size: {} bytes\n", block.instanceSize);
  });
}

}  // namespace tavhost
