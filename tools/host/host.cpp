#include "host.h"

#include <fmt/core.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "abi/records.h"
#include "h1_operations.h"
#include "sim/network_file.h"

namespace tavhost {

const DriverLibrary& Host::driver() {
  InstallNetwork();
  if (!driver_) {
    driver_.emplace(libraryPath);
    if (!driver_->loaded()) {
      fmt::print(stderr, "cannot load {}: {}\n", libraryPath, driver_->error());
      std::exit(1);
    }
  }
  return *driver_;
}

void Host::InstallNetwork() {
  if (networkInstalled_) return;
  networkInstalled_ = true;
  if (!tcpMapPath.empty()) {
    UseH1OverTcp(h1tcpPath, std::filesystem::absolute(tcpMapPath).string());
    return;
  }
  if (networkPath.empty()) return;  // the built-in network
  tav::sim::LoadedNetwork loaded = tav::sim::LoadNetworkFile(networkPath);
  if (!loaded.network) {
    fmt::print(stderr, "{}\n", loaded.error);
    std::exit(1);
  }
  tav::sim::InstallNetwork(std::move(*loaded.network));
}

void AddStationOptions(CLI::App& command, StationOptions& options) {
  command
      .add_option("--station-file", options.stationFile,
                  "Station file tavSH1NN.int (NN: the driver number)")
      ->capture_default_str();
  command
      .add_option("--timeout", options.timeout,
                  "The host's time-out; the retry budget is ten times it, at least 100")
      ->capture_default_str();
}

std::optional<int32_t> DriverNumberOfStationFile(const std::string& fileName) {
  constexpr std::string_view kHead = "tavSH1";
  constexpr std::string_view kTail = ".int";
  std::string_view name = fileName;
  if (!name.starts_with(kHead) || !name.ends_with(kTail)) return std::nullopt;
  name = name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
  int32_t number = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
  if (error != std::errc() || end != name.data() + name.size()) return std::nullopt;
  // The driver writes the number with at least two digits: only that spelling names the file.
  if (fmt::format("tavSH1{:02}.int", number) != fileName) return std::nullopt;
  return number;
}

int32_t Host::Initialise(const std::string& stationFile, int32_t timeout) {
  const std::filesystem::path path(stationFile);
  const std::optional<int32_t> number = DriverNumberOfStationFile(path.filename().string());
  if (!number) {
    fmt::print(stderr, "{}: a station file is named tavSH1NN.int, NN being the driver number\n",
               stationFile);
    std::exit(1);
  }
  std::error_code error;
  if (path.has_parent_path()) std::filesystem::current_path(path.parent_path(), error);
  if (error) {
    fmt::print(stderr, "{}: {}\n", path.parent_path().string(), error.message());
    std::exit(1);
  }
  driverNumber_ = *number;
  tav::InitBlock block{{}, 1, timeout};
  return driver().Run(instance_.get(), tav::CommandCode::kInitialise, &block, driverNumber_);
}

bool InitialiseQuietly(Host& host, const StationOptions& options) {
  EchoDriverLog(false);
  const int32_t initialised = host.Initialise(options.stationFile, options.timeout);
  EchoDriverLog(true);
  if (initialised != 0) fmt::print(stderr, "initialisation failed with {}\n", initialised);
  return initialised == 0;
}

}  // namespace tavhost
