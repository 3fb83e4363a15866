// tavhost init: command 1 on a station file, then the station table and whether each station's
// connection came up, with the reason when it did not. With --require-all it is a health check:
// it fails when a configured station is down.
#include <fmt/core.h>

#include <algorithm>

#include "cli/output.h"
#include "commands/commands.h"
#include "runtime/h1_operations.h"
#include "runtime/host.h"
#include "stations/recovery.h"
#include "stations/station_table.h"

namespace tavhost {

namespace {

void PrintStatuses(const std::vector<StationStatus>& statuses) {
  fmt::print("\n");
  for (const StationStatus& status : statuses) {
    if (status.up) {
      fmt::print("station {:02}: up\n", status.station);
    } else {
      fmt::print("station {:02}: down: {}\n", status.station, status.reason);
    }
  }
}

// The station table's objects with "up" and, for a station that is down, "reason".
Json StationsJson(const tav::DriverInstance& instance, const std::vector<StationStatus>& statuses) {
  Json stations = StationTableJson(instance);
  for (Json& station : stations) {
    const int number = station["number"].get<int>();
    const auto status =
        std::find_if(statuses.begin(), statuses.end(),
                     [number](const StationStatus& s) { return s.station == number; });
    if (status == statuses.end()) continue;
    station["up"] = status->up;
    if (!status->up) station["reason"] = status->reason;
  }
  return stations;
}

}  // namespace

void AddInitCommand(CLI::App& app, Host& host, int& exitCode) {
  struct Options {
    StationOptions stations;
    bool requireAll = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* init = app.add_subcommand(
      "init", "Initialise the driver from a station file (command 1); show its stations");
  AddStationOptions(*init, options->stations);
  init->add_flag("--require-all", options->requireAll,
                 fmt::format("Exit with {} when a configured station is down (a health check)",
                             kExitStationDown));
  init->callback([&host, &exitCode, options] {
    const StationOptions& stationOptions = options->stations;
    std::optional<std::string> problem = StationChoiceProblem(host, stationOptions);
    if (!problem) problem = StationFileProblem(stationOptions.stationFile);
    if (problem) {
      ReportError("init", *problem);
      exitCode = kExitUsage;
      return;
    }
    std::vector<std::string> log;
    ObserveDriverLog([&log](std::string_view line) { log.emplace_back(line); });
    const int32_t result =
        host.Initialise(stationOptions.stationFile, DriverTimeout(stationOptions.timeout));
    ObserveDriverLog(nullptr);
    if (const std::optional<std::string> mismatch = host.StationMapMismatch()) {
      ReportError("init", *mismatch);
      exitCode = kExitUsage;
      return;
    }
    // An H1 library that did not open reaches no station: its own line is every station's reason.
    const std::optional<std::string> closed = H1LibraryOpenFailure();
    std::vector<StationStatus> statuses = StationStatuses(host.instance(), log, host.timeout());
    for (StationStatus& status : statuses) {
      if (status.up) continue;
      if (std::optional<std::string> absent = host.StationAbsentFromMap(status.station)) {
        status.reason = *absent;
      }
      if (closed) status.reason = *closed;
    }
    const bool anyDown =
        std::any_of(statuses.begin(), statuses.end(), [](const StationStatus& s) { return !s.up; });
    exitCode = result != 0                                  ? kExitRefused
               : options->requireAll && (anyDown || closed) ? kExitStationDown
                                                            : kExitDone;
    const std::string failure =
        result != 0
            ? fmt::format("{}: initialisation failed with {}: the file configures no station",
                          stationOptions.stationFile, result)
        : closed ? fmt::format("the H1 library did not open: {}", *closed)
                 : std::string();
    if (JsonOutput()) {
      Json document = {{"command", "init"},
                       {"stationFile", stationOptions.stationFile},
                       {"driverNumber", host.driverNumber()},
                       {"result", result},
                       {"stations", StationsJson(host.instance(), statuses)}};
      if (!failure.empty()) document["error"] = failure;
      EmitDocument(std::move(document));
      return;
    }
    if (!failure.empty()) ReportError("init", failure);
    fmt::print("initialisation: result {}\n\n", result);
    PrintStationTable(host.instance());
    if (!statuses.empty()) PrintStatuses(statuses);
  });
}

}  // namespace tavhost
