// What every tavhost command shares: the driver library, loaded on first use from the path the
// user chose; the simulated H1 network it runs on; and the host's DriverInstance.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "abi/driver_instance.h"
#include "cli/install_layout.h"
#include "cli/output.h"
#include "runtime/driver_library.h"

namespace tavhost {

class Host {
 public:
  std::string libraryPath = DefaultDriverPath();
  std::string networkPath;  // the simulation file; empty: the built-in network
  std::string tcpMapPath;   // non-empty: libh1tcp with this station map, not the simulation
  std::string h1tcpPath = DefaultH1TcpPath();
  std::string h1Interface;  // non-empty: libh1eth on this network interface, not the simulation
  std::string h1ethPath = DefaultH1EthPath();
  std::string quickStationFile;  // --plc: the station file written for it, used by every command

  // The loaded driver, on the chosen network; exits the program with a message when either
  // cannot be loaded.
  const DriverLibrary& driver();
  tav::DriverInstance& instance() { return *instance_; }

  // Command 1 on the station file at `stationFile` (named tavSH1NN.int: NN is the driver
  // number): the host's current directory becomes the file's folder, where the driver looks
  // for it. Returns the driver's result; exits the program when the file name has another form.
  int32_t Initialise(const std::string& stationFile, int32_t timeout);
  int32_t driverNumber() const { return driverNumber_; }
  // The host's time-out that Initialise passed to command 1 (--timeout's milliseconds).
  int32_t timeout() const { return timeout_; }

  // Over libh1tcp, after Initialise: the first station whose map line names a protocol that
  // cannot serve the type the station file gave it, as one line naming both lines. None on the
  // simulated network, or when every mapped station fits.
  std::optional<std::string> StationMapMismatch() const;
  // Over libh1tcp, after Initialise: why `station` can never come up when the map has no line for
  // it. None on the simulated network, or when the map routes the station.
  std::optional<std::string> StationAbsentFromMap(int station) const;
  // The first line of the station map that libh1tcp skips, as "PATH line N skipped: why", or
  // why the map cannot be used at all; none when the map is usable (or none is given).
  std::optional<std::string> StationMapProblem() const;

 private:
  void InstallNetwork();

  std::optional<DriverLibrary> driver_;
  std::unique_ptr<tav::DriverInstance> instance_ = std::make_unique<tav::DriverInstance>();
  bool networkInstalled_ = false;
  int32_t driverNumber_ = 0;
  int32_t timeout_ = 0;
  std::string stationFile_;      // as the user named it
  std::string stationFileFull_;  // the same, from the folder the user was in
  std::string tcpMapFull_;       // the station map, from the folder the user was in
};

// --timeout, in milliseconds: how long a station's connection may take to come up (the host's
// time-out that command 1 takes: the driver polls a connection that many times, 1 ms apart);
// a transfer waits up to ten times as long for its answer. The driver takes any time-out below
// 10 ms as 100 ms, so tavhost passes at least 10: a longer --timeout never waits less.
inline constexpr int32_t kDefaultTimeoutMs = 1000;
inline constexpr int32_t kSmallestDriverTimeoutMs = 10;
inline constexpr int32_t kLongestTimeoutMs = 60'000;
// The host's time-out that command 1 gets for --timeout `timeoutMs`.
int32_t DriverTimeout(int32_t timeoutMs);
// What a failure ran into: "the time-out of 1000 ms (a connection waits up to 1000 ms, a
// transfer up to 10000 ms; --timeout)".
std::string TimeoutText(int32_t timeoutMs);

// Where init, read and write take their stations from.
struct StationOptions {
  std::string stationFile = ExampleStationFile();
  int32_t timeout = kDefaultTimeoutMs;
  bool stationFileNamed = false;  // --station-file was given
};
void AddStationOptions(CLI::App& command, StationOptions& options);
// Over --h1-interface the station file must be named: the example's stations are invented, and
// a real adapter would send their connection requests onto the plant's segment. The refusal in
// words; none when the choice is sound.
std::optional<std::string> StationChoiceProblem(const Host& host, const StationOptions& options);

// Whether the driver's log lines are printed (they are unless a command turns them off).
void EchoDriverLog(bool on);

// Initialises the driver on the chosen station file without showing its log on standard error.
// Reports under `command` why and sets `exitCode` when it cannot; returns whether it did. A
// command that `reachesStations` also fails when the H1 library did not open, with the library's
// own line: no station could answer it.
bool InitialiseQuietly(Host& host, const StationOptions& options, std::string_view command,
                       int& exitCode, bool reachesStations = true);

// The driver number that names a station file tavSH1NN.int; none for any other name.
std::optional<int32_t> DriverNumberOfStationFile(const std::string& fileName);
// The name of the station file that driver `driverNumber` reads: the number with at least two
// digits after its sign, "tavSH1-05.int" for -5.
std::string StationFileName(int32_t driverNumber);
// What keeps the driver from reading `stationFile`: a name that no driver number gives, no such
// file, or a file that cannot be read (and why). None when it can read it.
std::optional<std::string> StationFileProblem(const std::string& stationFile);

}  // namespace tavhost
