// The read loops of the driver benchmarks: one tag or one block through TavMain, again and again,
// on a BenchHost whose stations are up.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_host.h"

namespace tav::bench {

// Reads one word at data word 0 of data block 1 through TavMain, again and again.
inline void ReadWordRepeatedly(benchmark::State& state, BenchHost& host) {
  uint32_t cell = 0;
  TransferBlock tag = host.Tag("01DW0010000", 1, &cell);
  for (auto _ : state) {
    if (host.Run(CommandCode::kReadTag, &tag) != 0) return state.SkipWithError("read failed");
    benchmark::DoNotOptimize(cell);
  }
}

// Reads `bytes` from the start of data block 1 through TavMain, again and again.
inline void ReadBlockRepeatedly(benchmark::State& state, BenchHost& host, int bytes) {
  std::vector<uint16_t> words(static_cast<size_t>(bytes) / 2);
  TransferBlock block = host.Tag("01DW0010000", bytes / 2, words.data());
  for (auto _ : state) {
    if (host.Run(CommandCode::kReadBlock, &block) != 0) return state.SkipWithError("read failed");
    benchmark::DoNotOptimize(words.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

}  // namespace tav::bench
