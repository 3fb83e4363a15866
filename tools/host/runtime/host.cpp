#include "runtime/host.h"

#include <fmt/core.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "abi/records.h"
#include "cli/file_problem.h"
#include "cli/output.h"
#include "runtime/h1_operations.h"
#include "runtime/simulation_control.h"
#include "runtime/station_map_check.h"
#include "sim/network_file.h"
#include "station_map/station_map.h"

namespace tavhost {

namespace {

// The driver opens no station file with a longer name.
constexpr size_t kStationFileNameLength = 15;

// A file's text, at most `limit` bytes of it; none when it cannot be read.
std::optional<std::string> FileText(const std::string& path, size_t limit) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text;
  char chunk[4096];
  while (text.size() < limit && file.read(chunk, sizeof chunk).gcount() > 0) {
    text.append(chunk, std::min(static_cast<size_t>(file.gcount()), limit - text.size()));
  }
  return text;
}

// The driver reads no more of a station file than 64 KiB: one byte beyond shows it was cut.
constexpr size_t kStationFileReadBytes = 65'537;
// libh1tcp reads no more of a station map: one byte beyond shows it is larger.
constexpr size_t kStationMapReadBytes = tav::h1tcp::kStationMapByteLimit + 1;

// The station map as libh1tcp reads it; none when it cannot be read or is too large.
std::optional<tav::h1tcp::StationMap> ReadStationMap(const std::string& path) {
  const std::optional<std::string> text = FileText(path, kStationMapReadBytes);
  if (!text || text->size() > tav::h1tcp::kStationMapByteLimit) return std::nullopt;
  return tav::h1tcp::ParseStationMap(*text);
}

}  // namespace

const DriverLibrary& Host::driver() {
  InstallNetwork();
  if (!driver_) {
    driver_.emplace(libraryPath);
    if (!driver_->loaded()) {
      ReportError("", fmt::format("cannot load the driver {}: {}", libraryPath, driver_->error()));
      std::exit(kExitUsage);
    }
  }
  return *driver_;
}

void Host::InstallNetwork() {
  if (networkInstalled_) return;
  networkInstalled_ = true;
  if (!h1Interface.empty()) {
    UseH1OverEthernet(h1ethPath, h1Interface);
    return;
  }
  if (!tcpMapPath.empty()) {
    tcpMapFull_ = std::filesystem::absolute(tcpMapPath).string();
    UseH1OverTcp(h1tcpPath, tcpMapFull_);
    return;
  }
  if (networkPath.empty()) return;  // the built-in network
  tav::sim::LoadedNetwork loaded = tav::sim::LoadNetworkFile(networkPath);
  if (!loaded.network) {
    ReportError("", loaded.error);
    std::exit(kExitUsage);
  }
  tav::sim::InstallNetwork(std::move(*loaded.network));
  FollowSimulationFile(networkPath);
}

int32_t DriverTimeout(int32_t timeoutMs) {
  return std::max(timeoutMs, kSmallestDriverTimeoutMs);
}

std::string TimeoutText(int32_t timeoutMs) {
  const int32_t driverTimeout = DriverTimeout(timeoutMs);
  return fmt::format(
      "the time-out of {} ms (a connection waits up to {} ms, a transfer up to {} ms; --timeout)",
      timeoutMs, driverTimeout, int64_t{driverTimeout} * 10);
}

namespace {

// --timeout in whole milliseconds from 1 to the longest; a precise line for anything else.
std::string TimeoutProblem(const std::string& text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size() ||
      (error != std::errc() && error != std::errc::result_out_of_range)) {
    return fmt::format("'{}' is no whole number of milliseconds", text);
  }
  if (error == std::errc::result_out_of_range || value > kLongestTimeoutMs) {
    return fmt::format(
        "{} ms is too long: at most {} ms (a connection then waits up to a minute, a transfer "
        "up to ten)",
        text, kLongestTimeoutMs);
  }
  if (value < 1) return fmt::format("{} ms is too short: at least 1 ms", text);
  return {};
}

}  // namespace

