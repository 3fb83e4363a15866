// S5 float conversion: values per second, over a spread of magnitudes and both signs.
#include <benchmark/benchmark.h>

#include <array>
#include <bit>
#include <cstdint>

#include "transfer/s5_float.h"

namespace {

constexpr size_t kValues = 4096;

std::array<float, kValues> Singles() {
  std::array<float, kValues> values{};
  uint32_t bits = 0x1234'5678;
  for (float& value : values) {
    bits = bits * 1'664'525 + 1'013'904'223;  // spread over every exponent and sign
    value = std::bit_cast<float>((bits & 0x8000'0000) | (bits % 0x7F00'0000));
  }
  return values;
}

void BM_EncodeS5Float(benchmark::State& state) {
  const auto values = Singles();
  for (auto _ : state) {
    for (float value : values) benchmark::DoNotOptimize(tav::EncodeS5Float(value));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_EncodeS5Float);

void BM_DecodeS5Float(benchmark::State& state) {
  std::array<uint32_t, kValues> patterns{};
  const auto values = Singles();
  for (size_t i = 0; i < kValues; ++i) patterns[i] = tav::EncodeS5Float(values[i]);
  for (auto _ : state) {
    for (uint32_t s5 : patterns) benchmark::DoNotOptimize(tav::DecodeS5Float(s5));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_DecodeS5Float);

}  // namespace
