// Loaded into tavhost (LD_PRELOAD) by bridge_bench: changes every double word of the simulated
// station's data blocks once a cycle, at a random moment within each second, to the time of day
// in milliseconds (UTC), so that a subscriber reads each value's age from the value itself. Says
// on standard error how long a change takes, so that the benchmark can take it out of the
// bridge's CPU time.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "sim/network.h"

namespace {

using namespace std::chrono;

int Setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atoi(value) : 0;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

uint32_t MillisecondOfDay() {
  const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(now % 86'400'000);
}

void ChangeEveryCycle(std::string station, int blocks, int doubleWords) {
  std::mt19937 random(1);
  auto second = floor<seconds>(system_clock::now()) + seconds(2);  // after tavhost has started
  double cpuSeconds = 0;
  for (int cycle = 1;; ++cycle) {
    std::this_thread::sleep_until(second + milliseconds(random() % 1000));
    second += seconds(1);
    const double begin = ThreadCpuSeconds();
    tav::sim::Station* found = tav::sim::ActiveNetwork().Find(std::string_view(station));
    if (found == nullptr) continue;
    const uint32_t value = MillisecondOfDay();
    for (int block = 1; block <= blocks; ++block) {
      for (int i = 0; i < doubleWords; ++i) {
        found->PutDWord(tav::sim::DataBlock(static_cast<uint16_t>(block)),
                        static_cast<uint32_t>(4 * i), value);
      }
    }
    cpuSeconds += ThreadCpuSeconds() - begin;
    std::fprintf(stderr, "bench changer: %d changes, %.0f us of CPU each\n", cycle,
                 1e6 * cpuSeconds / cycle);
  }
}

__attribute__((constructor)) void StartChanging() {
  const char* station = std::getenv("TAV_BENCH_STATION");
  if (station == nullptr) return;
  std::thread(ChangeEveryCycle, std::string(station), Setting("TAV_BENCH_BLOCKS"),
              Setting("TAV_BENCH_DOUBLE_WORDS"))
      .detach();
}

}  // namespace
