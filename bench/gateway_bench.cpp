// tavhost gateway in the namespace pair of libh1eth's tests: Snap7's client reading one word
// through the gateway (loopback TCP in the driver's namespace, H1 to the test station, which hands
// the job to Snap7's server in its namespace), the same client reading the same word from a Snap7
// server straight over the driver's loopback (one TCP round trip and the server's own time), and
// 64 clients polling 16 stations through the gateway at once (requests per second, and the
// gateway's processor time per second of wall time, gateway_cpu).
//
// Namespaces need root: without it the program says why and exits with 77, which CTest reports
// as a skip.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "netns.h"
#include "snap7_client.h"
#include "snap7_process.h"

namespace tav::gateway::bench {
namespace {

constexpr int kSkipped = 77;
constexpr int kStations = 16;
constexpr int kClients = 64;
constexpr uint16_t kFirstPort = 10200;  // station n on port kFirstPort + n
constexpr int kDataBlock = 0x84;

h1tcp::test::Snap7Server* loopbackServer = nullptr;
pid_t gateway = -1;

std::string Address(int n) {
  char text[13];
  std::snprintf(text, sizeof text, "0A0B0C0103%02X", n);
  return text;
}

// The gateway's processor time so far, in seconds.
double GatewayCpuSeconds() {
  std::ifstream stat("/proc/" + std::to_string(gateway) + "/stat");
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void ReadWords(benchmark::State& state, uint16_t port) {
  h1tcp::test::Snap7Client client;
  if (client.Connect("127.0.0.1", port, 0, 2) != 0) {
    return state.SkipWithError("Snap7's client did not connect");
  }
  uint8_t word[2];
  for (auto _ : state) {
    if (client.Read(kDataBlock, 1, 0, 2, word) != 0) return state.SkipWithError("read failed");
  }
  state.SetItemsProcessed(state.iterations());
}

void OneWordThroughTheGateway(benchmark::State& state) { ReadWords(state, kFirstPort); }
BENCHMARK(OneWordThroughTheGateway)->Unit(benchmark::kMicrosecond)->UseRealTime();

void OneWordOverLoopback(benchmark::State& state) { ReadWords(state, loopbackServer->port()); }
BENCHMARK(OneWordOverLoopback)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Each thread one client, the threads spread over the stations.
void ManyClientsThroughTheGateway(benchmark::State& state) {
  const double cpu = state.thread_index() == 0 ? GatewayCpuSeconds() : 0;
  ReadWords(state, static_cast<uint16_t>(kFirstPort + state.thread_index() % kStations));
  if (state.thread_index() == 0) {
    state.counters["gateway_cpu"] = benchmark::Counter(
        GatewayCpuSeconds() - cpu, benchmark::Counter::kIsRate);
  }
}
BENCHMARK(ManyClientsThroughTheGateway)->Threads(kClients)->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

std::string NetworkText() {
  std::string text;
  for (int n = 0; n < kStations; ++n) {
    text += "[[station]]\naddress = \"" + Address(n) + "\"\ntype = 7\nslot = 2\n";
  }
  return text;
}

std::string GatewayText() {
  std::string text = "[gateway]\nh1_interface = \"h1\"\nmost_clients = 256\n";
  for (int n = 0; n < kStations; ++n) {
    text += "[[route]]\nprotocol = \"s7\"\nport = " + std::to_string(kFirstPort + n) +
            "\nstation = \"" + Address(n) + "\"\nmost_clients = 64\n";
  }
  return text;
}

}  // namespace
}  // namespace tav::gateway::bench

int main(int argc, char** argv) {
  using namespace tav::gateway::bench;  // NOLINT(google-build-using-namespace)
  namespace test = tav::h1eth::test;
  benchmark::Initialize(&argc, argv);
  test::TestNetwork network;
  if (!network.unavailable().empty()) {
    std::printf("skipped: %s\n", network.unavailable().c_str());
    return kSkipped;
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("gateway-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "network.toml") << NetworkText();
  std::ofstream(folder / "gateway.toml") << GatewayText();
  std::unique_ptr<tav::h1tcp::test::Snap7Server> server;
  test::InNamespace(network.station(), [&] {
    server = std::make_unique<tav::h1tcp::test::Snap7Server>(480, 1, false);
  });
  std::unique_ptr<tav::h1tcp::test::Snap7Server> loopback;
  test::InNamespace(network.driver(), [&] {
    loopback = std::make_unique<tav::h1tcp::test::Snap7Server>(480, 1, false);
  });
  if (!server->unavailable().empty()) {
    std::printf("skipped: %s\n", server->unavailable().c_str());
    return kSkipped;
  }
  loopbackServer = loopback.get();
  const std::string stationLog = (folder / "station.log").string();
  const pid_t station = network.Spawn(
      network.station(),
      {TAV_H1_STATION, "--network", (folder / "network.toml").string(), "--snap7-port",
       std::to_string(server->port())},
      stationLog);
  test::AwaitLine(stationLog, "ready");
  const std::string gatewayLog = (folder / "gateway.log").string();
  gateway = network.Spawn(network.driver(),
                          {TAV_TAVHOST, "gateway", (folder / "gateway.toml").string()},
                          gatewayLog);
  test::AwaitLine(gatewayLog, "tavhost gateway: listening on 127.0.0.1:" +
                                  std::to_string(kFirstPort + kStations - 1) + " (s7)");
  {
    test::EnteredNamespace entered(network.driver());
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  test::StopProgram(gateway);
  test::StopProgram(station);
  std::filesystem::remove_all(folder);
  return 0;
}
