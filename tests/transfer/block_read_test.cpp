#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer_rows.h"
#include "transfer_test.h"

namespace tav::test {
namespace {

using fake::H1;
using fake::H1Answer;
using fake::H1Op;

constexpr uint8_t kSentinel = 0xEE;

class BlockReadTest : public TransferTest {
 protected:
  void Fresh() { SetUp(); }
};

TEST_F(BlockReadTest, SendsTheRequestOfEveryKind) {
  for (const RequestRow& row : kRequestRows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    std::vector<uint8_t> host(400, kSentinel);
    TransferBlock block = Block(kPlc, row.code, row.packedAddress, row.count, host.data());

    ASSERT_EQ(Run(6, &block), 0);

    const RequestFields expected{kReadConnection, row.areaKind, row.blockNumber, row.start,
                                 row.length};
    EXPECT_EQ(RequestsOf(H1Op::kSendReadRequest), std::vector<RequestFields>{expected});
  }
}

TEST_F(BlockReadTest, ConvertsTheStationsBytesIntoTheHostsElements) {
  for (const ConversionRow& row : ConversionRows()) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    AnswerRead(row.station);
    Bytes host(row.host.size() + 4, kSentinel);
    TransferBlock block = Block(kPlc, row.code, row.packedAddress, row.count, host.data());

    ASSERT_EQ(Run(6, &block), 0);

    Bytes expected = row.host;
    expected.resize(host.size(), kSentinel);  // nothing beyond the elements, no NUL after a string
    EXPECT_EQ(host, expected);
  }
}

TEST_F(BlockReadTest, ReadsOverTheReadConnectionIntoTheWholeTransferBuffer) {
  Connect(kPlc, kPlcTypeS5);
  uint16_t word = 0;
  TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 1, &word);

  ASSERT_EQ(Run(6, &block), 0);

