// tavhost init: command 1 on a station file, then the station table.
#include <fmt/core.h>

#include "host.h"
#include "output.h"

namespace tavhost {

void AddInitCommand(CLI::App& app, Host& host, int& exitCode) {
  auto options = std::make_shared<StationOptions>();
  CLI::App* init = app.add_subcommand(
      "init", "Initialise the driver from a station file (command 1); show its stations");
  AddStationOptions(*init, *options);
  init->callback([&host, &exitCode, options] {
    if (const std::optional<std::string> problem = StationFileProblem(options->stationFile)) {
      ReportError("init", *problem);
      exitCode = kExitUsage;
      return;
    }
    const int32_t result = host.Initialise(options->stationFile, options->timeout);
    if (const std::optional<std::string> mismatch = host.StationMapMismatch()) {
      ReportError("init", *mismatch);
      exitCode = kExitUsage;
      return;
    }
    exitCode = result == 0 ? kExitDone : kExitRefused;
    if (JsonOutput()) {
      EmitDocument({{"command", "init"},
                    {"stationFile", options->stationFile},
                    {"driverNumber", host.driverNumber()},
                    {"result", result},
                    {"stations", StationTableJson(host.instance())}});
      return;
    }
    fmt::print("initialisation: result {}\n\n", result);
    PrintStationTable(host.instance());
  });
}

}  // namespace tavhost
