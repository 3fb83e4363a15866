#include "runtime/simulation_control.h"

#include <fmt/core.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "runtime/h1_operations.h"
#include "sim/network.h"
#include "sim/network_file.h"

namespace tavhost {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Followed {
  std::string path;  // empty: no file is followed
  fs::file_time_type modified{};
  std::uintmax_t size = 0;
  Clock::time_point lastLook{};
  // The change last reported as not parsing: each change is said once.
  fs::file_time_type refusedModified{};
  std::uintmax_t refusedSize = 0;
};

Followed& Follow() {
  static Followed followed;
  return followed;
}

// The file's modification time and size; false when it cannot be looked at.
bool Look(const std::string& path, fs::file_time_type& modified, std::uintmax_t& size) {
  std::error_code error;
  modified = fs::last_write_time(path, error);
  if (error) return false;
  size = fs::file_size(path, error);
  return !error;
}

// Takes each station's `reachable` from `loaded` into the active network.
void ApplyReachability(const tav::sim::Network& loaded) {
  tav::sim::Network& active = tav::sim::ActiveNetwork();
  for (const tav::sim::Station& wanted : loaded.stations()) {
    tav::sim::Station* station = active.Find(wanted.config().address);
    if (station == nullptr) continue;
    const bool reachable = wanted.behaviour().reachable;
    if (station->behaviour().reachable == reachable) continue;
    station->behaviour().reachable = reachable;
    if (!reachable) active.Drop(*station);
  }
}

}  // namespace

void FollowSimulationFile(const std::string& path) {
  Followed& followed = Follow();
  followed.path = path;
  followed.lastLook = Clock::now();
  if (!Look(path, followed.modified, followed.size)) followed.path.clear();
}

void RefreshSimulation() {
  Followed& followed = Follow();
  if (followed.path.empty()) return;
  const Clock::time_point now = Clock::now();
  if (now - followed.lastLook < kRefreshInterval) return;
  followed.lastLook = now;
  fs::file_time_type modified{};
  std::uintmax_t size = 0;
  if (!Look(followed.path, modified, size)) return;
  if (modified == followed.modified && size == followed.size) return;
  const tav::sim::LoadedNetwork loaded = tav::sim::LoadNetworkFile(followed.path);
  if (!loaded.network) {
    // Looked at again on the next refresh; said once per change.
    if (modified != followed.refusedModified || size != followed.refusedSize) {
      followed.refusedModified = modified;
      followed.refusedSize = size;
      std::fflush(stdout);
      fmt::print(stderr, "tavhost: {}; the change is ignored, the stations stay as they were\n",
                 loaded.error);
      std::fflush(stderr);
    }
    return;
  }
  followed.modified = modified;
  followed.size = size;
  ApplyReachability(*loaded.network);
}

std::optional<std::string> SimulatedStationProblem(const tav::PlcEntry& entry) {
  if (UsingRealStations() || !tav::IsConfigured(entry)) return std::nullopt;
  const std::string address(entry.ethernetAddress, strnlen(entry.ethernetAddress, 16));
  const tav::sim::Station* station = tav::sim::ActiveNetwork().Find(address);
  if (station == nullptr) return fmt::format("no simulated station has the address {}", address);
  if (station->behaviour().reachable) return std::nullopt;
  const std::string& name = station->config().name;
  return fmt::format("the simulated station{} is switched off",
                     name.empty() ? std::string() : " \"" + name + "\"");
}

}  // namespace tavhost
