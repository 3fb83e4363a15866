// tavhost info: command 14, the driver information.
#include <fmt/core.h>

#include "cli/cp437.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "runtime/host.h"

namespace tavhost {

void AddInfoCommand(CLI::App& app, Host& host, int& exitCode) {
  CLI::App* info = app.add_subcommand("info", "Print the driver information (command 14)");
  info->callback([&host, &exitCode] {
    tav::InfoBlock block{};
    const int32_t result = host.driver().Run(nullptr, tav::CommandCode::kDriverInformation, &block);
    if (result != 0) {
      ReportError("info", fmt::format("driver information failed with {}", result),
                  {{"result", result}});
      exitCode = kExitRefused;
      return;
    }
    if (JsonOutput()) {
      EmitDocument({{"command", "info"},
                    {"result", result},
                    {"name", block.name},
                    {"banner", Cp437ToUtf8(block.banner)},
                    {"instanceSize", block.instanceSize}});
      return;
    }
    fmt::print("{}", Cp437ToUtf8(block.banner));
    fmt::print("name:          {}\n", block.name);
    fmt::print("instance size: {} bytes\n", block.instanceSize);
  });
}

}  // namespace tavhost
