// tavhost bridge where libmosquitto is not built in (Windows, the 32-bit Linux build): the command
// is there to say so.
#include "commands/commands.h"
#include "runtime/host.h"

namespace tavhost {

void AddBridgeCommand(CLI::App& app, Host& /*host*/, int& exitCode) {
  CLI::App* command = app.add_subcommand("bridge", "Publish tags to an MQTT broker (Linux only)");
  command->allow_extras();
  command->callback([&exitCode] {
    ReportError(
        "bridge",
        "this tavhost is built without the MQTT bridge: it is in the native Linux builds only");
    exitCode = kExitUsage;
  });
}

}  // namespace tavhost
