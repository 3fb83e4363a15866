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
    const std::string failure =
        result == 0
            ? std::string()
            : fmt::format("{}: initialisation failed with {}: the file configures no station",
                          options->stationFile, result);
    if (JsonOutput()) {
      Json document = {{"command", "init"},
                       {"stationFile", options->stationFile},
                       {"driverNumber", host.driverNumber()},
                       {"result", result},
                       {"stations", StationTableJson(host.instance())}};
      if (!failure.empty()) document["error"] = failure;
      EmitDocument(std::move(document));
      return;
    }
    if (!failure.empty()) ReportError("init", failure);
    fmt::print("initialisation: result {}\n\n", result);
    PrintStationTable(host.instance());
  });
}

}  // namespace tavhost
