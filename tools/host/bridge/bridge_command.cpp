// tavhost bridge CONFIG: the tags of a bridge file polled as a host polls them and published to
// an MQTT broker, and writes taken back from it, until SIGINT or SIGTERM.
#include <fmt/core.h>

#include "bridge/bridge_runtime.h"
#include "bridge/bridge_settings.h"
#include "cli/terminal.h"
#include "commands/commands.h"

namespace tavhost {

namespace {

using bridge::BridgeSettings;

void ReportProblems(const bridge::BridgeFileProblems& problems) {
  std::fflush(stdout);
  for (const bridge::BridgeFileProblem& problem : problems) {
    fmt::print(stderr, "{}\n", problem.Text());
  }
  std::fflush(stderr);
}

struct BridgeOptions {
  std::string file;
  std::string broker;
  StationOptions stations;
  int64_t statsSeconds = 60;
  CLI::Option* stationFile = nullptr;
  CLI::Option* timeout = nullptr;
};

// The file's transport where the command line leaves the choice: the command line wins.
void ApplyTransport(const bridge::TransportSettings& transport, BridgeOptions& options,
                    Host& host) {
  if (options.stationFile->count() == 0 && !transport.stationFile.empty()) {
    options.stations.stationFile = transport.stationFile;
  }
  if (options.timeout->count() == 0) options.stations.timeout = transport.timeoutMs;
  const bool transportChosen =
      !host.networkPath.empty() || !host.tcpMapPath.empty() || !host.h1Interface.empty();
  if (transportChosen) return;
  host.networkPath = transport.networkFile;
  host.tcpMapPath = transport.tcpMap;
  host.h1Interface = transport.h1Interface;
}

bridge::BridgePlan PlanOf(const BridgeSettings& settings, int64_t statsSeconds) {
  bridge::BridgePlan plan;
  plan.prefix = settings.prefix;
  plan.stationNames = settings.stationNames;
  plan.heartbeat = std::chrono::seconds(settings.heartbeatSeconds);
  plan.statsInterval = std::chrono::seconds(statsSeconds);
  for (const bridge::GroupSettings& group : settings.groups) {
    bridge::GroupPlan polled{std::chrono::milliseconds(group.periodMilliseconds), {}};
    for (const bridge::TagSettings& tag : group.tags) {
      polled.tags.push_back({tag.thirteen, tag.resolvedType, tag.name, tag.deadband.value_or(0),
                             tag.writable, group.name + "/" + tag.name, tag.isSigned});
    }
    plan.groups.push_back(std::move(polled));
  }
  if (settings.sparkplug) {
    plan.sparkplug =
        bridge::SparkplugPlan{settings.sparkplug->groupId, settings.sparkplug->edgeNodeId,
                              settings.sparkplug->primaryHostId};
  }
  return plan;
}

bridge::BrokerOptions BrokerOf(const bridge::BrokerSettings& broker) {
  bridge::BrokerOptions options;
  options.host = broker.host;
  options.port = broker.port;
  options.clientId = broker.clientId;
  options.caFile = broker.tls.caFile;
  options.certFile = broker.tls.certFile;
  options.keyFile = broker.tls.keyFile;
  options.user = broker.username;
  options.password = broker.password;
  options.keepAliveSeconds = broker.keepAliveSeconds;
  return options;
}

int RunBridge(Host& host, BridgeOptions& options) {
  bridge::BridgeFileReading read = bridge::ReadBridgeFile(options.file);
  if (!read.settings) {
    ReportProblems(read.problems);
    return kExitUsage;
  }
  BridgeSettings& settings = *read.settings;
  if (!options.broker.empty()) {
    if (std::optional<std::string> wrong =
            bridge::ApplyBrokerOverride(options.broker, settings.broker)) {
      ReportProblems(read.problems);
      ReportError("bridge", "--broker " + options.broker + ": " + *wrong);
      return kExitUsage;
    }
  }
  // Where the file parsed, its problems and its addresses' are reported together: the addresses
  // need the stations, so the driver is started when the file says clearly where it runs.
  if (!read.transportUsable) {
    ReportProblems(read.problems);
    return kExitUsage;
  }
  ApplyTransport(settings.transport, options, host);
  int exitCode = kExitDone;
  if (!InitialiseQuietly(host, options.stations, "bridge", exitCode)) {
    ReportProblems(read.problems);
    return read.problems.empty() ? exitCode : kExitUsage;
  }
  bridge::ApplyDriverNumber(settings, host.driverNumber());
  if (const bridge::BridgeFileProblems problems =
          bridge::AllProblems(read, StationsOf(host.instance()));
      !problems.empty()) {
    ReportProblems(problems);
    host.driver().Run(&host.instance(), tav::CommandCode::kCloseH1, nullptr);
    return kExitUsage;
  }

  bridge::Bridge running(host, PlanOf(settings, options.statsSeconds));
  if (!running.Prepare(exitCode)) {
    host.driver().Run(&host.instance(), tav::CommandCode::kCloseH1, nullptr);
    return exitCode;
  }
  bridge::MqttClient client(BrokerOf(settings.broker), running.Status(), running.Subscriptions(),
                            [&running](std::string topic, std::string payload, bool retained) {
                              running.Arrive(std::move(topic), std::move(payload), retained);
                            });
  running.Attach(client);
  if (const std::string problem = client.Start(); !problem.empty()) {
    ReportError("bridge", problem);
    host.driver().Run(&host.instance(), tav::CommandCode::kCloseH1, nullptr);
    return kExitUsage;
  }
  // Where the values go: PREFIX/, or Sparkplug B's GROUP/EDGE.
  const std::string where =
      settings.sparkplug ? fmt::format("Sparkplug B edge node {}/{}", settings.sparkplug->groupId,
                                       settings.sparkplug->edgeNodeId)
                         : settings.prefix + "/";
  fmt::print(stderr,
             "tavhost bridge: {} tags in {} groups ({} reads a round) to {}:{}{} as {}; "
             "SIGINT or SIGTERM ends it\n",
             running.tagCount(), settings.groups.size(), running.readsPerRound(),
             settings.broker.host, settings.broker.port,
             settings.broker.tls.enabled() ? " over TLS" : "", where);
  std::fflush(stderr);
  CatchInterrupt();
  CatchTermination();
  running.Run(client, [] { return Interrupted(); });
  ReleaseInterrupt();
  client.Stop();
  host.driver().Run(&host.instance(), tav::CommandCode::kCloseH1, nullptr);
  fmt::print(stderr, "{}\n", running.StatisticsLine(true));
  return kExitDone;
}

}  // namespace

void AddBridgeCommand(CLI::App& app, Host& host, int& exitCode) {
  auto options = std::make_shared<BridgeOptions>();
  CLI::App* command = app.add_subcommand(
      "bridge", "Publish tags to an MQTT broker and take writes back, as the bridge file says");
  command->add_option("config", options->file, "The bridge file (TOML)")->required();
  command->add_option("--broker", options->broker, "HOST:PORT of the broker, over the file's");
  command
      ->add_option("--stats-interval", options->statsSeconds,
                   "Seconds between statistics lines on standard error")
      ->capture_default_str()
      ->check(CLI::Range(int64_t{1}, int64_t{86'400}));
  AddStationOptions(*command, options->stations);
  options->stationFile = command->get_option("--station-file");
  options->timeout = command->get_option("--timeout");
  command->callback([&host, &exitCode, options] { exitCode = RunBridge(host, *options); });
}

}  // namespace tavhost
