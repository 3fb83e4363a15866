#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer_rows.h"
#include "transfer_test.h"

namespace tav::test {
namespace {

using fake::H1;
using fake::H1Op;

class BlockWriteTest : public TransferTest {
 protected:
  void Fresh() { SetUp(); }
};

TEST_F(BlockWriteTest, SendsTheSameRequestAsAReadOfEveryKind) {
  for (const RequestRow& row : kRequestRows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    std::vector<uint8_t> host(400, 0);
    TransferBlock block = Block(kPlc, row.code, row.packedAddress, row.count, host.data());

    ASSERT_EQ(Run(10, &block), 0);

    const uint16_t connection = row.plcType == kPlcTypeS5 ? kWriteConnection : kReadConnection;
    const RequestFields expected{connection, row.areaKind, row.blockNumber, row.start, row.length};
    EXPECT_EQ(RequestsOf(H1Op::kSendWriteRequest), std::vector<RequestFields>{expected});
  }
}

TEST_F(BlockWriteTest, FillsTheTransferBufferFromTheHostsElements) {
  for (const ConversionRow& row : ConversionRows()) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    Bytes host = row.host;
    TransferBlock block = Block(kPlc, row.code, row.packedAddress, row.count, host.data());

    ASSERT_EQ(Run(10, &block), 0);

    EXPECT_EQ(SentBytes(row.station.size()), row.station);
    EXPECT_EQ(host, row.host) << "the host's array is only read";
  }
}

TEST_F(BlockWriteTest, SendsOnlyTheLowByteOfAByteElement) {
  Connect(kPlc, kPlcTypeS7);
  const uint16_t elements[2] = {0x0134, 0xFF80};
  TransferBlock block =
      Block(kPlc, kAreaDataByte, DataBlockAddress(1, 0), 2, const_cast<uint16_t*>(elements));

  ASSERT_EQ(Run(10, &block), 0);

  EXPECT_EQ(SentBytes(2), (Bytes{0x34, 0x80}));
}

TEST_F(BlockWriteTest, EncodesS5FloatsWithClampsAndRounding) {
  Connect(kPlc, kPlcTypeS5);
  const float values[4] = {2e38f, -1e-39f, 16777215.0f, -0.5f};
  TransferBlock block =
      Block(kPlc, kAreaDataFloat, DataBlockAddress(1, 0), 4, const_cast<float*>(values));

  ASSERT_EQ(Run(10, &block), 0);

  // 0x7F7FFFFF, 0x80BFFFFF, 0x19400000, 0xFF800000, each as two host-order words.
  EXPECT_EQ(SentBytes(16), (Bytes{0x7F, 0x7F, 0xFF, 0xFF, 0xBF, 0x80, 0xFF, 0xFF, 0x40, 0x19, 0x00,
                                  0x00, 0x80, 0xFF, 0x00, 0x00}));
}

TEST_F(BlockWriteTest, WritesOverTheWriteConnectionWhereThereIsOne) {
  struct Row {
    const char* name;
    uint8_t plcType;
    uint16_t readConnection;
    uint16_t writeConnection;
    uint16_t used;
  };
  const Row rows[] = {
      {"type 5 with both connections", 5, 0x21, 0x22, 0x22},
      {"type 5 whose write connection never came up", 5, 0x21, 0, 0x21},
      {"S7", 7, 0x21, 0, 0x21},
      {"type 6", 6, 0x21, 0, 0x21},
      {"never connected: identifier 0 all the same", 7, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    PlcEntry& entry = Connect(kPlc, row.plcType);
    entry.readConnection = row.readConnection;
    entry.writeConnection = row.writeConnection;
    uint16_t word = 0x1234;
    TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 1, &word);

    ASSERT_EQ(Run(10, &block), 0);

    ASSERT_EQ(RequestsOf(H1Op::kSendWriteRequest).size(), 1u);
    EXPECT_EQ(RequestsOf(H1Op::kSendWriteRequest)[0].connection, row.used);
    const auto acks = H1().CallsOf(H1Op::kReceiveWriteAcknowledge);
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0].connection, row.used);
  }
}

// One write exchange, scripted acknowledgement by acknowledgement; unscripted ones answer 0 with
// status word 0.
struct WriteScenario {
  const char* name;
  int32_t budget;
  uint16_t sendResult;
  std::vector<std::pair<uint16_t, uint16_t>> acks;  // result and status word
  int32_t result;
  int ackCalls;
  std::vector<uint32_t> sleeps;
  std::vector<std::string> log;
};

std::string Failed(int status, int statusWord) {
  return "TavSH1: Write Tag TAG1 Failed, rc=" + std::to_string(status) + "," +
         std::to_string(statusWord);
}

