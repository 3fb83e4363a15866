// tavhost: drives the TavSH1 driver library through TavMain, as the HMI/SCADA host does, on the
// simulated H1 network.
#include <CLI/CLI.hpp>

#include "host.h"

int main(int argc, char** argv) {
  CLI::App app{"tavhost: drives the TavSH1 H1 driver as its host does"};
  tavhost::Host host;
  int exitCode = 0;
  app.add_option("--driver", host.libraryPath, "Path of the driver library")->capture_default_str();
  app.add_option("--network", host.networkPath,
                 "Simulation file of the H1 network (default: the built-in network)");
  app.add_option("--tcp-map", host.tcpMapPath,
                 "Station map: run over TCP to real PLCs through libh1tcp instead of the "
                 "simulated network")
      ->check(CLI::ExistingFile);
  app.require_subcommand(1);

  tavhost::AddInfoCommand(app, host, exitCode);
  tavhost::AddInitCommand(app, host, exitCode);
  tavhost::AddDemoCommand(app, host, exitCode);
  tavhost::AddReadCommand(app, host, exitCode);
  tavhost::AddWriteCommand(app, host, exitCode);

  CLI11_PARSE(app, argc, argv);
  return exitCode;
}
