// tavhost gateway in the namespace pair of libh1eth's tests: Snap7's client reading one word
// through the gateway (loopback TCP in the driver's namespace, H1 to the test station, which hands
// the job to Snap7's server in its namespace), the same client reading the same word from a Snap7
// server straight over the driver's loopback (one TCP round trip and the server's own time), and
// 64 clients polling 16 stations through the gateway at once (requests per second, and the
// gateway's processor time per second of wall time, gateway_cpu).
//
// The yardstick, in the same run: the driver through TavMain over libh1eth reading the same word
// from the same station straight over H1, and one loopback TCP round trip of a message of the
// request's size; the program ends with the ratio gateway / (direct + round trip). The driver
// reads before the gateway starts: the two would share the interface's Ethernet address, and each
// would answer the other's frames as strays.
//
// Namespaces need root: without it the program says why and exits with 77, which CTest reports
// as a skip.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_host.h"
#include "h1tcp/frames.h"
#include "netns.h"
#include "peer.h"
#include "plc_sessions/frames.h"
#include "repeated_reads.h"
#include "snap7_client.h"
#include "snap7_process.h"

namespace tav::gateway::bench {
namespace {

constexpr int kSkipped = 77;
constexpr int kStations = 16;
constexpr int kClients = 64;
constexpr uint16_t kFirstPort = 10200;  // station n on port kFirstPort + n
constexpr int kDataBlock = 0x84;
constexpr size_t kRoundTripBytes = 31;  // Snap7's request for one word, TPKT and COTP included

h1tcp::test::Snap7Server* loopbackServer = nullptr;
const h1eth::test::TestNetwork* network = nullptr;
std::filesystem::path folder;
pid_t gateway = -1;
std::once_flag gatewayStarted;

// The mean wall time of one call of the yardstick's cases, in microseconds, from each one's last
// run; 0 when it did not run.
double throughTheGateway = 0;
double blockingThroughTheGateway = 0;
double directOverH1 = 0;
double loopbackRoundTrip = 0;

// Times the benchmark's loop into `mean` (microseconds a call).
class MeanTime {
 public:
  MeanTime(benchmark::State& state, double& mean)
      : state_(state), mean_(mean), start_(std::chrono::steady_clock::now()) {}
  ~MeanTime() {
    if (state_.iterations() == 0 || state_.error_occurred()) return;
    const std::chrono::duration<double, std::micro> spent =
        std::chrono::steady_clock::now() - start_;
    mean_ = spent.count() / static_cast<double>(state_.iterations());
  }
  MeanTime(const MeanTime&) = delete;
  MeanTime& operator=(const MeanTime&) = delete;

