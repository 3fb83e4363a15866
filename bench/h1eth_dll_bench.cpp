// libh1eth's Windows DLL under Wine, beside what the same wpcap.dll does alone, in one run from
// the driver's end of the link (bench/build_machine/h1eth_dll_bench_under_wine.cpp sets the run
// up: the echoes of frame_echo.h and the test H1 station answer from the other end):
//   floor          one minimal frame to the echo and its answer, over libh1eth's own link,
//                  read by busy-polling without waiting;
//   one word       data word 0 of data block 20 of S5 station 6, read through TavMain;
//   ten DTs        the block echo's frames of the 10,000-byte answer, an AK after the first 8;
//   10,000 bytes   data block 20 of station 6, 5,000 words, read through TavMain.
// The driver is tavsh1.dll loaded as the host loads it, its H1 imports bound to eth/H1LIB.DLL,
// which this program loaded by its full path first. Each measurement is timed `iterations` times
// after a few rounds that are not; the medians, the 10th and 90th percentiles, and the two ratios
// the driver is judged by are printed. Exit status 1 when a measurement could not be made.
//
// Usage: h1eth_dll_bench.exe --interface ADAPTER [--iterations N]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bench_host.h"
#include "echo_frames.h"
#include "frame.h"
#include "link.h"
#include "long_blocks.h"

namespace tav::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kUnmeasuredRounds = 3;
constexpr int64_t kFrameWaitMicroseconds = 500'000;
constexpr int kBlockWords = static_cast<int>(kBlockBytes / 2);
constexpr const char* kWordTag = "06DW0200000";  // S5 station 6, data block 20 of 5,000 words

struct Summary {
  double median = 0, p10 = 0, p90 = 0;  // microseconds
};

Summary Summarise(std::vector<double> samples) {
  std::ranges::sort(samples);
  const auto at = [&samples](double share) {
    return samples[static_cast<size_t>(share * static_cast<double>(samples.size() - 1))];
  };
  return {at(0.5), at(0.1), at(0.9)};
}

// `once` run `iterations` times after the unmeasured rounds; nothing when a round failed.
std::optional<Summary> Time(int iterations, const std::function<bool()>& once) {
  std::vector<double> samples;
  for (int round = 0; round < kUnmeasuredRounds + iterations; ++round) {
    const Clock::time_point start = Clock::now();
    if (!once()) return std::nullopt;
    const std::chrono::duration<double, std::micro> took = Clock::now() - start;
    if (round >= kUnmeasuredRounds) samples.push_back(took.count());
  }
  return Summarise(std::move(samples));
}

// The next frame, asked for again and again without waiting: the floor busy-polls, so that no
// sleep of its own stands between a frame's arrival and its taking. False after the frame wait.
bool PollFrame(h1eth::Link& link, h1eth::FrameBytes& frame) {
  const Clock::time_point until = Clock::now() + std::chrono::microseconds(kFrameWaitMicroseconds);
  while (!link.Receive(frame, 0)) {
    if (Clock::now() > until) return false;
  }
  return true;
}

// One ping to `echo` and its `answers` frames, an AK (another ping) after the first kCredit.
bool PingPong(h1eth::Link& link, const EthernetAddress& echo, size_t answers) {
  const h1eth::FrameBytes ping = h1eth::EncodeFrame(echo, link.Address(), kPingTpdu);
  if (!link.Send(ping)) return false;
  h1eth::FrameBytes frame;
  for (size_t got = 0; got < answers;) {
    if (!PollFrame(link, frame)) return false;
    if (!std::equal(echo.begin(), echo.end(), frame.begin() + 6)) continue;
    if (++got == kCredit && answers > kCredit && !link.Send(ping)) return false;
  }
  return true;
}

struct Measurements {
  std::optional<Summary> floor, word, dts, block;
};

void MeasureTheLink(const std::string& adapter, int iterations, Measurements& out) {
  const h1eth::LinkOpening opened = h1eth::OpenPacketLink(adapter);
  if (!opened.link) {
    std::printf("link: %s\n", h1eth::DescribeLinkFailure(opened, adapter).c_str());
    return;
  }
  h1eth::Link& link = *opened.link;
  out.floor = Time(iterations, [&] { return PingPong(link, kEcho, 1); });
  out.dts = Time(iterations, [&] { return PingPong(link, kBlockEcho, kAnswerDts); });
}

