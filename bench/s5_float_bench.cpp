// S5 float conversion: values per second over a spread of magnitudes and both signs. One value at
// a time through each function, and runs of 4,096 values through the loops that block reads and
// writes use (the AVX2 loop where the processor has AVX2, and the loop for any x86 processor).
#include <benchmark/benchmark.h>

#include <array>
#include <bit>
#include <cstdint>

#include "transfer/conversion_loops.h"
#include "vocabulary/s5_float.h"

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

std::array<uint32_t, kValues> S5Floats() {
  const auto values = Singles();
  std::array<uint32_t, kValues> patterns{};
  for (size_t i = 0; i < kValues; ++i) patterns[i] = tav::EncodeS5Float(values[i]);
  return patterns;
}

void BM_EncodeS5Float(benchmark::State& state) {
  const auto values = Singles();
  for (auto _ : state) {
    for (float value : values) benchmark::DoNotOptimize(tav::EncodeS5Float(value));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_EncodeS5Float);

void BM_EncodeSingleToS5Float(benchmark::State& state) {
  const auto values = Singles();
  for (auto _ : state) {
    for (float value : values) benchmark::DoNotOptimize(tav::EncodeSingleToS5Float(value));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_EncodeSingleToS5Float);

void BM_DecodeS5Float(benchmark::State& state) {
  const auto patterns = S5Floats();
  for (auto _ : state) {
    for (uint32_t s5 : patterns) benchmark::DoNotOptimize(tav::DecodeS5Float(s5));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_DecodeS5Float);

void BM_DecodeS5FloatToSingle(benchmark::State& state) {
  const auto patterns = S5Floats();
  for (auto _ : state) {
    for (uint32_t s5 : patterns) benchmark::DoNotOptimize(tav::DecodeS5FloatToSingle(s5));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_DecodeS5FloatToSingle);

// A run of values in the TransferBuffer's and the host's layout, converted by `loop`.
void BM_Run(benchmark::State& state, tav::ConversionLoop loop, bool decode) {
  const auto values = Singles();
  const auto patterns = S5Floats();
  std::array<uint8_t, 4 * kValues> from{};
  std::array<uint8_t, 4 * kValues> to{};
  for (size_t i = 0; i < kValues; ++i) {
    if (decode) {
      tav::StoreS5Pair(&from[4 * i], patterns[i]);
    } else {
      tav::StoreLe32(&from[4 * i], std::bit_cast<uint32_t>(values[i]));
    }
  }
  for (auto _ : state) {
    loop(from.data(), to.data(), kValues);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}

const bool kRegistered = [] {
  using tav::DecodeS5FloatWords;
  using tav::EncodeS5FloatWords;
  if (tav::ProcessorHasAvx2()) {
    benchmark::RegisterBenchmark("BM_DecodeS5FloatRun/Avx2", BM_Run,
                                 tav::ConvertRunAvx2<DecodeS5FloatWords>, true);
    benchmark::RegisterBenchmark("BM_EncodeS5FloatRun/Avx2", BM_Run,
                                 tav::ConvertRunAvx2<EncodeS5FloatWords>, false);
  }
  benchmark::RegisterBenchmark("BM_DecodeS5FloatRun/Baseline", BM_Run,
                               tav::ConvertRunBaseline<DecodeS5FloatWords>, true);
  benchmark::RegisterBenchmark("BM_EncodeS5FloatRun/Baseline", BM_Run,
                               tav::ConvertRunBaseline<EncodeS5FloatWords>, false);
  return true;
}();

}  // namespace
