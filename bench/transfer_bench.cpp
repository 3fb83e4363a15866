// Transfers through TavMain with an H1 library that answers at once: what the driver itself costs
// for a block read of 5,000 S7 words (10,000 bytes, the whole TransferBuffer) against a plain copy
// of the same bytes, and for one tag read.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "abi/transfer_block.h"
#include "driver/tav_main.h"
#include "support/instant_h1_library.h"

namespace {

constexpr int kStation = 1;
constexpr int32_t kWords = 5000;
constexpr int64_t kBytes = kWords * 2;

struct Driver {
  Driver() {
    tav::instant::Reset();
    instance->retryBudget = 1000;
    tav::PlcEntry& entry = instance->plcTable[kStation];
    entry.plcType = tav::kPlcTypeS7;
    std::strcpy(entry.ethernetAddress, "0A0B0C010203");
    entry.readConnection = 1;
    for (size_t i = 0; i < tav::kTransferBufferSize; ++i) {
      instance->transferBuffer[i] = static_cast<uint8_t>(i * 7);
    }
  }

  int32_t Run(tav::CommandCode command, tav::TransferBlock& block) {
    tav::Request request = tav::MakeRequest(instance.get(), command, &block);
    return TavMain(&request);
  }

  std::unique_ptr<tav::DriverInstance> instance = std::make_unique<tav::DriverInstance>();
};

tav::TransferBlock Block(uint32_t code, int32_t count, void* data) {
  tav::TransferBlock block{};
  block.tagName = "DB10.W0";
  block.plcNumber = kStation;
  block.areaTypeCode = code;
  block.packedAddress = 10u << 16;
  block.bitNumber = tav::kNoBitNumber;
  block.count = count;
  block.data = data;
  return block;
}

void BM_ReadBlockS7Words(benchmark::State& state) {
  Driver driver;
  std::vector<uint16_t> words(kWords);
  tav::TransferBlock block = Block(tav::kAreaDataWord, kWords, words.data());
  for (auto _ : state) {
    if (driver.Run(tav::CommandCode::kReadBlock, block) != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(words.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_ReadBlockS7Words);

// The yardstick: copying the same 10,000 bytes from the TransferBuffer into the host's array.
void BM_MemcpyTransferBuffer(benchmark::State& state) {
  Driver driver;
  std::vector<uint16_t> words(kWords);
  for (auto _ : state) {
    std::memcpy(words.data(), driver.instance->transferBuffer, kBytes);
    benchmark::DoNotOptimize(words.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_MemcpyTransferBuffer);

void BM_WriteBlockS7Words(benchmark::State& state) {
  Driver driver;
  std::vector<uint16_t> words(kWords, 0x1234);
  tav::TransferBlock block = Block(tav::kAreaDataWord, kWords, words.data());
  for (auto _ : state) {
    if (driver.Run(tav::CommandCode::kWriteBlock, block) != 0) state.SkipWithError("write failed");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_WriteBlockS7Words);

void BM_ReadTagS7Word(benchmark::State& state) {
  Driver driver;
  uint32_t cell = 0;
  tav::TransferBlock block = Block(tav::kAreaDataWord, 1, &cell);
  for (auto _ : state) {
    if (driver.Run(tav::CommandCode::kReadTag, block) != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(cell);
  }
}
BENCHMARK(BM_ReadTagS7Word);

void BM_ReadTagS7Bit(benchmark::State& state) {
  Driver driver;
  uint32_t cell = 0;
  tav::TransferBlock block = Block(tav::kAreaDataWord, 1, &cell);
  block.bitNumber = 4;
  for (auto _ : state) {
    if (driver.Run(tav::CommandCode::kReadTag, block) != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(cell);
  }
}
BENCHMARK(BM_ReadTagS7Bit);

}  // namespace
