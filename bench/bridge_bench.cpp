// tavhost bridge under load: 10,000 double words in 100 groups of 100 (one data block each) on a
// simulated S7 station, polled every second and changing every cycle, published through a local
// mosquitto to a subscriber. Measures the bridge's CPU (the whole tavhost process, less what the
// change itself costs), publishes per second and the delay from a change in the station to its
// arrival at the subscriber: each value is the time of day of its change, in milliseconds. The
// same load runs twice, JSON on the bridge's topics and then Sparkplug B (DDATA decoded by the
// subscriber), so that the two modes' numbers stand side by side from one machine's run.
// Arguments: [SECONDS measured per mode, default 30].
#include <fmt/core.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>

#include "bridge/sparkplug.h"
#include "host/bridge/mqtt_fixtures.h"

namespace {

using namespace tav::testing;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kGroups = 100;
constexpr int kTagsPerGroup = 100;
constexpr int kPeriodMs = 1000;
constexpr int kWarmUpSeconds = 5;

std::string Files(const TempFolder& folder, int port, bool sparkplug) {
  std::string network = "[[station]]\nname = \"bench\"\naddress = \"0A0B0C010201\"\ntype = 7\n";
  for (int block = 1; block <= kGroups; ++block) {
    network += fmt::format("[[station.db]]\nnumber = {}\nsize = {}\n", block, 4 * kTagsPerGroup);
  }
  folder.Write("bench.toml", network);
  folder.Write("tavSH101.int", "1=7,0A0B0C010201,2\n");
  std::string bridge = fmt::format(
      "[broker]\nhost = \"127.0.0.1\"\nport = {}\n[bridge]\nprefix = \"bench\"\nheartbeat_s = "
      "3600\nstation_file = \"tavSH101.int\"\nnetwork = \"bench.toml\"\n",
      port);
  if (sparkplug) bridge += "[sparkplug]\ngroup_id = \"bench\"\n";
  for (int group = 1; group <= kGroups; ++group) {
    bridge += fmt::format("[[group]]\nname = \"g{}\"\nperiod_ms = {}\n", group, kPeriodMs);
    for (int tag = 0; tag < kTagsPerGroup; ++tag) {
      bridge += fmt::format("[[group.tag]]\nname = \"t{}_{}\"\naddress = \"01DD{:03}{:04}\"\n",
                            group, tag, group, 4 * tag);
    }
  }
  return folder.Write("bridge.toml", bridge);
}

// The process's user and system CPU seconds so far.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::strtod(field.c_str(), nullptr);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int64_t MillisecondOfDay() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() % 86'400'000;
}

