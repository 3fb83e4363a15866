// tavhost demo: the driver at work on the simulated stations of the example station file.
#include <fmt/core.h>

#include <chrono>

#include "host.h"

namespace tavhost {

namespace {

void Heading(std::string_view text) { fmt::print("\n== {} ==\n", text); }

}  // namespace

void AddDemoCommand(CLI::App& app, Host& host, int& exitCode) {
  CLI::App* demo = app.add_subcommand(
      "demo", "Initialise from examples/tavSH101.int on the simulated network and show it");
  demo->callback([&host, &exitCode] {
    fmt::print("TavSH1 on the simulated H1 network, station file {}\n", kExampleStationFile);

    Heading("Initialise (command 1): the driver's log");
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = host.Initialise(kExampleStationFile, 0);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    fmt::print("result {} after {} ms (stations that are switched off hold it up for their "
               "connection waits)\n",
               result, elapsed.count());

    Heading("The station table and its connections");
    PrintStationTable(host.instance());

    Heading("Close the H1 driver library (command 11)");
    fmt::print("result {}\n", host.driver().Run(&host.instance(), 11, nullptr));
    exitCode = result == 0 ? 0 : 1;
  });
}

}  // namespace tavhost
