// tavhost init: command 1 on a station file, then the station table.
#include <fmt/core.h>

#include "host.h"

namespace tavhost {

void AddInitCommand(CLI::App& app, Host& host, int& exitCode) {
  struct Options {
    std::string stationFile = kExampleStationFile;
    int32_t timeout = 0;
  };
  auto options = std::make_shared<Options>();
  CLI::App* init = app.add_subcommand(
      "init", "Initialise the driver from a station file (command 1); show its stations");
  init->add_option("--station-file", options->stationFile,
                   "Station file tavSH1NN.int (NN: the driver number)")
      ->capture_default_str();
  init->add_option("--timeout", options->timeout,
                   "The host's time-out; the retry budget is ten times it, at least 100")
      ->capture_default_str();
  init->callback([&host, &exitCode, options] {
    const int32_t result = host.Initialise(options->stationFile, options->timeout);
    fmt::print("initialisation: result {}\n\n", result);
    PrintStationTable(host.instance());
    exitCode = result == 0 ? 0 : 1;
  });
}

}  // namespace tavhost