TEST_F(BlockWriteTest, PollsForTheAcknowledgementExactlyAsScripted) {
  using W = std::pair<uint16_t, uint16_t>;
  const WriteScenario scenarios[] = {
      {"acknowledged at once", 1000, 0, {}, 0, 1, {}, {}},
      {"a failed send shows only in the acknowledgement", 1000, 5, {}, 0, 1, {}, {}},
      {"waiting with 6 and 7, then acknowledged", 1000, 0, {{6, 0}, {7, 0}}, 0, 3, {1, 1}, {}},
      {"3: not repeated, 2", 1000, 0, {{3, 0}}, 2, 1, {}, {Failed(3, 0)}},
      {"9: not repeated, 2", 1000, 0, {{9, 4}}, 2, 1, {}, {Failed(9, 4)}},
      {"5: 1", 1000, 0, {{5, 0}}, 1, 1, {}, {Failed(5, 0)}},
      {"status word 7: 1", 1000, 0, {{0, 7}}, 1, 1, {}, {Failed(0, 7)}},
      {"waiting until the budget is spent",
       4,
       0,
       std::vector<W>(4, {6, 0}),
       2,
       4,
       {1, 1, 1, 1},
       {Failed(6, 0)}},
      {"budget 0", 0, 0, {}, 2, 0, {}, {Failed(0, 0)}},
      {"negative budget", -1, 0, {}, 2, 0, {}, {Failed(0, 0)}},
  };
  for (const WriteScenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    Fresh();
    instance().retryBudget = scenario.budget;
    Connect(kPlc, kPlcTypeS7);
    H1().Answer(H1Op::kSendWriteRequest, {.result = scenario.sendResult});
    for (const auto& [result, statusWord] : scenario.acks) {
      H1().Answer(H1Op::kReceiveWriteAcknowledge, {.result = result, .statusWord = statusWord});
    }
    uint16_t word = 0x1234;
    TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 1, &word);

    EXPECT_EQ(Run(10, &block), scenario.result);

    EXPECT_EQ(H1().CountOf(H1Op::kSendWriteRequest), 1);
    EXPECT_EQ(H1().CountOf(H1Op::kReceiveWriteAcknowledge), scenario.ackCalls);
    EXPECT_EQ(H1().CountOf(H1Op::kSendReadRequest), 0);
    EXPECT_EQ(fake::Sleeps(), scenario.sleeps);
    EXPECT_EQ(fake::LogTexts(), scenario.log);
    for (const fake::LogLine& line : fake::LogLines()) {
      EXPECT_EQ(line.level, 32);
      EXPECT_EQ(line.format, "TavSH1: Write Tag %s Failed, rc=%d,%d");
    }
  }
}

TEST_F(BlockWriteTest, ANullTagNamePrintsAsEmptyText) {
  Connect(kPlc, kPlcTypeS7);
  H1().Answer(H1Op::kReceiveWriteAcknowledge, {.result = 5});
  uint16_t word = 0;
  TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 1, &word);
  block.tagName = nullptr;

  EXPECT_EQ(Run(10, &block), 1);

  EXPECT_EQ(fake::LogTexts(), std::vector<std::string>{"TavSH1: Write Tag  Failed, rc=5,0"});
}

TEST_F(BlockWriteTest, RefusesBrokenTransferBlocksBeforeTouchingAnything) {
  for (const BrokenRow& row : kBrokenRows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    std::memset(instance().transferBuffer, 0x5A, sizeof instance().transferBuffer);
    Bytes host(64, 0x11);
    TransferBlock block = Block(row.plc, row.code, row.packedAddress, row.count,
                                row.nullData ? nullptr : host.data());

    EXPECT_EQ(Run(10, &block), 1);

    EXPECT_TRUE(H1().Calls().empty());
    for (uint8_t byte : instance().transferBuffer) ASSERT_EQ(byte, 0x5A);
    ASSERT_EQ(fake::LogLines().size(), 1u);
    EXPECT_TRUE(fake::LogLines()[0].text.starts_with("TavSH1: Write Tag TAG1 Refused, "))
        << fake::LogLines()[0].text;
  }
}

TEST_F(BlockWriteTest, SendsWhatIsJustInsideTheLimits) {
  for (const BrokenRow& row : kLimitRows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(row.plc, row.plcType);
    Bytes host(20'000, 0x11);
    TransferBlock block = Block(row.plc, row.code, row.packedAddress, row.count, host.data());

    EXPECT_EQ(Run(10, &block), 0);
    EXPECT_EQ(H1().CountOf(H1Op::kSendWriteRequest), 1);
  }
}

TEST_F(BlockWriteTest, RefusesANullInstanceOrTransferBlock) {
  uint16_t word = 0;
  TransferBlock block = Block(kPlc, kAreaDataWord, 0, 1, &word);
  Request noInstance{nullptr, 10, 0, 0, &block};

  EXPECT_EQ(TavMain(&noInstance), 1);
  EXPECT_EQ(Run(10, nullptr), 1);

  EXPECT_TRUE(H1().Calls().empty());
  EXPECT_EQ(fake::LogTexts(),
            (std::vector<std::string>{"TavSH1: Write Tag TAG1 Refused, no driver instance",
                                      "TavSH1: Write Tag  Refused, no TransferBlock"}));
}

}  // namespace
}  // namespace tav::test