double Percentile(std::vector<int64_t> values, double share) {
  if (values.empty()) return 0;
  const auto at = static_cast<size_t>(share * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return static_cast<double>(values[at]);
}

// The values' changes, in milliseconds of the day, that a message carries: the JSON document's
// one value, or every metric of a Sparkplug DDATA.
std::vector<int64_t> ChangeTimes(const Message& message, bool sparkplug) {
  std::vector<int64_t> times;
  if (!sparkplug) {
    const size_t at = message.payload.find("\"value\":");
    if (at != std::string::npos) {
      times.push_back(std::strtoll(message.payload.c_str() + at + 8, nullptr, 10));
    }
    return times;
  }
  if (message.topic.find("/DDATA/") == std::string::npos) return times;
  namespace sparkplug = tavhost::bridge::sparkplug;
  const auto metrics = sparkplug::DecodeMetrics(message.payload);
  for (const sparkplug::InMetric& metric : metrics.value_or(std::vector<sparkplug::InMetric>{})) {
    if (metric.value.is_number_unsigned()) times.push_back(metric.value.get<int64_t>());
  }
  return times;
}

// One mode's run; false when nothing arrived or the bridge failed.
bool Measure(int measured, bool sparkplug) {
  TempFolder folder;
  Broker broker(folder);
  const std::string file = Files(folder, broker.port(), sparkplug);

  // Every value's delay, taken as it arrives.
  struct Arrivals {
    std::mutex mutex;
    std::vector<int64_t> delays;
    int64_t count = 0;
    bool measuring = false;
  } arrivals;
  Subscriber subscriber(broker.port(), sparkplug ? "spBv1.0/bench/#" : "bench/#");
  subscriber.OnEach([&arrivals, sparkplug](const Message& message) {
    const std::vector<int64_t> changes = ChangeTimes(message, sparkplug);
    const int64_t now = MillisecondOfDay();
    const std::lock_guard<std::mutex> lock(arrivals.mutex);
    if (!arrivals.measuring) return;
    for (const int64_t change : changes) {
      ++arrivals.count;
      arrivals.delays.push_back((now - change + 86'400'000) % 86'400'000);
    }
  });

  setenv("TAV_BENCH_STATION", "0A0B0C010201", 1);
  setenv("TAV_BENCH_BLOCKS", std::to_string(kGroups).c_str(), 1);
  setenv("TAV_BENCH_DOUBLE_WORDS", std::to_string(kTagsPerGroup).c_str(), 1);
  setenv("LD_PRELOAD", TAV_BENCH_CHANGER, 1);
  Background bridge({TAVHOST_PATH, "bridge", file, "--stats-interval", "3600"},
                    folder.Path("bridge.log"));
  unsetenv("LD_PRELOAD");
  std::this_thread::sleep_for(seconds(kWarmUpSeconds));
  const double cpuBefore = CpuSeconds(bridge.pid());
  {
    const std::lock_guard<std::mutex> lock(arrivals.mutex);
    arrivals.measuring = true;
  }
  const auto begin = Clock::now();
  std::this_thread::sleep_for(seconds(measured));
  const double cpu = CpuSeconds(bridge.pid()) - cpuBefore;
  const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
  std::vector<int64_t> delays;
  int64_t count = 0;
  {
    const std::lock_guard<std::mutex> lock(arrivals.mutex);
    arrivals.measuring = false;
    delays = arrivals.delays;
    count = arrivals.count;
  }
  const int exitCode = bridge.Stop(SIGTERM);
  const std::string log = ReadText(folder.Path("bridge.log"));
  // The changer's newest line: what one change of every value cost it.
  const std::regex changerLine(R"(bench changer: \d+ changes, (\d+) us)");
  double changeMicroseconds = 0;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), changerLine);
       it != std::sregex_iterator(); ++it) {
    changeMicroseconds = std::stod((*it)[1]);
  }
  const double cycles = elapsed * 1000.0 / kPeriodMs;
  const double bridgeCpu = cpu - cycles * changeMicroseconds / 1e6;
  fmt::print("tavhost bridge{}: {} tags in {} groups, period {} ms, {:.1f} s measured\n",
             sparkplug ? " (Sparkplug B)" : " (JSON)", kGroups * kTagsPerGroup, kGroups, kPeriodMs,
             elapsed);
  fmt::print(
      "CPU: {:.1f} % of one core, {:.1f} ms per cycle (the changes themselves: {:.0f} us "
      "per cycle, taken out)\n",
      100.0 * bridgeCpu / elapsed, 1000.0 * bridgeCpu / cycles, changeMicroseconds);
  fmt::print("publishes: {:.0f}/s\n", static_cast<double>(count) / elapsed);
  fmt::print("change to subscriber: median {:.0f} ms, p99 {:.0f} ms, max {:.0f} ms ({} values)\n",
             Percentile(delays, 0.5), Percentile(delays, 0.99), Percentile(delays, 1.0),
             delays.size());
  fmt::print("bridge exit code {}\n", exitCode);
  if (count == 0) {
    const std::string brokerLog = broker.log();
    fmt::print("nothing arrived; the bridge said:\n{}\nthe broker said:\n{}\n", log.substr(0, 2000),
               brokerLog.substr(0, 3000));
  }
  return exitCode == 0 && count > 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int measured = argc > 1 ? std::atoi(argv[1]) : 30;
  const bool json = Measure(measured, false);
  const bool sparkplug = Measure(measured, true);
  return json && sparkplug ? 0 : 1;
}
