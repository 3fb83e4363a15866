// tavhost gateway FILE: ISO on TCP and fetch/write clients in front, H1 stations behind, as the
// gateway file says, until SIGINT or SIGTERM. It opens the H1 link as libh1eth does: it needs
// CAP_NET_RAW (and CAP_NET_BIND_SERVICE for port 102).
#include <fmt/core.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "cli/output.h"
#include "cli/terminal.h"
#include "commands/commands.h"
#include "commands/h1_settings.h"
#include "gateway/gateway_runtime.h"
#include "gateway/gateway_settings.h"
#include "h1eth/capture.h"
#include "h1eth/link.h"
#include "runtime/host.h"
#include "sim/network.h"
#include "vocabulary/h1_results.h"

namespace tavhost {

namespace {

constexpr const char* kCommand = "gateway";

struct GatewayOptions {
  std::string file;
  int statsSeconds = 0;
};

void LogLine(const std::string& line) { fmt::print(stderr, "tavhost gateway: {}\n", line); }

void StatsLine(const std::string& line) {
  fmt::print("{}\n", line);
  std::fflush(stdout);
}

// The station file's stations as the driver reads them (command 1), its log hidden: on a
// simulated network whose H1 library does not open, whatever the command line chose, so that it
// reaches no station and waits for none (the gateway's own link is the H1 side).
gateway::StationTable ReadStations(Host& host, const std::string& stationFile) {
  if (std::optional<std::string> problem = StationFileProblem(stationFile)) {
    return {nullptr, *problem};
  }
  host.networkPath.clear();
  host.tcpMapPath.clear();
  host.h1Interface.clear();
  host.quickStationFile.clear();
  tav::sim::Network closed;
  closed.settings.openDriverResult = tav::h1::kDriverNotOpen;
  tav::sim::InstallNetwork(std::move(closed));
  EchoDriverLog(false);
  const int32_t result = host.Initialise(stationFile, kSmallestDriverTimeoutMs);
  EchoDriverLog(true);
  if (result != 0) {
    return {nullptr, fmt::format("{}: the driver read no station from it (`tavhost init "
                                 "--station-file {}` shows its log of every line)",
                                 stationFile, stationFile)};
  }
  return {&host.instance(), ""};
}

int RunGatewayCommand(Host& host, const GatewayOptions& options) {
  const gateway::GatewayFileReading reading = gateway::ReadGatewayFile(
      options.file, [&host](const std::string& path) { return ReadStations(host, path); });
  for (const std::string& problem : reading.problems) ReportError(kCommand, problem);
  if (!reading.settings) return kExitUsage;
  const gateway::GatewaySettings& settings = *reading.settings;
  tav::h1eth::LinkOpening opening = tav::h1eth::OpenPacketLink(settings.h1Interface);
  if (!opening.link) {
    // The file names the interface here, not the library's variable.
    ReportError(kCommand, opening.failure == tav::h1eth::LinkFailure::kNoSuchInterface
                              ? fmt::format("network interface '{}' (h1_interface in {}) not found",
                                            settings.h1Interface, options.file)
                              : tav::h1eth::DescribeLinkFailure(opening, settings.h1Interface));
    return opening.failure == tav::h1eth::LinkFailure::kNoPermission ? kExitRefused : kExitUsage;
  }
  // TAV_H1_CAPTURE writes the gateway's frames as it writes libh1eth's.
  const char* capture = std::getenv(tav::h1eth::kCaptureVariable);
  const std::unique_ptr<tav::h1eth::Link> link = tav::h1eth::CaptureWhenAsked(
      std::move(opening.link), capture != nullptr ? capture : "", LogLine);
  const gateway::RuntimeOptions runtime{options.statsSeconds, JsonOutput()};
  CatchInterrupt();
  CatchTermination();
  const bool served =
      gateway::RunGateway(settings, runtime, *link, H1TransportSettings(host, kCommand),
                          Interrupted, LogLine, StatsLine);
  ReleaseInterrupt();
  return served ? kExitDone : kExitRefused;
}

}  // namespace

void AddGatewayCommand(CLI::App& app, Host& host, int& exitCode) {
  auto options = std::make_shared<GatewayOptions>();
  CLI::App* command = app.add_subcommand(
      "gateway", "Serve S7 and fetch/write clients over TCP from H1 stations, as the file says");
  command->add_option("FILE", options->file, "The gateway file (TOML)")->required();
  command
      ->add_option("--stats-interval", options->statsSeconds,
                   "Seconds between statistics lines on standard output (0: none)")
      ->capture_default_str()
      ->check(CLI::Range(0, 86'400));
  command->callback([&host, &exitCode, options] { exitCode = RunGatewayCommand(host, *options); });
}

}  // namespace tavhost
