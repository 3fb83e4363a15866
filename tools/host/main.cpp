// tavhost: drives the TavSH1 driver library through TavMain, as the HMI/SCADA host does, on the
// simulated H1 network.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <exception>
#include <filesystem>

#include "cli/file_problem.h"
#include "cli/output.h"
#include "commands/command_line.h"
#include "commands/commands.h"
#include "runtime/host.h"
#include "stations/quick_target.h"

int main(int argc, char** argv) {
  CLI::App app{"tavhost: drives the TavSH1 H1 driver as its host does"};
  tavhost::Host host;
  int exitCode = 0;
  bool json = false;
  std::string logFile;
  // A driver library named relative to the current folder is taken from there, not looked up in
  // the system's library path.
  app.add_option("--driver", host.libraryPath, "Path of the driver library")
      ->capture_default_str()
      ->transform([](std::string path) {
        std::error_code error;
        return std::filesystem::exists(path, error) ? std::filesystem::absolute(path).string()
                                                    : path;
      });
  app.add_option("--network", host.networkPath,
                 "Simulation file of the H1 network (default: the built-in network)");
  app.add_option("--tcp-map", host.tcpMapPath,
                 "Station map: run over TCP to real PLCs through libh1tcp instead of the "
                 "simulated network")
      ->check(CLI::Validator(
          [](const std::string& path) { return tavhost::FileReadProblem(path).value_or(""); },
          "FILE", "readable file"));
  app.add_option("--h1-interface", host.h1Interface,
                 "Network interface of the H1 network: run over raw Ethernet (H1) through "
                 "libh1eth to real PLCs instead of the simulated network")
      ->excludes("--network")
      ->excludes("--tcp-map");
  std::string plc;
  int slot = 2;
  bool s5 = false;
  CLI::Option* plcOption =
      app.add_option("--plc", plc,
                     "One PLC over TCP, without station file or map: HOST[:PORT], station 01 "
                     "(an S7 CPU on port 102 unless given)")
          ->excludes("--network")
          ->excludes("--tcp-map");
  plcOption->excludes("--h1-interface");
  app.add_option("--slot", slot, "With --plc: the S7 CPU's slot (1 to 255)")
      ->capture_default_str()
      ->needs(plcOption);
  app.add_flag("--s5", s5, "With --plc: an S5 station, fetch/write over plain TCP on PORT")
      ->needs(plcOption);
  app.add_flag("--json", json, "Results as JSON, one document per line");
  // After --driver: its callback has stored the path when this one runs.
  app.set_version_flag(
      "--version", [&host] { return tavhost::VersionText(host.libraryPath); },
      "Print tavhost's version and the driver's version line, then exit");
  app.add_option("--log", logFile,
                 "Append the driver's log lines with a time stamp to this file (they go to "
                 "standard error as well)");
  app.require_subcommand(1);
  app.fallthrough();  // the global options may follow the subcommand
  app.failure_message([](const CLI::App* failed, const CLI::Error& error) {
    return tavhost::FailureMessage(*failed, error);
  });
  // Before any subcommand runs, and where the user typed the log file's path.
  app.parse_complete_callback([&] {
    std::string error;
    if (!tavhost::ConfigureOutput(json, logFile, error)) throw CLI::ValidationError(error);
    if (plc.empty()) return;
    for (const CLI::App* command : app.get_subcommands()) {
      const CLI::Option* stationFile = command->get_option_no_throw("--station-file");
      if (stationFile != nullptr && stationFile->count() > 0) {
        throw CLI::ValidationError("--plc writes its own station file: leave out --station-file");
      }
    }
    error = tavhost::UseQuickTarget(plc, slot, s5, host.tcpMapPath, host.quickStationFile);
    if (!error.empty()) throw CLI::ValidationError(error);
  });

  tavhost::AddInfoCommand(app, host, exitCode);
  tavhost::AddInitCommand(app, host, exitCode);
  tavhost::AddDemoCommand(app, host, exitCode);
  tavhost::AddReadCommand(app, host, exitCode);
  tavhost::AddWriteCommand(app, host, exitCode);
  tavhost::AddCheckCommand(app, host, exitCode);
  tavhost::AddWatchCommand(app, host, exitCode);
  tavhost::AddSerialCommand(app, host, exitCode);
  tavhost::AddBridgeCommand(app, host, exitCode);
  tavhost::AddGatewayCommand(app, host, exitCode);
  tavhost::AddH1Command(app, host, exitCode);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? 0 : tavhost::kExitUsage;
  } catch (const std::exception& error) {
    fmt::print(stderr, "tavhost: internal error: {}\n", error.what());
    return tavhost::kExitInternal;
  }
  return exitCode;
}