void AddStationOptions(CLI::App& command, StationOptions& options) {
  command
      .add_option("--station-file", options.stationFile,
                  "Station file tavSH1NN.int (NN: the driver number)")
      ->capture_default_str()
      ->each([&options](const std::string&) { options.stationFileNamed = true; });
  command
      .add_option(
          "--timeout", options.timeout,
          fmt::format("Milliseconds a station's connection may take to come up, 1 to {} "
                      "(below {} counts as {}); a transfer waits up to ten times as long",
                      kLongestTimeoutMs, kSmallestDriverTimeoutMs, kSmallestDriverTimeoutMs))
      ->capture_default_str()
      ->check(CLI::Validator(TimeoutProblem, "MILLISECONDS"));
}

std::string StationFileName(int32_t driverNumber) {
  // The driver's own format: %.2d gives -05 where {:02} would give -5.
  char name[32];
  std::snprintf(name, sizeof name, "tavSH1%.2d.int", driverNumber);
  return name;
}

std::optional<int32_t> DriverNumberOfStationFile(const std::string& fileName) {
  constexpr std::string_view kHead = "tavSH1";
  constexpr std::string_view kTail = ".int";
  std::string_view name = fileName;
  if (!name.starts_with(kHead) || !name.ends_with(kTail) ||
      name.size() < kHead.size() + kTail.size()) {
    return std::nullopt;
  }
  name = name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
  int32_t number = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
  if (error != std::errc() || end != name.data() + name.size()) return std::nullopt;
  // Only the spelling the driver forms names the file.
  if (StationFileName(number) != fileName) return std::nullopt;
  return number;
}

std::optional<std::string> StationFileProblem(const std::string& stationFile) {
  const std::filesystem::path path(stationFile);
  const std::string name = path.filename().string();
  if (!DriverNumberOfStationFile(name)) {
    // A number the driver would spell otherwise: name the file it reads.
    const std::string_view text = name;
    int32_t number = 0;
    bool numbered = false;
    if (text.starts_with("tavSH1") && text.ends_with(".int")) {
      const char* last = text.data() + text.size() - 4;
      const auto [end, error] = std::from_chars(text.data() + 6, last, number);
      numbered = error == std::errc() && end == last;
    }
    if (numbered) {
      return fmt::format("{}: the driver number {} names the file {}", stationFile, number,
                         StationFileName(number));
    }
    return fmt::format("{}: a station file is named tavSH1NN.int, NN being the driver number",
                       stationFile);
  }
  if (name.size() > kStationFileNameLength) {
    return fmt::format(
        "{}: the driver opens no station file whose name is longer than {} "
        "characters (driver numbers -9999 to 99999)",
        stationFile, kStationFileNameLength);
  }
  return FileReadProblem(stationFile);
}

int32_t Host::Initialise(const std::string& requestedFile, int32_t timeout) {
  const std::string& stationFile = quickStationFile.empty() ? requestedFile : quickStationFile;
  const std::filesystem::path path(stationFile);
  const std::optional<int32_t> number = DriverNumberOfStationFile(path.filename().string());
  if (!number) {
    ReportError("", *StationFileProblem(stationFile));
    std::exit(kExitUsage);
  }
  // Load the driver and the network before moving: their paths are relative to where the user
  // typed them.
  driver();
  stationFile_ = stationFile;
  stationFileFull_ = std::filesystem::absolute(path).string();
  std::error_code error;
  if (path.has_parent_path()) std::filesystem::current_path(path.parent_path(), error);
  if (error) {
    ReportError("", fmt::format("{}: {}", path.parent_path().string(), error.message()));
    std::exit(kExitUsage);
  }
  driverNumber_ = *number;
  timeout_ = timeout;
  tav::InitBlock block{{}, 1, timeout};
  return driver().Run(instance_.get(), tav::CommandCode::kInitialise, &block, driverNumber_);
}

