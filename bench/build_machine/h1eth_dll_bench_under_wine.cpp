// The build machine's side of the benchmark of libh1eth's Windows DLL (bench/h1eth_dll_bench.cpp):
// a network of two namespaces (tests/h1eth/netns.h); in the station's, the two echoes of the
// floor (bench/frame_echo.h, waiting in poll) and the test H1 station; in the driver's, the
// Windows program under Wine, whose table this program prints. The Wine prefix is the run's
// alone: its wineserver is stopped before and after, so that the program's own starts in the
// driver's namespace, whose adapter Wine's wpcap.dll then opens.
//
// Usage: h1eth_dll_bench_under_wine --runner RUN_UNDER_WINE --prefix WINEPREFIX
//            (--probe PROBE | --win64) --program H1ETH_DLL_BENCH.EXE --h1-station PROGRAM
//            [--iterations N]
// Exit status: the Windows program's; 1 when it printed no table (run twice: a wineserver that is
// ending as the program starts can drop it); 77 (a skip) where namespaces or Wine cannot be had.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "frame_echo.h"
#include "long_blocks.h"
#include "netns.h"
#include "wine_runner.h"

namespace {

using namespace tav;  // NOLINT(google-build-using-namespace): the benchmark's own program

struct Options : wine::RunnerOptions {
  std::string program;    // h1eth_dll_bench.exe
  std::string h1Station;  // the test H1 station, a program of the build machine
  std::string iterations = "200";
};

// The Windows program under Wine in the driver's namespace, with a wineserver started there.
wine::Outcome RunInTheDriversNamespace(const Options& options,
                                       const h1eth::test::TestNetwork& network) {
  wine::StopWineserver(options.prefix);
  std::optional<h1eth::test::EnteredNamespace> entered;  // the child's, until the exec
  wine::Outcome outcome = wine::RunCapturing(
      wine::RunnerCommand(options, {options.program, "--interface", h1eth::test::kLinkName,
                                    "--iterations", options.iterations}),
      [&] {
        return chdir(std::filesystem::path(options.program).parent_path().c_str()) == 0 &&
               entered.emplace(network.driver()).entered();
      });
  wine::StopWineserver(options.prefix);
  return outcome;
}

int Run(const Options& options, const h1eth::test::TestNetwork& network,
        const std::filesystem::path& folder) {
  const bench::FrameEcho echo(network.station(), bench::kEcho, 1, bench::kMinimalTpduBytes);
  const bench::FrameEcho blockEcho(network.station(), bench::kBlockEcho, bench::kAnswerDts,
                                   bench::kTpduBytes);
  if (!echo.ok() || !blockEcho.ok()) {
    std::printf("no raw link in %s\n", network.station().c_str());
    return 1;
  }
  // The built-in network's stations, as the station file's, and the two with long blocks.
  const std::string networkFile = (folder / "network.toml").string();
  std::ifstream example(TAV_EXAMPLE_NETWORK, std::ios::binary);
  std::ofstream(networkFile, std::ios::binary)
      << example.rdbuf() << h1eth::test::kLongBlockNetwork;
  const std::string log = (folder / "station.log").string();
  const pid_t station = network.Spawn(network.station(),
                                      {options.h1Station, "--interface", h1eth::test::kLinkName,
                                       "--network", networkFile},
                                      log);
  if (station <= 0 || !h1eth::test::AwaitLine(log, "ready")) {
    std::printf("the test H1 station %s did not start\n", options.h1Station.c_str());
    h1eth::test::StopProgram(station);
    return 1;
  }
  wine::Outcome outcome = RunInTheDriversNamespace(options, network);
  if (outcome.output.find(bench::kWineBenchHeading) == std::string::npos) {
    outcome = RunInTheDriversNamespace(options, network);
  }
  h1eth::test::StopProgram(station);
  std::fputs(outcome.output.c_str(), stdout);
  if (outcome.output.find(bench::kWineBenchHeading) == std::string::npos) {
    std::printf("the Windows program printed no table (exit status %d)\n", outcome.status);
    return 1;
  }
  return outcome.status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!wine::ReadRunnerOptions(argc, argv, options,
                               {{"--program", &options.program},
                                {"--h1-station", &options.h1Station},
                                {"--iterations", &options.iterations}})) {
    std::fprintf(stderr,
                 "usage: %s --runner RUN --prefix DIR (--probe PROBE | --win64) --program EXE "
                 "--h1-station PROGRAM [--iterations N]\n",
                 argv[0]);
    return 2;
  }
  // The Windows program runs from its own folder: every path is taken from here first.
  for (std::string* path : {&options.runner, &options.prefix, &options.probe, &options.program,
                            &options.h1Station}) {
    if (!path->empty()) *path = std::filesystem::absolute(*path).string();
  }
  // The runner says whether Wine can run here, and makes the prefix.
  const int check = wine::RunToEnd(wine::RunnerCommand(options, {"--check"}));
  if (check != 0) return check == wine::kSkipped ? wine::kSkipped : 1;
  if (access(options.h1Station.c_str(), X_OK) != 0) {
    std::printf("no test H1 station at %s: build the target build_machine_h1_station\n",
                options.h1Station.c_str());
    return 1;
  }
  const h1eth::test::TestNetwork network;
  if (!network.unavailable().empty()) {
    std::printf("skipped: %s\n", network.unavailable().c_str());
    return wine::kSkipped;
  }
  std::random_device random;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("h1eth-dll-bench-" + std::to_string(random()));
  std::filesystem::create_directories(folder);
  const int status = Run(options, network, folder);
  std::filesystem::remove_all(folder);
  return status;
}
