// No request allocates memory: every allocation the program makes is counted while a request
// runs in TavMain. The H1 library, the log and sleeping here allocate nothing themselves.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "abi/transfer_block.h"
#include "driver/tav_main.h"
#include "support/allocation_counter.h"
#include "support/instant_h1_library.h"

namespace tav {
namespace {

class NoAllocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    instant::Reset();
    std::memset(instance_.get(), 0, sizeof(DriverInstance));
    instance_->retryBudget = 10;
    const uint8_t types[] = {kPlcTypeS5, kPlcTypeS7, 6};
    for (int station = 1; station <= 3; ++station) {
      PlcEntry& entry = instance_->plcTable[station];
      entry.plcType = types[station - 1];
      std::strcpy(entry.ethernetAddress, "0A0B0C010203");
      entry.readConnection = 1;
      entry.writeConnection = entry.plcType == kPlcTypeS5 ? 2 : 0;
    }
  }

  // Allocations made while TavMain runs `command`.
  uint64_t AllocationsOf(CommandCode command, TransferBlock& block) {
    Request request = MakeRequest(instance_.get(), command, &block);
    testing::StartCountingAllocations();
    (void)TavMain(&request);
    return testing::StopCountingAllocations();
  }

  std::unique_ptr<DriverInstance> instance_ = std::make_unique<DriverInstance>();
};

TEST_F(NoAllocationTest, TheCounterSeesAllocations) {
  testing::StartCountingAllocations();
  auto* probe = new int(1);
  void* raw = std::malloc(8);
  const uint64_t counted = testing::StopCountingAllocations();
  delete probe;
  std::free(raw);
  EXPECT_EQ(counted, 2u);
}

// Every kind on every station type, with and without a bit, through all four commands, when the
// library answers well, badly, not at all within the budget, or busy; and refused requests.
TEST_F(NoAllocationTest, NoTransferAllocatesWhateverItComesTo) {
  const uint32_t codes[] = {kAreaDataByte,      kAreaDataWord,  kAreaDataWordOdd,  kAreaDataDouble,
                            kAreaDataDoubleOdd, kAreaDataFloat, kAreaDataFloatOdd, kAreaString,
                            kAreaInputWords,    kAreaFlagBytes, kAreaExtended,     'Z'};
  const instant::Answers scripts[] = {{},
                                      {.readStatusWord = 5, .acknowledge = 9},
                                      {.receiveRead = 6, .acknowledge = 6},
                                      {.sendRead = 3}};
  uint8_t host[400] = {};
  for (const instant::Answers& script : scripts) {
    instant::Script() = script;
    for (int station = 1; station <= 3; ++station) {
      for (uint32_t code : codes) {
        for (uint32_t bit : {kNoBitNumber, 3u}) {
          for (int32_t count : {20, -1}) {
            for (CommandCode command : {CommandCode::kReadTag, CommandCode::kReadBlock,
                                        CommandCode::kWriteTag, CommandCode::kWriteBlock}) {
              TransferBlock block{};
              block.tagName = "TAG";
              block.plcNumber = station;
              block.areaTypeCode = code;
              block.packedAddress = 10u << 24 | 4u << 16 | 2;
              block.bitNumber = bit;
              block.count = count;
              block.data = host;
              ASSERT_EQ(AllocationsOf(command, block), 0)
                  << "station " << station << " code " << code << " bit " << bit << " count "
                  << count << " command " << tav::ToInt(command);
            }
          }
        }
      }
    }
  }
  EXPECT_GT(instant::Counters().logLines, 0u);
}

}  // namespace
}  // namespace tav