  const auto receives = H1().CallsOf(H1Op::kReceiveReadData);
  ASSERT_EQ(receives.size(), 1u);
  EXPECT_EQ(receives[0].connection, kReadConnection);
  EXPECT_EQ(receives[0].argument, 10'000u);
  EXPECT_EQ(H1().Sequence(), (std::vector<H1Op>{H1Op::kSendReadRequest, H1Op::kReceiveReadData}));
}

TEST_F(BlockReadTest, ReadsS5FloatsIntoTheNearestSingle) {
  Connect(kPlc, kPlcTypeS5);
  // 2^-151 lies below every single and becomes 0; 3.14159297... is a single exactly.
  AnswerRead({0x00, 0x80, 0x01, 0x00, 0x64, 0x02, 0xEE, 0x87});
  float values[2] = {5.0f, 5.0f};
  TransferBlock block = Block(kPlc, kAreaDataFloat, DataBlockAddress(1, 0), 2, values);

  ASSERT_EQ(Run(6, &block), 0);

  EXPECT_EQ(values[0], 0.0f);
  EXPECT_EQ(values[1], 3.1415929794311523f);
}

TEST_F(BlockReadTest, CountZeroWritesNothing) {
  Connect(kPlc, kPlcTypeS7);
  AnswerRead({0x12, 0x34});
  uint8_t host[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
  TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 0, host);

  ASSERT_EQ(Run(6, &block), 0);

  for (uint8_t byte : host) EXPECT_EQ(byte, kSentinel);
}

// One exchange with the library, scripted call by call. Unscripted calls answer 0 with status
// word 0, and every receive delivers data.
struct ReadScenario {
  const char* name;
  uint8_t plcType;
  int32_t budget;
  std::vector<uint16_t> sends;                          // results of send read request, in order
  std::vector<std::pair<uint16_t, uint16_t>> receives;  // result and status word of each receive
  int32_t result;
  int sendCalls;
  int receiveCalls;
  std::vector<uint32_t> sleeps;
  std::vector<std::string> log;
};

std::vector<uint32_t> Times(int n, std::vector<uint32_t> pattern) {
  std::vector<uint32_t> sleeps;
  for (int i = 0; i < n; ++i) sleeps.insert(sleeps.end(), pattern.begin(), pattern.end());
  return sleeps;
}

template <typename T>
std::vector<T> Repeat(int n, T value) {
  return std::vector<T>(static_cast<size_t>(n), value);
}

template <typename T>
std::vector<T> Then(std::vector<T> first, const std::vector<T>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

std::string Failed(int status, int statusWord) {
  return "TavSH1: Read Tag TAG1 Failed, rc=" + std::to_string(status) + "," +
         std::to_string(statusWord);
}

std::vector<ReadScenario> ReadScenarios() {
  using W = std::pair<uint16_t, uint16_t>;
  return {
      {"answered at once", 7, 1000, {}, {}, 0, 1, 1, {}, {}},
      {"busy 21 times on S7", 7, 1000, Repeat<uint16_t>(21, 3), {}, 2, 21, 0, Times(20, {10}), {}},
      {"busy 21 times on type 5",
       5,
       1000,
       Repeat<uint16_t>(21, 3),
       {},
       2,
       21,
       0,
       Times(20, {10, 40}),
       {}},
      {"busy 21 times on type 6",
       6,
       1000,
       Repeat<uint16_t>(21, 3),
       {},
       2,
       21,
       0,
       Times(20, {10}),
       {}},
      {"busy 5 times, then taken",
       5,
       1000,
       Repeat<uint16_t>(5, 3),
       {},
       0,
       6,
       1,
       Times(5, {10, 40}),
       {}},
      {"busy, other refusals, then taken", 7, 1000, {3, 5, 5}, {}, 0, 4, 1, Times(3, {10}), {}},
      {"busy, then refused to the end",
       7,
       1000,
       Then<uint16_t>({3}, Repeat<uint16_t>(20, 5)),
       {},
       2,
       21,
       0,
       Times(20, {10}),
       {}},
      {"busy, then 14 to the end",
       7,
       1000,
       Then<uint16_t>({3}, Repeat<uint16_t>(20, 14)),
       {},
       1,
       21,
       1,
       Then(Times(20, {10}), {1}),
       {}},
      {"14", 5, 1000, {14}, {}, 1, 1, 1, {1}, {}},
      {"refused with 5", 7, 1000, {5}, {}, 2, 1, 0, {}, {}},
      {"waiting until the budget is spent",
       7,
       5,
       {},
       Repeat<W>(5, {6, 0}),
       2,
       1,
       5,
       Times(5, {1}),
       {Failed(6, 0)}},
      {"waiting with 7, then data", 7, 1000, {}, {{7, 0}, {7, 0}}, 0, 1, 3, {1, 1}, {}},
      {"3 from receive sends again", 7, 1000, {}, {{3, 0}}, 0, 2, 2, {50}, {}},
      {"9 from receive sends again", 5, 1000, {}, {{9, 0}}, 0, 2, 2, {50}, {}},
      {"a refused re-send still polls", 7, 1000, {0, 3}, {{9, 0}}, 0, 2, 2, {50}, {}},
      {"status word 5", 7, 1000, {}, {{0, 5}}, 1, 1, 1, {}, {Failed(0, 5)}},
      {"other status", 7, 1000, {}, {{4, 2}}, 1, 1, 1, {}, {Failed(4, 2)}},
      {"3 or 9 after waiting",
       7,
       1000,
       {0, 0},
       {{6, 0}, {9, 0}, {4, 0}},
       1,
       2,
       3,
       {1, 50},
       {Failed(4, 0)}},
      {"budget spent on re-sends", 7, 2, {}, {{9, 0}, {9, 0}}, 2, 3, 2, {50, 50}, {Failed(0, 0)}},
      {"budget 1, waiting", 7, 1, {}, {{6, 0}}, 2, 1, 1, {1}, {Failed(6, 0)}},
      {"budget 0", 7, 0, {}, {}, 2, 1, 0, {}, {Failed(0, 0)}},
      {"negative budget", 5, -5, {}, {}, 2, 1, 0, {}, {Failed(0, 0)}},
  };
}

TEST_F(BlockReadTest, RetriesAndPollsExactlyAsScripted) {
  for (const ReadScenario& scenario : ReadScenarios()) {
    SCOPED_TRACE(scenario.name);
    Fresh();
    instance().retryBudget = scenario.budget;
    Connect(kPlc, scenario.plcType);
    for (uint16_t result : scenario.sends) H1().Answer(H1Op::kSendReadRequest, {.result = result});
    for (const auto& [result, statusWord] : scenario.receives) {
      H1().Answer(H1Op::kReceiveReadData,
                  {.result = result, .statusWord = statusWord, .data = {0x12, 0x34}});
    }
    H1().Respond(H1Op::kReceiveReadData, [](const fake::H1Call&) {
      return H1Answer{.data = {0x12, 0x34}};
    });
    uint8_t host[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
    TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 1, host);

    EXPECT_EQ(Run(6, &block), scenario.result);

    EXPECT_EQ(H1().CountOf(H1Op::kSendReadRequest), scenario.sendCalls);
    EXPECT_EQ(H1().CountOf(H1Op::kReceiveReadData), scenario.receiveCalls);
    EXPECT_EQ(fake::Sleeps(), scenario.sleeps);
    EXPECT_EQ(fake::LogTexts(), scenario.log);
    for (const fake::LogLine& line : fake::LogLines()) {
      EXPECT_EQ(line.level, 32);
      EXPECT_EQ(line.format, "TavSH1: Read Tag %s Failed, rc=%d,%d");
    }
    const bool s7 = scenario.plcType == kPlcTypeS7;
    if (scenario.result == 0) {
      EXPECT_EQ(host[0], s7 ? 0x34 : 0x12);
      EXPECT_EQ(host[1], s7 ? 0x12 : 0x34);
    } else {
      for (uint8_t byte : host) EXPECT_EQ(byte, kSentinel) << "the host array was written";
    }
    // Every repeated request is the same request.
    for (const RequestFields& request : RequestsOf(H1Op::kSendReadRequest)) {
      EXPECT_EQ(request, (RequestFields{kReadConnection, 1, 1, 0, uint16_t(s7 ? 2 : 1)}));
    }
  }
}

TEST_F(BlockReadTest, AStationWithoutConnectionFailsWithTwoAndCallsNothing) {
  Connect(kPlc, kPlcTypeS5).readConnection = 0;
  uint8_t host[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
  TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 2, host);

  EXPECT_EQ(Run(6, &block), 2);

  EXPECT_TRUE(H1().Calls().empty());
  EXPECT_TRUE(fake::LogLines().empty());
  EXPECT_TRUE(fake::Sleeps().empty());
  for (uint8_t byte : host) EXPECT_EQ(byte, kSentinel);
}

TEST_F(BlockReadTest, ANullTagNamePrintsAsEmptyText) {
  Connect(kPlc, kPlcTypeS7);
  H1().Answer(H1Op::kReceiveReadData, {.result = 0, .statusWord = 5});
  uint16_t word = 0;
  TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 1, &word);
  block.tagName = nullptr;

  EXPECT_EQ(Run(6, &block), 1);

  EXPECT_EQ(fake::LogTexts(), std::vector<std::string>{"TavSH1: Read Tag  Failed, rc=0,5"});
}

TEST_F(BlockReadTest, RefusesBrokenTransferBlocksBeforeTouchingAnything) {
  for (const BrokenRow& row : kBrokenRows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    std::memset(instance().transferBuffer, 0x5A, sizeof instance().transferBuffer);
    Bytes host(64, kSentinel);
    TransferBlock block = Block(row.plc, row.code, row.packedAddress, row.count,
                                row.nullData ? nullptr : host.data());
    const TransferBlock before = block;

    EXPECT_EQ(Run(6, &block), 1);

    EXPECT_TRUE(H1().Calls().empty());
    EXPECT_EQ(host, Bytes(64, kSentinel));
    for (uint8_t byte : instance().transferBuffer) ASSERT_EQ(byte, 0x5A);
    EXPECT_EQ(std::memcmp(&block, &before, sizeof block), 0);
    ASSERT_EQ(fake::LogLines().size(), 1u);
    EXPECT_EQ(fake::LogLines()[0].level, 32);
    EXPECT_TRUE(fake::LogLines()[0].text.starts_with("TavSH1: Read Tag TAG1 Refused, "))
        << fake::LogLines()[0].text;
  }
}

TEST_F(BlockReadTest, SendsWhatIsJustInsideTheLimits) {
  for (const BrokenRow& row : kLimitRows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(row.plc, row.plcType);
    Bytes host(20'000, kSentinel);
    TransferBlock block = Block(row.plc, row.code, row.packedAddress, row.count, host.data());

    EXPECT_EQ(Run(6, &block), 0);
    EXPECT_EQ(H1().CountOf(H1Op::kSendReadRequest), 1);
  }
}

TEST_F(BlockReadTest, RefusesANullInstanceOrTransferBlock) {
  uint16_t word = 0;
  TransferBlock block = Block(kPlc, kAreaDataWord, 0, 1, &word);
  Request noInstance{nullptr, 6, 0, 0, &block};

  EXPECT_EQ(TavMain(&noInstance), 1);
  EXPECT_EQ(Run(6, nullptr), 1);

  EXPECT_TRUE(H1().Calls().empty());
  EXPECT_EQ(fake::LogTexts(),
            (std::vector<std::string>{"TavSH1: Read Tag TAG1 Refused, no driver instance",
                                      "TavSH1: Read Tag  Refused, no TransferBlock"}));
}

}  // namespace
}  // namespace tav::test
