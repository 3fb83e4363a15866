// Command 3 through TavMain on a mix of valid and invalid addresses, as a host parses its tags at
// start-up.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <memory>

#include "abi/address_block.h"
#include "abi/driver_instance.h"
#include "driver/tav_main.h"

namespace {

struct Tag {
  const char* text;
  int32_t hostDataType;
};

// Station 01 is an S7 station, 02 an S5 station; 05 is not configured.
constexpr std::array<Tag, 16> kTags = {{
    {"01DW0010004", 1},    // valid
    {"01DF0200010", 3},    // valid
    {"02DD0200009", 4},    // valid
    {"01DW001000407", 6},  // valid bit
    {"01MB001015", 6},     // valid bit
    {"02IW0004", 1},       // valid
    {"01SB010002010", 7},  // valid string
    {"02XW0010000", 1},    // valid
    {"01db0100012", 1},    // valid, lower case
    {"01QB0005", 1},       // valid
    {"02DB0100012", 1},    // S5 data-block byte
    {"01DF0200009", 3},    // odd S7 float offset
    {"05DW0010000", 1},    // station not configured
    {"01DW001000", 1},     // too short
    {"01DW001000416", 6},  // bit above 15
    {"hello world", 1},    // no address at all
}};

void BM_ParseAddress(benchmark::State& state) {
  auto instance = std::make_unique<tav::DriverInstance>();
  std::memset(instance.get(), 0, sizeof(tav::DriverInstance));
  instance->plcTable[1].plcType = tav::kPlcTypeS7;
  std::strcpy(instance->plcTable[1].ethernetAddress, "080006010001");
  instance->plcTable[2].plcType = tav::kPlcTypeS5;
  std::strcpy(instance->plcTable[2].ethernetAddress, "080006010002");

  tav::AddressBlock block{};
  tav::Request request = tav::MakeRequest(instance.get(), tav::CommandCode::kParseAddress, &block);
  size_t next = 0;
  for (auto _ : state) {
    block.addressText = kTags[next].text;
    block.hostDataType = kTags[next].hostDataType;
    next = (next + 1) % kTags.size();
    benchmark::DoNotOptimize(TavMain(&request));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseAddress);

}  // namespace
