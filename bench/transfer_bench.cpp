// Transfers through TavMain with an H1 library that answers at once: what the driver itself costs.
//
// Block reads and writes (commands 6 and 10) of every kind on S7, S5 and type-6 stations, each as
// many elements as the TransferBuffer holds (a string its longest, 80 characters). Each reports
// `vs_memcpy`, the transfer's speed as a fraction of memcpy's for as many bytes as the host's
// array holds, copied between the TransferBuffer and that array in the same direction, timed
// right after the transfers in the same run. Then
// single tags (command 5), and a host's poll cycle: 500 tags of mixed kinds and stations, read one
// by one.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "abi/transfer_block.h"
#include "driver/tav_main.h"
#include "support/instant_h1_library.h"

namespace {

constexpr tav::CommandCode kReadBlock = tav::CommandCode::kReadBlock;
constexpr tav::CommandCode kWriteBlock = tav::CommandCode::kWriteBlock;
constexpr tav::CommandCode kReadTag = tav::CommandCode::kReadTag;

// One station of each type.
constexpr int kS7 = 1;
constexpr int kS5 = 2;
constexpr int kType6 = 3;

struct Driver {
  Driver() {
    tav::instant::Reset();
    instance->retryBudget = 1000;
    const uint8_t types[] = {tav::kPlcTypeS7, tav::kPlcTypeS5, 6};
    for (int station = kS7; station <= kType6; ++station) {
      tav::PlcEntry& entry = instance->plcTable[station];
      entry.plcType = types[station - 1];
      std::strcpy(entry.ethernetAddress, "0A0B0C010203");
      entry.readConnection = 1;
      entry.writeConnection = entry.plcType == tav::kPlcTypeS5 ? 2 : 0;
    }
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

constexpr uint32_t DataBlock(uint32_t block, uint32_t offset) {
  return block << 16 | offset;
}
constexpr uint32_t String(uint32_t block, uint32_t offset, uint32_t length) {
  return length << 24 | block << 16 | offset;
}

tav::TransferBlock Block(int station, uint32_t code, uint32_t packedAddress, int32_t count,
                         void* data) {
  tav::TransferBlock block{};
  block.tagName = "TAG";
  block.plcNumber = station;
  block.areaTypeCode = code;
  block.packedAddress = packedAddress;
  block.bitNumber = tav::kNoBitNumber;
  block.count = count;
  block.data = data;
  return block;
}

// One block transfer: its station and kind, and the elements and bytes of the host's array.
struct BlockCase {
  const char* name;
  int station;
  uint32_t code;
  uint32_t packedAddress;
  int32_t count;     // elements; characters for a string
  size_t hostBytes;  // the host's array
};

constexpr uint32_t kBlock = DataBlock(10, 0);
constexpr BlockCase kBlockCases[] = {
    {"S7/Bytes", kS7, tav::kAreaDataByte, kBlock, 5000, 10000},
    {"S7/Words", kS7, tav::kAreaDataWord, kBlock, 5000, 10000},
    {"S7/DoubleWords", kS7, tav::kAreaDataDouble, kBlock, 2500, 10000},
    {"S7/Floats", kS7, tav::kAreaDataFloat, kBlock, 2500, 10000},
    {"S7/FlagWords", kS7, tav::kAreaFlagWords, 0, 5000, 10000},
    {"S7/String80", kS7, tav::kAreaString, String(10, 0, 80), 80, 80},
    {"S5/Words", kS5, tav::kAreaDataWord, kBlock, 5000, 10000},
    {"S5/DoubleWords", kS5, tav::kAreaDataDouble, kBlock, 2500, 10000},
    {"S5/Floats", kS5, tav::kAreaDataFloat, kBlock, 2500, 10000},
    {"S5/String80", kS5, tav::kAreaString, String(10, 0, 80), 80, 80},
    {"Type6/Bytes", kType6, tav::kAreaDataByte, kBlock, 5000, 10000},
    {"Type6/String80", kType6, tav::kAreaString, String(10, 0, 80), 80, 80},
};

// The processor time this thread has used: unlike the wall clock, it leaves out the time other
// programs on a shared machine take the processor away.
struct ThreadClock {
  using duration = std::chrono::nanoseconds;
  static duration now() {
    timespec time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
  }
};
using Clock = ThreadClock;

// The transfer as Google Benchmark times it; then memcpy as many times, right after in the same
// run. `vs_memcpy` is memcpy's processor time over the transfer's: the transfer's speed as a
// fraction of memcpy's.
void BM_BlockTransfer(benchmark::State& state, const BlockCase& c, tav::CommandCode command) {
  Driver driver;
  std::vector<uint8_t> host(c.hostBytes);
  for (size_t i = 0; i < host.size(); ++i) host[i] = static_cast<uint8_t>(i * 13 + 5);
  tav::TransferBlock block = Block(c.station, c.code, c.packedAddress, c.count, host.data());

  const auto start = Clock::now();
  for (auto _ : state) {
    if (driver.Run(command, block) != 0) state.SkipWithError("transfer failed");
    benchmark::ClobberMemory();
  }
  const auto transferring = Clock::now() - start;

  uint8_t* buffer = driver.instance->transferBuffer;
  uint8_t* to = command == kReadBlock ? host.data() : buffer;
  const uint8_t* from = command == kReadBlock ? buffer : host.data();
  const auto copyStart = Clock::now();
  for (benchmark::IterationCount i = 0; i < state.iterations(); ++i) {
    std::memcpy(to, from, c.hostBytes);
    benchmark::ClobberMemory();
  }
  const auto copying = Clock::now() - copyStart;

  state.SetItemsProcessed(state.iterations() * c.count);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.hostBytes));
  state.counters["vs_memcpy"] =
      std::chrono::duration<double>(copying) / std::chrono::duration<double>(transferring);
}

const bool kRegistered = [] {
  for (const BlockCase& c : kBlockCases) {
    benchmark::RegisterBenchmark((std::string("BM_ReadBlock/") + c.name).c_str(), BM_BlockTransfer,
                                 c, kReadBlock);
    benchmark::RegisterBenchmark((std::string("BM_WriteBlock/") + c.name).c_str(), BM_BlockTransfer,
                                 c, kWriteBlock);
  }
  return true;
}();

void BM_ReadTagS7Word(benchmark::State& state) {
  Driver driver;
  uint32_t cell = 0;
  tav::TransferBlock block = Block(kS7, tav::kAreaDataWord, kBlock, 1, &cell);
  for (auto _ : state) {
    if (driver.Run(kReadTag, block) != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(cell);
  }
}
BENCHMARK(BM_ReadTagS7Word);

void BM_ReadTagS7Bit(benchmark::State& state) {
  Driver driver;
  uint32_t cell = 0;
  tav::TransferBlock block = Block(kS7, tav::kAreaDataWord, kBlock, 1, &cell);
  block.bitNumber = 4;
  for (auto _ : state) {
    if (driver.Run(kReadTag, block) != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(cell);
  }
}
BENCHMARK(BM_ReadTagS7Bit);

// A host's poll cycle: 500 tags, each read with its own command 5, cycling through words, bits,
// double words, floats, bytes, flags and strings on the three stations.
struct TagKind {
  int station;
  uint32_t code;
  uint32_t packedAddress;
  uint32_t bitNumber;
};

constexpr TagKind kTagKinds[] = {
    {kS7, tav::kAreaDataWord, DataBlock(10, 4), tav::kNoBitNumber},
    {kS7, tav::kAreaDataWord, DataBlock(10, 6), 3},
    {kS7, tav::kAreaDataDouble, DataBlock(10, 2), tav::kNoBitNumber},
    {kS7, tav::kAreaDataFloat, DataBlock(10, 3), tav::kNoBitNumber},
    {kS7, tav::kAreaDataByte, DataBlock(10, 9), tav::kNoBitNumber},
    {kS7, tav::kAreaFlagBytes, 12, 5},
    {kS7, tav::kAreaString, String(10, 20, 16), tav::kNoBitNumber},
    {kS5, tav::kAreaDataWord, DataBlock(10, 4), tav::kNoBitNumber},
    {kS5, tav::kAreaDataWord, DataBlock(10, 5), 12},
    {kS5, tav::kAreaDataDouble, DataBlock(10, 3), tav::kNoBitNumber},
    {kS5, tav::kAreaDataFloat, DataBlock(10, 4), tav::kNoBitNumber},
    {kS5, tav::kAreaInputWords, 8, tav::kNoBitNumber},
    {kType6, tav::kAreaDataByte, DataBlock(10, 7), tav::kNoBitNumber},
};
constexpr size_t kPollTags = 500;

void BM_PollCycle500MixedTags(benchmark::State& state) {
  Driver driver;
  std::vector<std::array<uint8_t, 16>> cells(kPollTags);
  std::vector<tav::TransferBlock> tags;
  for (size_t i = 0; i < kPollTags; ++i) {
    const TagKind& kind = kTagKinds[i % std::size(kTagKinds)];
    tags.push_back(Block(kind.station, kind.code, kind.packedAddress, 1, cells[i].data()));
    tags.back().bitNumber = kind.bitNumber;
  }
  for (auto _ : state) {
    for (tav::TransferBlock& tag : tags) {
      if (driver.Run(kReadTag, tag) != 0) state.SkipWithError("read failed");
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kPollTags));
}
BENCHMARK(BM_PollCycle500MixedTags);

}  // namespace