 private:
  benchmark::State& state_;
  double& mean_;
  std::chrono::steady_clock::time_point start_;
};

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

std::string GatewayText();

// The gateway, started by the first case that needs it (after the driver's).
void StartGateway() {
  std::call_once(gatewayStarted, [] {
    std::ofstream(folder / "gateway.toml") << GatewayText();
    const std::string log = (folder / "gateway.log").string();
    gateway = network->Spawn(network->driver(),
                             {TAV_TAVHOST, "gateway", (folder / "gateway.toml").string()}, log);
    h1eth::test::AwaitLine(log, "tavhost gateway: listening on 127.0.0.1:" +
                                    std::to_string(kFirstPort + kStations - 1) + " (s7)");
  });
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

// The same word of the same station (station 0's data block 1) by the driver over libh1eth.
void OneWordDirectOverH1(benchmark::State& state) {
  tav::bench::BenchHost host("gateway-bench-direct", "1=7," + Address(0) + ",2\n");
  if (!host.Initialise(1)) return state.SkipWithError("the station did not come up");
  const MeanTime mean(state, directOverH1);
  tav::bench::ReadWordRepeatedly(state, host);
}
BENCHMARK(OneWordDirectOverH1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A message of the request's size to an echo on the driver's loopback and back.
void LoopbackRoundTrip(benchmark::State& state) {
  uint16_t port = 0;
  const int listener = h1tcp::test::ListenOnFreePort(port);
  const int on = 1;
  std::thread echo([listener, on] {
    const int fd = accept(listener, nullptr, nullptr);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    uint8_t message[kRoundTripBytes];
    while (recv(fd, message, sizeof message, MSG_WAITALL) == sizeof message) {
      send(fd, message, sizeof message, MSG_NOSIGNAL);
    }
    close(fd);
  });
  const int fd = h1tcp::test::ConnectToLoopback(port);
  const bool connected = fd >= 0;
  uint8_t message[kRoundTripBytes] = {};
  if (connected) {
    const MeanTime mean(state, loopbackRoundTrip);
    for (auto _ : state) {
      send(fd, message, sizeof message, MSG_NOSIGNAL);
      if (recv(fd, message, sizeof message, MSG_WAITALL) != sizeof message) {
        state.SkipWithError("the echo went");
        break;
      }
    }
  } else {
    state.SkipWithError("cannot connect to the echo");
  }
  if (connected) close(fd);
  if (!connected) shutdown(listener, SHUT_RDWR);
  echo.join();
  close(listener);
}
BENCHMARK(LoopbackRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

void OneWordThroughTheGateway(benchmark::State& state) {
  StartGateway();
  const MeanTime mean(state, throughTheGateway);
  ReadWords(state, kFirstPort);
}
BENCHMARK(OneWordThroughTheGateway)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same word through the gateway by a client that waits on its socket (the sessions' own S7
// requests over ISO on TCP): Snap7's client polls for each answer with sleeps of 1 ms, which its
// own figures hold, so the gateway's path is measured by this one.
void OneWordThroughTheGatewayBlockingClient(benchmark::State& state) {
  StartGateway();
  h1tcp::test::PeerSocket client(h1tcp::test::ConnectToLoopback(kFirstPort));
  const uint8_t local[] = {0x01, 0x00};
  const uint8_t remote[] = {0x03, 0x02};
  client.Send(h1tcp::ConnectionRequest(local, remote, 1));
  if (!client.ReadTpkt()) return state.SkipWithError("no CC");
  client.SendData(sessions::S7SetupRequest(1, 1, 480));
  if (!client.ReadData()) return state.SkipWithError("no setup");
  const sessions::Bytes read = sessions::S7ReadRequest(2, {sessions::kS7AreaDataBlock, 1, 0, 2});
  const MeanTime mean(state, blockingThroughTheGateway);
  for (auto _ : state) {
    client.SendData(read);
    if (!client.ReadData()) return state.SkipWithError("read failed");
  }
}
BENCHMARK(OneWordThroughTheGatewayBlockingClient)->Unit(benchmark::kMicrosecond)->UseRealTime();

void OneWordOverLoopback(benchmark::State& state) { ReadWords(state, loopbackServer->port()); }
BENCHMARK(OneWordOverLoopback)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Each thread one client, the threads spread over the stations.
void ManyClientsThroughTheGateway(benchmark::State& state) {
  StartGateway();
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

// The ratio the gateway is measured by, for each client: at most 1.2 is the goal.
void PrintYardstick() {
  if (directOverH1 <= 0 || loopbackRoundTrip <= 0) return;
  for (const auto& [client, time] : {std::pair{"Snap7's client", throughTheGateway},
                                     std::pair{"a blocking client", blockingThroughTheGateway}}) {
    if (time <= 0) continue;
    std::printf(
        "yardstick: %s through the gateway %.1f us / (direct over H1 %.1f us + loopback round "
        "trip %.1f us) = %.2f (goal <= 1.2)\n",
        client, time, directOverH1, loopbackRoundTrip, time / (directOverH1 + loopbackRoundTrip));
  }
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
  tav::gateway::bench::network = &network;
  folder = std::filesystem::temp_directory_path() / ("gateway-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "network.toml") << NetworkText();
  // The driver over libh1eth, and the gateway, on the driver's side of the pair with the
  // transport's defaults, whatever /etc/tavsh1 holds.
  setenv("TAV_H1_INTERFACE", test::kLinkName, 1);
  std::ofstream(folder / "defaults.conf").close();
  setenv("TAV_H1ETH_CONF", (folder / "defaults.conf").c_str(), 1);
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
  {
    test::EnteredNamespace entered(network.driver());
    benchmark::RunSpecifiedBenchmarks();
  }
  PrintYardstick();
  benchmark::Shutdown();
  if (gateway > 0) test::StopProgram(gateway);
  test::StopProgram(station);
  std::filesystem::remove_all(folder);
  return 0;
}
