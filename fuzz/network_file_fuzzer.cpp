// Reads arbitrary bytes as a simulation file. Whatever they hold, the reader returns: either a
// network and no error, or no network and an error that names the file and the place
// ("fuzz.toml:line:column: what", or "fuzz.toml: what" where the parser knows no place). A
// network's stations have distinct addresses and a type of 5, 6 or 7.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string_view>

#include "sim/network_file.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "network file fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const tav::sim::LoadedNetwork loaded = tav::sim::ParseNetwork(text, "fuzz.toml");
  if (!loaded.network) {
    Require(loaded.error.starts_with("fuzz.toml:") && loaded.error.size() > 12,
            "no network, and no error naming the file");
    return 0;
  }
  Require(loaded.error.empty(), "a network and an error");
  std::set<tav::EthernetAddress> addresses;
  for (const tav::sim::Station& station : loaded.network->stations()) {
    const auto type = static_cast<int>(station.type());
    Require(type >= 5 && type <= 7, "station type outside 5 to 7");
    Require(addresses.insert(station.config().address).second, "two stations share an address");
  }
  return 0;
}
