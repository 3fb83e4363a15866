// What every tavhost command shares: the driver library, loaded on first use from the path the
// user chose; the simulated H1 network it runs on; and the host's DriverInstance.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "abi/driver_instance.h"
#include "driver_library.h"

namespace tavhost {

inline constexpr const char* kExampleStationFile = TAV_EXAMPLES_DIR "/tavSH101.int";

class Host {
 public:
  std::string libraryPath = TAVSH1_DEFAULT_LIBRARY;
  std::string networkPath;  // the simulation file; empty: the built-in network
  std::string tcpMapPath;   // non-empty: libh1tcp with this station map, not the simulation
  std::string h1tcpPath = TAV_H1TCP_DEFAULT_LIBRARY;

  // The loaded driver, on the chosen network; exits the program with a message when either
  // cannot be loaded.
  const DriverLibrary& driver();
  tav::DriverInstance& instance() { return *instance_; }

  // Command 1 on the station file at `stationFile` (named tavSH1NN.int: NN is the driver
  // number): the host's current directory becomes the file's folder, where the driver looks
  // for it. Returns the driver's result; exits the program when the file name has another form.
  int32_t Initialise(const std::string& stationFile, int32_t timeout);
  int32_t driverNumber() const { return driverNumber_; }

 private:
  void InstallNetwork();

  std::optional<DriverLibrary> driver_;
  std::unique_ptr<tav::DriverInstance> instance_ = std::make_unique<tav::DriverInstance>();
  bool networkInstalled_ = false;
  int32_t driverNumber_ = 0;
};

// Where init, read and write take their stations from.
struct StationOptions {
  std::string stationFile = kExampleStationFile;
  int32_t timeout = 0;
};
void AddStationOptions(CLI::App& command, StationOptions& options);

// Whether the driver's log lines are printed (they are unless a command turns them off).
void EchoDriverLog(bool on);

// Initialises the driver on the chosen station file without showing its log; says why on
// standard error and returns false when initialisation fails.
bool InitialiseQuietly(Host& host, const StationOptions& options);

// The driver number that names a station file tavSH1NN.int; none for any other name.
std::optional<int32_t> DriverNumberOfStationFile(const std::string& fileName);

// Prints the configured stations of the PlcTable with their connections, and what the simulated
// network knows of each.
void PrintStationTable(const tav::DriverInstance& instance);

// Each command adds its subcommand to the app; its callback runs when the user picked it and
// stores the program's exit code in `exitCode`.
void AddInfoCommand(CLI::App& app, Host& host, int& exitCode);
void AddInitCommand(CLI::App& app, Host& host, int& exitCode);
void AddDemoCommand(CLI::App& app, Host& host, int& exitCode);
void AddReadCommand(CLI::App& app, Host& host, int& exitCode);
void AddWriteCommand(CLI::App& app, Host& host, int& exitCode);

}  // namespace tavhost
