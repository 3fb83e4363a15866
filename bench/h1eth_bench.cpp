// libh1eth in the namespace pair of its tests, medians in one run: the floor (a minimal frame
// sent over AF_PACKET from the driver's namespace and echoed back from the station's), one word
// read through TavMain, 10,000 bytes read through TavMain against the same DT frames sent back to
// back under the credit (the S5 answer of 10,016 bytes in ten DTs of 1,024-byte TPDUs, an AK
// after the first eight), and how long one instance takes to connect 98 S7 stations.
//
// The floor is the path's own: both ends ask libh1eth's packet link (its receive ring) without
// sleeping, each on its own processor (the driver's side on the first, the peer on the second),
// so what it measures is the wire and the kernel, not wake-ups. The test H1 station answers the
// same way (--busy, on the second processor), so what a TavMain exchange costs beyond the floor
// is the library's and the driver's own. The station is stopped while the floor runs, the echo is
// gone while TavMain runs. With --sleeping-peers the floor's ends and the station wait in poll
// instead, for the figures of the floor as it was measured before.
//
// The driver runs in this process, moved into the driver's namespace; the test H1 station
// (h1_station) answers in the station's namespace. Namespaces need root: without it the program
// says why and exits with 77, which CTest reports as a skip. Times are wall-clock; the counters per
// call are the driver side's processor time (cpu_us: every thread of this process, the library's
// timer thread included, the echo's excluded) and the peer's (peer_cpu_us: the echo's thread or
// the station's process).
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "abi/address_block.h"
#include "abi/driver_instance.h"
#include "abi/records.h"
#include "abi/transfer_block.h"
#include "echo_frames.h"
#include "h1eth/link.h"
#include "netns.h"
#include "raw_link.h"
#include "repeated_reads.h"

namespace tav::h1eth::bench {
namespace {

using test::Frame;

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
pid_t station = -1;
// The processors of the two ends; -1 on a machine of one processor, where nothing is pinned.
int driverCpu = -1;
int peerCpu = -1;

void PinThisThread(int cpu) {
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(0, sizeof set, &set);
}

int64_t CpuMicroseconds(clockid_t clock) {
  timespec time{};
  clock_gettime(clock, &time);
  return int64_t{time.tv_sec} * 1'000'000 + time.tv_nsec / 1'000;
}

// The processor time of this process and of the peer over the timed loop, as counters per call.
class CpuMeter {
 public:
  // `peerInProcess`: the peer's clock is a thread of this process, whose time is not the driver
  // side's.
  CpuMeter(benchmark::State& state, clockid_t peer, bool peerInProcess)
      : state_(state),
        peer_(peer),
        peerInProcess_(peerInProcess),
        process_(CpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID)),
        peerStart_(CpuMicroseconds(peer)) {}
  ~CpuMeter() {
    const int64_t peer = CpuMicroseconds(peer_) - peerStart_;
    const int64_t process = CpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID) - process_;
    const auto perCall = [](int64_t microseconds) {
      return benchmark::Counter(static_cast<double>(microseconds),
                                benchmark::Counter::kAvgIterations);
    };
    state_.counters["cpu_us"] = perCall(peerInProcess_ ? process - peer : process);
    state_.counters["peer_cpu_us"] = perCall(peer);
  }
  CpuMeter(const CpuMeter&) = delete;
  CpuMeter& operator=(const CpuMeter&) = delete;

 private:
  benchmark::State& state_;
  clockid_t peer_;
  bool peerInProcess_;
  int64_t process_;
  int64_t peerStart_;
};

// The station's processor time, for the TavMain cases.
clockid_t StationClock() {
  clockid_t clock = CLOCK_PROCESS_CPUTIME_ID;
  if (clock_getcpuclockid(station, &clock) != 0) return CLOCK_PROCESS_CPUTIME_ID;
  return clock;
}

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
  const CpuMeter meter(state, StationClock(), false);
  tav::bench::ReadWordRepeatedly(state, *host);
}

void TavMainReadBlock(benchmark::State& state) {
  const std::unique_ptr<Host> host = S5Station();
  if (!host) return state.SkipWithError("the S5 station did not come up");
  const CpuMeter meter(state, StationClock(), false);
  tav::bench::ReadBlockRepeatedly(state, *host, kBlockBytes);
}

void TavMainInitialise98Stations(benchmark::State& state) {
  std::string file;
  for (int n = 1; n <= kStations; ++n) file += std::to_string(n) + "=7," + Address(n) + ",2\n";
  Host host("h1eth-bench", file);
  const CpuMeter meter(state, StationClock(), false);
  for (auto _ : state) {
    if (!host.Initialise(kStations)) return state.SkipWithError("a station did not come up");
    state.PauseTiming();
    host.Close();
    state.ResumeTiming();
  }
}

// With --sleeping-peers, the floor's two ends and the station wait in poll for each frame, as
// they did before the floor was busy-polled: figures beside the others, for comparison.
bool sleepingPeers = false;
constexpr int64_t kSleepingWaitMicroseconds = 1'000;

