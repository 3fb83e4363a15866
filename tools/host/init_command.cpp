// tavhost init: command 1 on a station file, then the station table.
#include <fmt/core.h>

#include "host.h"

namespace tavhost {

void AddInitCommand(CLI::App& app, Host& host, int& exitCode) {
  auto options = std::make_shared<StationOptions>();
  CLI::App* init = app.add_subcommand(
      "init", "Initialise the driver from a station file (command 1); show its stations");
  AddStationOptions(*init, *options);
  init->callback([&host, &exitCode, options] {
    const int32_t result = host.Initialise(options->stationFile, options->timeout);
    fmt::print("initialisation: result {}\n\n", result);
    PrintStationTable(host.instance());
    exitCode = result == 0 ? 0 : 1;
  });
}

}  // namespace tavhost
