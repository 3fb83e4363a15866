// libh1eth in the namespace pair of its tests, medians in one run: the floor (a minimal frame
// sent over AF_PACKET from the driver's namespace and echoed back from the station's), one word
// read through TavMain, 10,000 bytes read through TavMain against the same DT frames sent back to
// back under the credit (the S5 answer of 10,016 bytes in ten DTs of 1,024-byte TPDUs, an AK
// after the first eight), and how long one instance takes to connect 98 S7 stations.
//
// The driver runs in this process, moved into the driver's namespace; the test H1 station
// (h1_station) answers in the station's namespace. Namespaces need root: without it the program
// says why and exits with 77, which CTest reports as a skip. Times are wall-clock.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "abi/address_block.h"
#include "abi/driver_instance.h"
#include "abi/records.h"
#include "abi/transfer_block.h"
#include "frame_echo.h"
#include "netns.h"
#include "raw_link.h"
#include "repeated_reads.h"

namespace tav::h1eth::bench {
namespace {

using test::Frame;
using test::RawLink;

using tav::bench::FrameEcho;
using tav::bench::kAnswerDts;
using tav::bench::kCredit;
using tav::bench::kEcho;
using tav::bench::kMinimalTpduBytes;
using tav::bench::kPingTpdu;
using tav::bench::kTpduBytes;

constexpr int kSkipped = 77;  // CTest's SKIP_RETURN_CODE for this program
constexpr int kBlockBytes = tav::bench::kBlockBytes;
constexpr int kStations = 98;
constexpr const char* kS5Station = "0A0B0C01FF05";  // data block 1 of 5,000 words
constexpr tav::bench::EchoAddress kPinger{0x02, 0x00, 0x00, 0x00, 0xEC, 0x41};

const test::TestNetwork* network = nullptr;

std::string Address(int n) {
  char address[13];
  std::snprintf(address, sizeof address, "0A0B0C01%04X", n);
  return address;
}

// The 98 S7 stations and the S5 station with the long block.
std::string NetworkText() {
  std::string text = "[[station]]\naddress = \"" + std::string(kS5Station) +
                     "\"\ntype = 5\n[[station.db]]\nnumber = 1\nsize = 5000\n";
  for (int n = 1; n <= kStations; ++n) {
    text += "[[station]]\naddress = \"" + Address(n) + "\"\ntype = 7\nslot = 2\n";
  }
  return text;
}

using Host = tav::bench::BenchHost;

std::unique_ptr<Host> S5Station() {
  auto host = std::make_unique<Host>("h1eth-bench", "1=5," + std::string(kS5Station) + "\n");
  if (!host->Initialise(1)) return nullptr;
  return host;
}

void TavMainReadWord(benchmark::State& state) {
  const std::unique_ptr<Host> host = S5Station();
  if (!host) return state.SkipWithError("the S5 station did not come up");
  tav::bench::ReadWordRepeatedly(state, *host);
}

void TavMainReadBlock(benchmark::State& state) {
  const std::unique_ptr<Host> host = S5Station();
  if (!host) return state.SkipWithError("the S5 station did not come up");
  tav::bench::ReadBlockRepeatedly(state, *host, kBlockBytes);
}

void TavMainInitialise98Stations(benchmark::State& state) {
  std::string file;
  for (int n = 1; n <= kStations; ++n) file += std::to_string(n) + "=7," + Address(n) + ",2\n";
  Host host("h1eth-bench", file);
  for (auto _ : state) {
    if (!host.Initialise(kStations)) return state.SkipWithError("a station did not come up");
    state.PauseTiming();
    host.Close();
    state.ResumeTiming();
  }
}

// One request frame out, `answers` frames back (an AK after the first kCredit).
void PingPong(benchmark::State& state, size_t answers, size_t answerBytes) {
  const FrameEcho echo(network->station(), kEcho, answers, answerBytes);
  const RawLink link(test::kLinkName);
  if (!echo.ok() || !link.ok()) return state.SkipWithError("no raw link");
  const Frame ping = test::H1Frame(kEcho, kPinger, kPingTpdu);
  for (auto _ : state) {
    link.Send(ping);
    for (size_t got = 0; got < answers;) {
      std::optional<Frame> frame = link.Receive(std::chrono::milliseconds(500));
      if (!frame) return state.SkipWithError("a frame was lost");
      if (!std::equal(kPinger.begin(), kPinger.end(), frame->begin())) continue;
      if (++got == kCredit && answers > kCredit) link.Send(ping);
    }
  }
}

BENCHMARK_CAPTURE(PingPong, Floor, 1, kMinimalTpduBytes)
    ->Name("Floor/FramePingPong")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(TavMainReadWord)->Name("OneWord/TavMain")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PingPong, Block, kAnswerDts, kTpduBytes)
    ->Name("Block10000/DtFramesUnderCredit")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(TavMainReadBlock)
    ->Name("Block10000/TavMain")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(TavMainInitialise98Stations)
    ->Name("Initialise/TavMain98Stations")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tav::h1eth::bench

int main(int argc, char** argv) {
  using namespace tav::h1eth;  // NOLINT(google-build-using-namespace)
  benchmark::Initialize(&argc, argv);
  test::TestNetwork network;
  if (!network.unavailable().empty()) {
    std::printf("skipped: %s\n", network.unavailable().c_str());
    return bench::kSkipped;
  }
  bench::network = &network;
  const std::string folder =
      std::filesystem::temp_directory_path() / ("h1eth-bench-station-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/network.toml") << bench::NetworkText();
  const std::string log = folder + "/station.log";
  const pid_t station = network.Spawn(network.station(),
                                      {TAV_H1_STATION, "--network", folder + "/network.toml"}, log);
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(log);
    std::string line;
    if (std::getline(in, line) && line == "ready") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  setenv("TAV_H1_INTERFACE", test::kLinkName, 1);
  setenv("TAV_H1ETH_CONF", (folder + "/none.conf").c_str(), 1);
  {
    test::EnteredNamespace entered(network.driver());
    if (!entered.entered()) {
      std::printf("skipped: cannot enter %s\n", network.driver().c_str());
      test::StopProgram(station);
      return bench::kSkipped;
    }
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  test::StopProgram(station);
  std::filesystem::remove_all(folder);
  return 0;
}
