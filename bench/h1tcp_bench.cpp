// Reading an S7 station over TCP on loopback, Snap7's server at PDU 480, three ways in the same
// run: the real driver (libtavsh1.so loaded by file name, TavMain bound to libh1tcp.so), Snap7's
// own client, and a minimal blocking client of ours (one request, then wait for its answer in
// poll(); for blocks the requests of at most PDU - 18 bytes one after another, or all sent back
// to back). Each reads one word, and 10,000 bytes of a data block. Beside them: how long one
// instance takes to initialise 98 S7 stations, one server port each, when all are up.
//
// Without Snap7 (npm had no registry when the build was configured) the program says why and
// exits with 77, which CTest reports as a skip. Times are wall-clock: the readers mostly wait.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "abi/address_block.h"
#include "abi/driver_instance.h"
#include "abi/records.h"
#include "abi/transfer_block.h"
#include "frames.h"
#include "peer.h"
#include "repeated_reads.h"
#include "snap7_process.h"
#ifndef TAV_SNAP7_UNAVAILABLE
#include "snap7_client.h"  // tests/h1tcp
#endif

namespace tav::h1tcp::bench {
namespace {

using test::Snap7Server;

constexpr int kPdu = 480;
constexpr int kBlockBytes = 10'000;
constexpr int kStations = 98;
constexpr int kSkipped = 77;  // CTest's SKIP_RETURN_CODE for this program

Snap7Server* server = nullptr;

std::string At(uint16_t port) {
  return "127.0.0.1:" + std::to_string(port);
}

// The host, with the station map beside the station file.
class Host : public tav::bench::BenchHost {
 public:
  Host(const std::string& stations, const std::string& map)
      : BenchHost("h1tcp-bench", stations, {{"h1tcp.map", map}}) {
    setenv("TAV_H1TCP_MAP", (folder() / "h1tcp.map").c_str(), 1);
  }
};

// Station 1 on the benchmark's server.
std::unique_ptr<Host> OneStation() {
  auto host = std::make_unique<Host>("1=7,0A0B0C010201,2\n",
                                     "0A0B0C010201 = " + At(server->port()) + ", s7, pdu=480\n");
  if (!host->Initialise(1)) return nullptr;
  return host;
}

void TavMainReadTag(benchmark::State& state) {
  const std::unique_ptr<Host> host = OneStation();
  if (!host) return state.SkipWithError("station 1 did not come up");
  tav::bench::ReadWordRepeatedly(state, *host);
}

void TavMainReadBlock(benchmark::State& state) {
  const std::unique_ptr<Host> host = OneStation();
  if (!host) return state.SkipWithError("station 1 did not come up");
  tav::bench::ReadBlockRepeatedly(state, *host, kBlockBytes);
}

void TavMainInitialise98Stations(benchmark::State& state) {
  static Snap7Server stations(kPdu, kStations, false);
  if (!stations.unavailable().empty()) return state.SkipWithError(stations.unavailable().c_str());
  std::string file;
  std::string map;
  for (int n = 1; n <= kStations; ++n) {
    char address[13];
    std::snprintf(address, sizeof address, "0A0B0C01%04X", n);
    file += std::to_string(n) + "=7," + address + ",2\n";
    map += std::string(address) + " = " + At(stations.ports()[n - 1]) + ", s7\n";
  }
  Host host(file, map);
  for (auto _ : state) {
    if (!host.Initialise(kStations)) return state.SkipWithError("a station did not come up");
    state.PauseTiming();
    host.Close();
    state.ResumeTiming();
  }
}

// Snap7's client: it splits a block itself and waits for each answer.
void Snap7ClientRead(benchmark::State& state, int bytes) {
#ifdef TAV_SNAP7_UNAVAILABLE
  (void)bytes;
  state.SkipWithError(TAV_SNAP7_UNAVAILABLE);
#else
  tav::h1tcp::test::Snap7Client client;
  if (client.Connect("127.0.0.1", server->port(), 0, 2, kPdu) != 0) {
    return state.SkipWithError("Snap7's client did not connect");
  }
  std::vector<uint8_t> data(static_cast<size_t>(bytes));
  for (auto _ : state) {
    if (client.Read(kS7AreaDataBlock, 1, 0, bytes, data.data()) != 0) {
      return state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
#endif
}

// A minimal blocking S7 client: TCP_NODELAY, each answer awaited in poll().
class BlockingClient {
 public:
  explicit BlockingClient(uint16_t port) {
    fd_ = test::ConnectToLoopback(port);
    if (fd_ < 0) return;
    const uint8_t local[] = {0x01, 0x00};
    const uint8_t remote[] = {0x01, 0x02};
    if (!Send(ConnectionRequest(local, remote, 1), false)) return;
    const std::optional<Bytes> confirm = ReceivePacket();
    if (!confirm || !Send(S7SetupRequest(reference_++, 8, kPdu), true)) return;
    const std::optional<Bytes> setup = ReceiveMessage();
    if (!setup) return;
    const std::optional<S7Answer> answer = ParseS7Answer(*setup);
    if (answer && answer->error == 0) pdu_ = answer->pduBytes;
  }
  ~BlockingClient() { ::close(fd_); }
  BlockingClient(const BlockingClient&) = delete;
  BlockingClient& operator=(const BlockingClient&) = delete;

  bool connected() const { return pdu_ != 0; }

  // `bytes` of data block 1 from byte 0, in requests the PDU can answer: each awaited before
  // the next is sent, or all sent back to back and then collected.
  bool Read(uint8_t* data, size_t bytes, bool pipelined) {
    const size_t chunk = pdu_ - kS7ReadOverhead;
    const size_t requests = (bytes + chunk - 1) / chunk;
    const uint16_t first = reference_;
    for (size_t i = 0; i < requests; ++i) {
      const S7Item item{kS7AreaDataBlock, 1, static_cast<uint32_t>(i * chunk),
                        static_cast<uint16_t>(std::min(chunk, bytes - i * chunk))};
      if (!Send(S7ReadRequest(reference_++, item), true)) return false;
      if (!pipelined && !Collect(first, data, chunk)) return false;
    }
    for (size_t i = pipelined ? 0 : requests; i < requests; ++i) {
      if (!Collect(first, data, chunk)) return false;
    }
    return true;
  }

 private:
  bool Send(const Bytes& payload, bool data) {
    const Bytes frame = data ? DataTpdus(payload, 1024) : payload;
    return ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(frame.size());
  }
  // One read answer, its data put where its reference says.
  bool Collect(uint16_t first, uint8_t* data, size_t chunk) {
    const std::optional<Bytes> message = ReceiveMessage();
    if (!message) return false;
    const std::optional<S7Answer> answer = ParseS7Answer(*message);
    if (!answer || answer->itemCode != kS7ItemSuccess) return false;
    const size_t at = static_cast<uint16_t>(answer->reference - first) * chunk;
    std::memcpy(data + at, answer->data.data(), answer->data.size());
    return true;
  }
  std::optional<Bytes> ReceivePacket() {
    for (;;) {
      const std::optional<size_t> size = TpktPacketBytes(in_);
      if (!size) return std::nullopt;
      if (*size != 0 && *size <= in_.size()) {
        Bytes packet(in_.begin(), in_.begin() + static_cast<ptrdiff_t>(*size));
        in_.erase(in_.begin(), in_.begin() + static_cast<ptrdiff_t>(*size));
        return packet;
      }
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, 5000) <= 0) return std::nullopt;
      uint8_t chunk[16384];
      const ssize_t count = ::recv(fd_, chunk, sizeof chunk, 0);
      if (count <= 0) return std::nullopt;
      in_.insert(in_.end(), chunk, chunk + count);
    }
  }
  std::optional<Bytes> ReceiveMessage() {
    Bytes message;
    for (;;) {
      const std::optional<Bytes> packet = ReceivePacket();
      if (!packet) return std::nullopt;
      const std::optional<Tpdu> tpdu = ParseTpdu(*packet);
      if (!tpdu || tpdu->kind != TpduKind::kData) return std::nullopt;
      message.insert(message.end(), tpdu->payload.begin(), tpdu->payload.end());
      if (tpdu->endOfTsdu) return message;
    }
  }

  int fd_ = -1;
  uint16_t pdu_ = 0;
  uint16_t reference_ = 1;
  Bytes in_;
};

void BlockingRead(benchmark::State& state, int bytes, bool pipelined) {
  BlockingClient client(server->port());
  if (!client.connected()) return state.SkipWithError("the blocking client did not connect");
  std::vector<uint8_t> data(static_cast<size_t>(bytes));
  for (auto _ : state) {
    if (!client.Read(data.data(), data.size(), pipelined)) {
      return state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

BENCHMARK(TavMainReadTag)->Name("OneWord/TavMain")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Snap7ClientRead, Snap7Client, 2)
    ->Name("OneWord/Snap7Client")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BlockingRead, Blocking, 2, false)
    ->Name("OneWord/Blocking")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(TavMainReadBlock)
    ->Name("Block10000/TavMain")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Snap7ClientRead, Snap7Client, kBlockBytes)
    ->Name("Block10000/Snap7Client")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BlockingRead, Sequential, kBlockBytes, false)
    ->Name("Block10000/BlockingSequential")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BlockingRead, Pipelined, kBlockBytes, true)
    ->Name("Block10000/BlockingPipelined")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(TavMainInitialise98Stations)
    ->Name("Initialise/TavMain98Stations")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tav::h1tcp::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  tav::h1tcp::test::Snap7Server snap7(tav::h1tcp::bench::kPdu, 1, false);
  if (!snap7.unavailable().empty()) {
    std::printf("skipped: %s\n", snap7.unavailable().c_str());
    return tav::h1tcp::bench::kSkipped;
  }
  tav::h1tcp::bench::server = &snap7;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