std::optional<std::string> Host::StationMapMismatch() const {
  if (tcpMapFull_.empty() || stationFileFull_.empty()) return std::nullopt;
  const std::optional<std::string> stationText = FileText(stationFileFull_, kStationFileReadBytes);
  const std::optional<tav::h1tcp::StationMap> map = ReadStationMap(tcpMapFull_);
  // A map that cannot be read routes nothing, as libh1tcp has logged.
  if (!stationText || !map) return std::nullopt;
  return tavhost::StationMapMismatch(*instance_, {stationFile_, *stationText}, tcpMapPath, *map);
}

std::optional<std::string> Host::StationAbsentFromMap(int station) const {
  if (tcpMapFull_.empty()) return std::nullopt;
  const std::optional<tav::h1tcp::StationMap> map = ReadStationMap(tcpMapFull_);
  if (!map) return std::nullopt;
  return tavhost::StationAbsentFromMap(*instance_, station, tcpMapPath, *map);
}

std::optional<std::string> Host::StationMapProblem() const {
  if (tcpMapFull_.empty()) return std::nullopt;
  const std::optional<std::string> text = FileText(tcpMapFull_, kStationMapReadBytes);
  if (text && text->size() > tav::h1tcp::kStationMapByteLimit) {
    return fmt::format("{} is larger than {} bytes", tcpMapFull_, tav::h1tcp::kStationMapByteLimit);
  }
  if (!text) return std::nullopt;  // libh1tcp has said it is missing
  const tav::h1tcp::StationMap map = tav::h1tcp::ParseStationMap(*text);
  if (map.problems.empty()) return std::nullopt;
  const tav::h1tcp::MapProblem& first = map.problems.front();
  return fmt::format("{} line {} skipped: {}", tcpMapFull_, first.line, first.text);
}

std::optional<std::string> StationChoiceProblem(const Host& host, const StationOptions& options) {
  if (host.h1Interface.empty() || options.stationFileNamed || !host.quickStationFile.empty() ||
      options.stationFile != ExampleStationFile()) {
    return std::nullopt;
  }
  return fmt::format(
      "--h1-interface {} needs the plant's station file (--station-file tavSH1NN.int): the "
      "example station file's stations are invented, and their connection requests would go "
      "out on {}",
      host.h1Interface, host.h1Interface);
}

bool InitialiseQuietly(Host& host, const StationOptions& options, std::string_view command,
                       int& exitCode, bool reachesStations) {
  std::optional<std::string> problem = StationChoiceProblem(host, options);
  if (!problem) problem = StationFileProblem(options.stationFile);
  if (problem) {
    ReportError(command, *problem);
    exitCode = kExitUsage;
    return false;
  }
  EchoDriverLog(false);
  const int32_t initialised = host.Initialise(options.stationFile, DriverTimeout(options.timeout));
  EchoDriverLog(true);
  // libh1tcp skips a broken line of the station map and goes on; a command run over it would
  // then only time out on that station, so tavhost stops at the first such line instead.
  if (const std::optional<std::string> skipped = host.StationMapProblem()) {
    ReportError(command, *skipped);
    exitCode = kExitUsage;
    return false;
  }
  // A station reached with the protocol of another type would show its bytes in another
  // layout: every value read would be wrong.
  if (const std::optional<std::string> mismatch = host.StationMapMismatch()) {
    ReportError(command, *mismatch);
    exitCode = kExitUsage;
    return false;
  }
  if (const std::optional<std::string> failure = H1LibraryOpenFailure();
      failure && reachesStations) {
    ReportError(command, *failure);
    exitCode = kExitRefused;
    return false;
  }
  if (initialised != 0) {
    ReportError(command,
                fmt::format("{}: initialisation failed with {}: the file configures no station "
                            "(`tavhost init` shows the driver's log of every line)",
                            options.stationFile, initialised));
    exitCode = kExitRefused;
    return false;
  }
  return true;
}

}  // namespace tavhost