// The next H1 frame to `to` from the link, asked again and again without sleeping until one
// comes or `wait` is over (sleeping in the link's wait with --sleeping-peers).
bool SpinForFrame(Link& link, const std::array<uint8_t, 6>& to, FrameBytes& frame,
                  std::chrono::microseconds wait, const std::atomic<bool>& stop) {
  const auto until = std::chrono::steady_clock::now() + wait;
  const int64_t eachWait = sleepingPeers ? kSleepingWaitMicroseconds : 0;
  while (!stop.load(std::memory_order_relaxed)) {
    if (link.Receive(frame, eachWait)) {
      if (std::equal(to.begin(), to.end(), frame.begin())) return true;
    } else if (std::chrono::steady_clock::now() >= until) {
      return false;
    }
  }
  return false;
}

// A link of the floor: libh1eth's own packet link (the kernel's filter, the receive ring),
// promiscuous, since the echo's and the pinger's addresses are not the interface's.
std::unique_ptr<Link> FloorLink() {
  return OpenPacketLink(test::kLinkName, {.promiscuous = true}).link;
}

// The station stopped while the floor runs, so that it takes no processor from the echo.
class StationPaused {
 public:
  StationPaused() { kill(station, SIGSTOP); }
  ~StationPaused() { kill(station, SIGCONT); }
  StationPaused(const StationPaused&) = delete;
  StationPaused& operator=(const StationPaused&) = delete;
};

// The echo in the station's namespace, on the peer's processor: a frame of `requestBytes` is
// answered by `answers` frames of `answerBytes`, the first kCredit back to back, the rest once
// the pinger's AK came.
class Echo {
 public:
  Echo(size_t answers, size_t answerBytes) {
    test::InNamespace(network->station(), [&] { link_ = FloorLink(); });
    const std::vector<uint8_t> tpdu(answerBytes, 0x5A);
    answer_ = test::H1Frame(kPinger, kEcho, tpdu);
    thread_ = std::thread([this, answers] { Serve(answers); });
    while (!started_) std::this_thread::yield();
  }
  ~Echo() {
    stop_ = true;
    thread_.join();
  }
  bool ok() const { return link_ != nullptr; }
  clockid_t clock() const { return clock_; }

 private:
  void Serve(size_t answers) {
    PinThisThread(peerCpu);
    pthread_getcpuclockid(pthread_self(), &clock_);
    started_ = true;
    FrameBytes request;
    while (!stop_) {
      if (!SpinForFrame(*link_, kEcho, request, std::chrono::milliseconds(20), stop_)) continue;
      for (size_t sent = 0; sent < answers; ++sent) {
        if (sent == kCredit && !SpinForFrame(*link_, kEcho, request, kPatience, stop_)) break;
        link_->Send(answer_);
      }
    }
  }

  static constexpr std::chrono::milliseconds kPatience{500};
  std::unique_ptr<Link> link_;
  Frame answer_;
  clockid_t clock_ = CLOCK_THREAD_CPUTIME_ID;
  std::atomic<bool> started_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// One request frame out, `answers` frames back (an AK after the first kCredit).
void PingPong(benchmark::State& state, size_t answers, size_t answerBytes) {
  const StationPaused paused;
  Echo echo(answers, answerBytes);
  const std::unique_ptr<Link> link = FloorLink();
  if (!echo.ok() || !link) return state.SkipWithError("no packet link");
  const Frame ping = test::H1Frame(kEcho, kPinger, kPingTpdu);
  const Frame acknowledge = test::H1Frame(kEcho, kPinger, kPingTpdu);
  const std::atomic<bool> never{false};
  FrameBytes frame;
  const CpuMeter meter(state, echo.clock(), true);
  for (auto _ : state) {
    link->Send(ping);
    for (size_t got = 0; got < answers;) {
      if (!SpinForFrame(*link, kPinger, frame, std::chrono::milliseconds(500), never)) {
        return state.SkipWithError("a frame was lost");
      }
      if (++got == kCredit && answers > kCredit) link->Send(acknowledge);
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
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--sleeping-peers") bench::sleepingPeers = true;
  }
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
  if (std::thread::hardware_concurrency() >= 2) {
    bench::driverCpu = 0;
    bench::peerCpu = 1;
  }
  std::vector<std::string> command = {TAV_H1_STATION, "--network", folder + "/network.toml"};
  if (!bench::sleepingPeers) command.push_back("--busy");
  if (bench::peerCpu >= 0) {
    command.insert(command.end(), {"--cpu", std::to_string(bench::peerCpu)});
  }
  const pid_t station = network.Spawn(network.station(), command, log);
  bench::station = station;
  // The driver, and with it the library's timer thread, on the driver's processor.
  bench::PinThisThread(bench::driverCpu);
  test::AwaitLine(log, "ready");
  setenv("TAV_H1_INTERFACE", test::kLinkName, 1);
  // An empty h1eth.conf: the transport's defaults, whatever /etc/tavsh1 holds.
  const std::string settings = folder + "/defaults.conf";
  std::fclose(std::fopen(settings.c_str(), "w"));
  setenv("TAV_H1ETH_CONF", settings.c_str(), 1);
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