std::filesystem::path ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(std::wstring(path, length)).parent_path();
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// libh1eth's DLL, loaded by its full path before the driver, so that the driver's imports of the
// H1 library bind to it and not to the simulated network's DLL beside this program.
bool LoadTheEthernetDll() {
  const std::filesystem::path folder = ProgramFolder();
  const std::filesystem::path ethernet = (folder / ".." / "eth" / "H1LIB.DLL").lexically_normal();
  const HMODULE module = LoadLibraryW(ethernet.c_str());
  if (module == nullptr) {
    std::printf("cannot load %s: error %lu\n", ethernet.string().c_str(), GetLastError());
    return false;
  }
  return true;
}

// The same H1 library stayed the only one of its name: the simulated network's was never loaded.
bool OnlyTheEthernetDll() {
  const std::filesystem::path simulated = ProgramFolder() / "H1LIB.DLL";
  if (GetModuleHandleW(simulated.c_str()) == nullptr) return true;
  std::printf("the simulated network's %s was loaded: the driver would not reach the wire\n",
              simulated.string().c_str());
  return false;
}

void MeasureTheDriver(int iterations, Measurements& out) {
  if (!LoadTheEthernetDll()) return;
  const std::string stations =
      ReadAll(ProgramFolder() / ".." / "examples" / "tavSH101.int") + h1eth::test::kLongBlockStations;
  BenchHost host("h1eth-dll-bench", stations);
  if (!OnlyTheEthernetDll()) return;
  if (!host.Initialise(0) || !host.Up(6)) {
    std::printf("station 6 did not come up; the driver logged:\n");
    for (const e2e::HostLogLine& line : e2e::HostLog()) std::printf("  %s\n", line.text.c_str());
    return;
  }
  uint16_t word = 0;
  TransferBlock tag = host.Tag(kWordTag, 1, &word);
  out.word = Time(iterations, [&] { return host.Run(CommandCode::kReadTag, &tag) == 0; });
  std::vector<uint16_t> words(kBlockWords);
  TransferBlock block = host.Tag(kWordTag, kBlockWords, words.data());
  out.block = Time(iterations, [&] { return host.Run(CommandCode::kReadBlock, &block) == 0; });
}

void PrintRow(const char* what, const std::optional<Summary>& summary) {
  if (!summary) {
    std::printf("%-46s  not measured\n", what);
    return;
  }
  std::printf("%-46s %9.1f %9.1f %9.1f\n", what, summary->median, summary->p10, summary->p90);
}

void PrintRatio(const char* what, const std::optional<Summary>& driver,
                const std::optional<Summary>& floor, double goal) {
  if (!driver || !floor) return;
  const double ratio = driver->median / floor->median;
  std::printf("%-46s %9.2f  goal <= %.1f: %s\n", what, ratio, goal, ratio <= goal ? "met" : "missed");
}

int Report(const Measurements& m, int iterations) {
  std::printf("%s, %d rounds each, microseconds  median       p10       p90\n", kWineBenchHeading,
              iterations);
  PrintRow("floor: one minimal frame and its echo", m.floor);
  PrintRow("one word through TavMain", m.word);
  PrintRow("ten DTs back to back (the 10,000 bytes' frames)", m.dts);
  PrintRow("10,000 bytes through TavMain", m.block);
  PrintRatio("one word / floor", m.word, m.floor, 2.0);
  PrintRatio("10,000 bytes / ten DTs", m.block, m.dts, 1.5);
  // What the figures are made of: without immediate delivery, libpcap (Wine's wpcap.dll) hands
  // frames over a block at a time, when the 1 ms read time-out after the block's first ends.
  const HMODULE capture = GetModuleHandleW(L"wpcap.dll");
  if (capture != nullptr && GetProcAddress(capture, "pcap_set_immediate_mode") == nullptr) {
    std::printf("wpcap.dll has no immediate delivery: frames come a block at a time, 1 ms after "
                "the block's first\n");
  }
  return m.floor && m.word && m.dts && m.block ? 0 : 1;
}

}  // namespace
}  // namespace tav::bench

int main(int argc, char** argv) {
  std::string adapter;
  int iterations = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--interface") == 0) adapter = argv[i + 1];
    if (std::strcmp(argv[i], "--iterations") == 0) iterations = std::atoi(argv[i + 1]);
  }
  if (adapter.empty() || iterations < 1) {
    std::fprintf(stderr, "usage: %s --interface ADAPTER [--iterations N]\n", argv[0]);
    return 2;
  }
  // libh1eth reads both when its driver opens; no h1eth.conf: the transport's own settings.
  _putenv_s("TAV_H1_INTERFACE", adapter.c_str());
  _putenv_s("TAV_H1ETH_CONF", "C:\\nonexistent");
  tav::bench::Measurements measured;
  tav::bench::MeasureTheLink(adapter, iterations, measured);
  tav::bench::MeasureTheDriver(iterations, measured);
  return tav::bench::Report(measured, iterations);
}
