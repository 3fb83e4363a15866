// tavhost gateway where it is not built (Windows): the command is there to say so.
#include "cli/output.h"
#include "commands/commands.h"
#include "runtime/host.h"

namespace tavhost {

void AddGatewayCommand(CLI::App& app, Host& /*host*/, int& exitCode) {
  CLI::App* command = app.add_subcommand("gateway", "Serve TCP clients from H1 stations (Linux only)");
  command->allow_extras();
  command->callback([&exitCode] {
    ReportError("gateway", "this tavhost is built without the gateway: it is in the Linux builds only");
    exitCode = kExitUsage;
  });
}

}  // namespace tavhost
