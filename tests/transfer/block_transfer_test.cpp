// Block read (command 6) and block write (command 10): the request of every kind, the byte order
// both ways, the exchanges' retry and polling schedules, results and messages, and refusals.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "transfer_test.h"
#include "vocabulary/area_rules.h"

namespace tav::test {
namespace {

constexpr uint8_t kSentinel = 0xEE;
constexpr CommandCode kRead = CommandCode::kReadBlock;
constexpr CommandCode kWrite = CommandCode::kWriteBlock;

constexpr uint32_t Extended(uint32_t code) {
  return code | kQualifierExtended << 8;
}

struct RequestRow {
  const char* name;
  uint8_t plcType;
  uint32_t code;
  uint32_t packedAddress;
  int32_t count;
  uint16_t areaKind, blockNumber, start, length;
};

// Start and length count bytes on S7 stations, words in S5 data blocks, and bytes in the S5
// input, output and flag areas. The odd codes advance by a byte (S7 word 1), 2 bytes (S7 'd',
// 'f') or a word (S5 'd', 'f').
constexpr RequestRow kRequestRows[] = {
    {"S7 bytes", 7, kAreaDataByte, DataBlockAddress(10, 12), 3, 1, 10, 12, 3},
    {"S7 words", 7, kAreaDataWord, DataBlockAddress(20, 5), 3, 1, 20, 10, 6},
    {"S7 word at odd byte", 7, kAreaDataWordOdd, DataBlockAddress(20, 3), 1, 1, 20, 7, 2},
    {"S7 double words", 7, kAreaDataDouble, DataBlockAddress(20, 1), 2, 1, 20, 4, 8},
    {"S7 odd double word", 7, kAreaDataDoubleOdd, DataBlockAddress(20, 1), 1, 1, 20, 6, 4},
    {"S7 float", 7, kAreaDataFloat, DataBlockAddress(20, 1), 1, 1, 20, 4, 4},
    {"S7 odd float", 7, kAreaDataFloatOdd, DataBlockAddress(999, 2), 1, 1, 999, 10, 4},
    {"S7 string", 7, kAreaString, StringAddress(5, 4, 10), 1, 1, 5, 4, 10},
    {"S7 odd string", 7, kAreaString, StringAddress(5, 4, 7), 1, 1, 5, 4, 6},
    {"S7 string of one", 7, kAreaString, StringAddress(5, 4, 1), 1, 1, 5, 4, 0},
    {"S7 input bytes", 7, kAreaInputBytes, 5, 2, 3, 0, 5, 2},
    {"S7 output words", 7, kAreaOutputWords, 2, 3, 4, 0, 4, 6},
    {"S7 flag words", 7, kAreaFlagWords, 1, 1, 2, 0, 2, 2},
    {"S7 count 0", 7, kAreaDataWord, DataBlockAddress(20, 5), 0, 1, 20, 10, 0},
    {"S5 words", 5, kAreaDataWord, DataBlockAddress(20, 5), 3, 1, 20, 5, 3},
    {"S5 extended words", 5, Extended(kAreaDataWord), DataBlockAddress(7, 5), 3, 10, 7, 5, 3},
    {"S5 word kind 1", 5, kAreaDataWordOdd, DataBlockAddress(20, 3), 1, 1, 20, 3, 1},
    {"S5 double words", 5, kAreaDataDouble, DataBlockAddress(20, 2), 2, 1, 20, 4, 4},
    {"S5 odd double word", 5, kAreaDataDoubleOdd, DataBlockAddress(20, 2), 1, 1, 20, 5, 2},
    {"S5 float", 5, kAreaDataFloat, DataBlockAddress(20, 4), 1, 1, 20, 8, 2},
    {"S5 extended odd float", 5, Extended(kAreaDataFloatOdd), DataBlockAddress(9, 1), 1, 10, 9, 3,
     2},
    {"S5 string", 5, kAreaString, StringAddress(5, 4, 10), 1, 1, 5, 4, 5},
    {"S5 string: its length stays out of its block", 5, kAreaString, StringAddress(255, 4, 80), 1,
     1, 255, 4, 40},
    {"S5 flag bytes", 5, kAreaFlagBytes, 9999, 1, 2, 0, 9999, 1},
    {"S5 input words: byte offset, 2 bytes a word", 5, kAreaInputWords, 4, 3, 3, 0, 4, 6},
    {"type 6 bytes", 6, kAreaDataByte, DataBlockAddress(300, 7), 2, 1, 300, 7, 2},
    {"type 6 extended bytes", 6, Extended(kAreaDataByte), DataBlockAddress(1, 7), 2, 10, 1, 7, 2},
    {"type 6 odd float", 6, kAreaDataFloatOdd, DataBlockAddress(20, 1), 1, 1, 20, 3, 2},
    {"type 6 string", 6, kAreaString, StringAddress(5, 4, 10), 1, 1, 5, 4, 5},
    {"type 6 output words", 6, kAreaOutputWords, 4, 3, 4, 0, 4, 6},
};

class BlockTransferTest : public TransferTest {};

TEST_F(BlockTransferTest, ReadAndWriteSendTheRequestOfEveryKind) {
  for (const RequestRow& row : kRequestRows) {
    for (CommandCode command : {kRead, kWrite}) {
      SCOPED_TRACE(testing::Message() << row.name << ", command " << command);
      Fresh();
      Connect(kPlc, row.plcType);
      Bytes host(400, 0);
      TransferBlock block = Block(kPlc, row.code, row.packedAddress, row.count, host.data());

      ASSERT_EQ(Run(command, &block), 0);

      const bool read = command == kRead;
      const uint16_t connection =
          !read && row.plcType == kPlcTypeS5 ? kWriteConnection : kReadConnection;
      const RequestFields expected{connection, row.areaKind, row.blockNumber, row.start,
                                   row.length};
      EXPECT_EQ(RequestsOf(read ? H1Op::kSendReadRequest : H1Op::kSendWriteRequest),
                std::vector<RequestFields>{expected});
    }
  }
}

// The same elements as the station's TransferBuffer holds them and as the host holds them
// (little-endian 16-bit elements for bytes and words, 32-bit for double words and floats).
struct ConversionRow {
  const char* name;
  uint8_t plcType;
  uint32_t code;
  uint32_t packedAddress;
  int32_t count;
  Bytes station;
  Bytes host;
};

std::vector<ConversionRow> ConversionRows() {
  const Bytes letters = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'};
  const Bytes exchanged = {'B', 'A', 'D', 'C', 'F', 'E', 'H', 'G', 'J', 'I'};
  const uint32_t at = DataBlockAddress(20, 2);
  return {
      {"S7 bytes", 7, kAreaDataByte, at, 2, {0xAB, 0x01}, {0xAB, 0, 0x01, 0}},
      {"type 6 bytes", 6, kAreaDataByte, at, 1, {0xAB}, {0xAB, 0}},
      {"S7 words are big-endian",
       7,
       kAreaDataWord,
       at,
       2,
       {0x12, 0x34, 0x56, 0x78},
       {0x34, 0x12, 0x78, 0x56}},
      {"S5 words in host order",
       5,
       kAreaDataWord,
       at,
       2,
       {0x34, 0x12, 0x78, 0x56},
       {0x34, 0x12, 0x78, 0x56}},
      {"type 6 words too", 6, kAreaDataWord, at, 1, {0x34, 0x12}, {0x34, 0x12}},
      {"S7 double words are big-endian",
       7,
       kAreaDataDouble,
       at,
       2,
       {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0},
       {0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A}},
      {"S5 double words: high word first",
       5,
       kAreaDataDoubleOdd,
       at,
       1,
       {0x34, 0x12, 0x78, 0x56},
       {0x78, 0x56, 0x34, 0x12}},
      {"S7 floats: 1.0 and -100.0 as big-endian singles",
       7,
       kAreaDataFloat,
       at,
       2,
       {0x3F, 0x80, 0x00, 0x00, 0xC2, 0xC8, 0x00, 0x00},
       {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0xC8, 0xC2}},
      {"S5 floats: 1.0 and -100.0 in the S5 format",
       5,
       kAreaDataFloat,
       at,
       2,
       {0x40, 0x01, 0x00, 0x00, 0x9C, 0x07, 0x00, 0x00},
       {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0xC8, 0xC2}},
      {"type 6 floats too",
       6,
       kAreaDataFloatOdd,
       at,
       1,
       {0x40, 0x01, 0x00, 0x00},
       {0x00, 0x00, 0x80, 0x3F}},
      {"S7 string", 7, kAreaString, StringAddress(5, 4, 10), 1, letters, letters},
      {"type 5 string: pairs exchanged", 5, kAreaString, StringAddress(5, 4, 10), 1, exchanged,
       letters},
      {"type 6 string: as it comes", 6, kAreaString, StringAddress(5, 4, 10), 1, letters, letters},
      {"S5 odd string: whole pairs only",
       5,
       kAreaString,
       StringAddress(5, 4, 7),
       1,
       {'B', 'A', 'D', 'C', 'F', 'E'},
       {'A', 'B', 'C', 'D', 'E', 'F'}},
      {"S5 flag bytes", 5, kAreaFlagBytes, 3, 2, {0xFE, 0x01}, {0xFE, 0, 0x01, 0}},
      {"S7 output words are big-endian", 7, kAreaOutputWords, 2, 1, {0x12, 0x34}, {0x34, 0x12}},
      {"S5 input words are big-endian too",
       5,
       kAreaInputWords,
       4,
       2,
       {0x12, 0x34, 0x56, 0x78},
       {0x34, 0x12, 0x78, 0x56}},
  };
}

TEST_F(BlockTransferTest, ConvertsBetweenTheStationsBytesAndTheHostsElements) {
  for (const ConversionRow& row : ConversionRows()) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    AnswerRead(row.station);
    Bytes host(row.host.size() + 4, kSentinel);
    TransferBlock block = Block(kPlc, row.code, row.packedAddress, row.count, host.data());

    ASSERT_EQ(Run(kRead, &block), 0);
    Bytes expected = row.host;
    expected.resize(host.size(), kSentinel);  // nothing beyond the elements, no NUL after a string
    EXPECT_EQ(host, expected);

    ASSERT_EQ(Run(kWrite, &block), 0);
    EXPECT_EQ(SentBytes(row.station.size()), row.station);
    EXPECT_EQ(host, expected) << "a write only reads the host's array";
  }
}

TEST_F(BlockTransferTest, WritesOnlyTheLowByteOfAByteElement) {
  Connect(kPlc, kPlcTypeS7);
  uint16_t elements[2] = {0x0134, 0xFF80};
  TransferBlock block = Block(kPlc, kAreaDataByte, DataBlockAddress(1, 0), 2, elements);

  ASSERT_EQ(Run(kWrite, &block), 0);

  EXPECT_EQ(SentBytes(2), (Bytes{0x34, 0x80}));
  EXPECT_EQ(H1().CountOf(H1Op::kSendReadRequest), 0) << "S7 stations take single bytes";
}

// A type-6 station's data blocks hold words: a request for n bytes covers n words. The write
// fetches them first, so the n bytes behind the host's go back unchanged.
TEST_F(BlockTransferTest, ByteWriteIntoWordMemoryKeepsTheBytesItDoesNotWrite) {
  Connect(kPlc, 6);
  uint16_t elements[3] = {0x11, 0x22, 0x33};
  TransferBlock block = Block(kPlc, kAreaDataByte, DataBlockAddress(1, 3), 3, elements);
  H1().Answer(H1Op::kReceiveReadData, {.data = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}});

  ASSERT_EQ(Run(kWrite, &block), 0);

  EXPECT_EQ(H1().Sequence(),
            (std::vector<H1Op>{H1Op::kSendReadRequest, H1Op::kReceiveReadData,
                               H1Op::kSendWriteRequest, H1Op::kReceiveWriteAcknowledge}));
  EXPECT_EQ(RequestsOf(H1Op::kSendReadRequest), RequestsOf(H1Op::kSendWriteRequest));
  EXPECT_EQ(SentBytes(6), (Bytes{0x11, 0x22, 0x33, 0xA4, 0xA5, 0xA6}));
}

TEST_F(BlockTransferTest, ByteWriteIntoWordMemoryIsNotSentWhenTheWordsCannotBeRead) {
  Connect(kPlc, 6);
  uint16_t elements[2] = {0x11, 0x22};
  TransferBlock block = Block(kPlc, kAreaDataByte, DataBlockAddress(1, 0), 2, elements);
  H1().Answer(H1Op::kReceiveReadData, {.statusWord = 2});

  EXPECT_EQ(Run(kWrite, &block), 1);

  EXPECT_EQ(H1().CountOf(H1Op::kSendWriteRequest), 0);
  // The exchange that failed is a read, but the host asked for a write.
  EXPECT_EQ(fake::LogTexts(), (std::vector<std::string>{"TavSH1: Write Tag TAG1 Failed, rc=0,2"}));
}

// One read exchange, scripted call by call. Unscripted calls answer 0 with status word 0, and
// every receive delivers data.
struct ReadScenario {
  const char* name;
  uint8_t plcType;
  int32_t budget;
  std::vector<uint16_t> sends;                          // results of send read request
  std::vector<std::pair<uint16_t, uint16_t>> receives;  // result and status word of each receive
  int32_t result;
  int sendCalls;
  int receiveCalls;
  std::vector<uint32_t> sleeps;
  std::vector<std::string> log;
};

template <typename T>
std::vector<T> Repeat(int n, std::vector<T> pattern, std::vector<T> then = {}) {
  std::vector<T> all;
  for (int i = 0; i < n; ++i) all.insert(all.end(), pattern.begin(), pattern.end());
  all.insert(all.end(), then.begin(), then.end());
  return all;
}

std::string Failed(const char* what, int status, int statusWord) {
  return std::string("TavSH1: ") + what + " Tag TAG1 Failed, rc=" + std::to_string(status) + "," +
         std::to_string(statusWord);
}

TEST_F(BlockTransferTest, ReadRetriesAndPollsExactlyAsScripted) {
  using U = uint16_t;
  using U32 = uint32_t;
  using W = std::pair<uint16_t, uint16_t>;
  const auto failed = [](int status, int word) { return Failed("Read", status, word); };
  const ReadScenario scenarios[] = {
      {"answered at once", 7, 1000, {}, {}, 0, 1, 1, {}, {}},
      {"busy 21 times on S7", 7, 1000, Repeat<U>(21, {3}), {}, 2, 21, 0, Repeat<U32>(20, {10}), {}},
      {"busy 21 times on type 5",
       5,
       1000,
       Repeat<U>(21, {3}),
       {},
       2,
       21,
       0,
       Repeat<U32>(20, {10, 40}),
       {}},
      {"busy 21 times on type 6",
       6,
       1000,
       Repeat<U>(21, {3}),
       {},
       2,
       21,
       0,
       Repeat<U32>(20, {10}),
       {}},
      {"busy 5 times, then taken",
       5,
       1000,
       Repeat<U>(5, {3}),
       {},
       0,
       6,
       1,
       Repeat<U32>(5, {10, 40}),
       {}},
      {"busy, other refusals, then taken",
       7,
       1000,
       {3, 5, 5},
       {},
       0,
       4,
       1,
       Repeat<U32>(3, {10}),
       {}},
      {"busy, then refused to the end",
       7,
       1000,
       Repeat<U>(1, {3}, Repeat<U>(20, {5})),
       {},
       2,
       21,
       0,
       Repeat<U32>(20, {10}),
       {}},
      {"busy, then 14 to the end",
       7,
       1000,
       Repeat<U>(1, {3}, Repeat<U>(20, {14})),
       {},
       1,
       21,
       1,
       Repeat<U32>(20, {10}, {1}),
       {}},
      {"14: one receive, 1 ms", 5, 1000, {14}, {}, 1, 1, 1, {1}, {}},
      {"refused with 5", 7, 1000, {5}, {}, 2, 1, 0, {}, {}},
      {"waiting until the budget is spent",
       7,
       5,
       {},
       Repeat<W>(5, {{6, 0}}),
       2,
       1,
       5,
       Repeat<U32>(5, {1}),
       {failed(6, 0)}},
      {"waiting with 7, then data", 7, 1000, {}, {{7, 0}, {7, 0}}, 0, 1, 3, {1, 1}, {}},
      {"3 from receive sends again", 7, 1000, {}, {{3, 0}}, 0, 2, 2, {50}, {}},
      {"9 from receive sends again", 5, 1000, {}, {{9, 0}}, 0, 2, 2, {50}, {}},
      {"a refused re-send still polls", 7, 1000, {0, 3}, {{9, 0}}, 0, 2, 2, {50}, {}},
      {"status word 5", 7, 1000, {}, {{0, 5}}, 1, 1, 1, {}, {failed(0, 5)}},
      {"other status after waiting and re-sending",
       7,
       1000,
       {},
       {{6, 0}, {9, 0}, {4, 2}},
       1,
       2,
       3,
       {1, 50},
       {failed(4, 2)}},
      {"budget spent on re-sends", 7, 2, {}, {{9, 0}, {9, 0}}, 2, 3, 2, {50, 50}, {failed(0, 0)}},
      {"budget 0", 7, 0, {}, {}, 2, 1, 0, {}, {failed(0, 0)}},
      {"negative budget", 5, -5, {}, {}, 2, 1, 0, {}, {failed(0, 0)}},
  };
  for (const ReadScenario& scenario : scenarios) {
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
      return fake::H1Answer{.data = {0x12, 0x34}};
    });
    uint8_t host[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
    TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 1, host);

    EXPECT_EQ(Run(kRead, &block), scenario.result);

    EXPECT_EQ(H1().CountOf(H1Op::kSendReadRequest), scenario.sendCalls);
    EXPECT_EQ(H1().CountOf(H1Op::kReceiveReadData), scenario.receiveCalls);
    EXPECT_EQ(fake::Sleeps(), scenario.sleeps);
    EXPECT_EQ(fake::LogTexts(), scenario.log);
    for (const fake::LogLine& line : fake::LogLines()) {
      EXPECT_EQ(line.level, 32);
      EXPECT_EQ(line.format, "TavSH1: Read Tag %s Failed, rc=%d,%d");
    }
    const bool s7 = scenario.plcType == kPlcTypeS7;
    const Bytes written(host, host + 4);
    if (scenario.result == 0) {
      EXPECT_EQ(written, s7 ? (Bytes{0x34, 0x12, kSentinel, kSentinel})
                            : (Bytes{0x12, 0x34, kSentinel, kSentinel}));
    } else {
      EXPECT_EQ(written, Bytes(4, kSentinel)) << "the host's array was written";
    }
    // Every request the same; every receive on the read connection into the whole buffer.
    for (const RequestFields& request : RequestsOf(H1Op::kSendReadRequest)) {
      EXPECT_EQ(request, (RequestFields{kReadConnection, 1, 1, 0, uint16_t(s7 ? 2 : 1)}));
    }
    for (const fake::H1Call& receive : H1().CallsOf(H1Op::kReceiveReadData)) {
      EXPECT_EQ(receive.connection, kReadConnection);
      EXPECT_EQ(receive.argument, 10'000u);
    }
  }
}

TEST_F(BlockTransferTest, ReadingAStationWithoutConnectionFailsWithTwoAndCallsNothing) {
  Connect(kPlc, kPlcTypeS5).readConnection = 0;
  uint8_t host[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
  TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 2, host);

  EXPECT_EQ(Run(kRead, &block), 2);

  EXPECT_TRUE(H1().Calls().empty());
  EXPECT_TRUE(fake::LogLines().empty());
  EXPECT_EQ(Bytes(host, host + 4), Bytes(4, kSentinel));
}

TEST_F(BlockTransferTest, WritesOverTheWriteConnectionWhereThereIsOne) {
  struct Row {
    const char* name;
    uint8_t plcType;
    uint16_t readConnection, writeConnection, used;
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

    ASSERT_EQ(Run(kWrite, &block), 0);

    ASSERT_EQ(RequestsOf(H1Op::kSendWriteRequest).size(), 1u);
    EXPECT_EQ(RequestsOf(H1Op::kSendWriteRequest)[0].connection, row.used);
    ASSERT_EQ(H1().CountOf(H1Op::kReceiveWriteAcknowledge), 1);
    EXPECT_EQ(H1().CallsOf(H1Op::kReceiveWriteAcknowledge)[0].connection, row.used);
  }
}

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

TEST_F(BlockTransferTest, WritePollsForTheAcknowledgementExactlyAsScripted) {
  const auto failed = [](int status, int word) { return Failed("Write", status, word); };
  const WriteScenario scenarios[] = {
      {"acknowledged at once", 1000, 0, {}, 0, 1, {}, {}},
      {"a failed send shows only in the acknowledgement", 1000, 5, {}, 0, 1, {}, {}},
      // A send the library did not take has no acknowledgement of its own: the one pending on the
      // connection would be an earlier write's.
      {"send busy: not repeated, nothing polled, 2", 1000, 3, {{0, 0}}, 2, 0, {}, {failed(3, 0)}},
      {"send lost: the same", 1000, 9, {{0, 0}}, 2, 0, {}, {failed(9, 0)}},
      {"waiting with 6 and 7, then acknowledged", 1000, 0, {{6, 0}, {7, 0}}, 0, 3, {1, 1}, {}},
      {"3: not repeated, 2", 1000, 0, {{3, 0}}, 2, 1, {}, {failed(3, 0)}},
      {"9: not repeated, 2", 1000, 0, {{9, 4}}, 2, 1, {}, {failed(9, 4)}},
      {"5: 1", 1000, 0, {{5, 0}}, 1, 1, {}, {failed(5, 0)}},
      {"status word 7: 1", 1000, 0, {{0, 7}}, 1, 1, {}, {failed(0, 7)}},
      {"waiting until the budget is spent",
       4,
       0,
       Repeat<std::pair<uint16_t, uint16_t>>(4, {{6, 0}}),
       2,
       4,
       {1, 1, 1, 1},
       {failed(6, 0)}},
      {"budget 0", 0, 0, {}, 2, 0, {}, {failed(0, 0)}},
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

    EXPECT_EQ(Run(kWrite, &block), scenario.result);

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

// A TransferBlock that breaks one limit; or, in kLimitRows, that keeps just inside them.
struct LimitRow {
  const char* name;
  uint8_t plcType;
  int32_t plc;
  uint32_t code;
  uint32_t packedAddress;
  int32_t count;
  bool nullData = false;
};

constexpr LimitRow kBrokenRows[] = {
    {"PLC -1", 7, -1, kAreaDataWord, 0, 1},
    {"PLC 99", 7, 99, kAreaDataWord, 0, 1},
    {"PLC INT32_MIN", 7, INT32_MIN, kAreaDataWord, 0, 1},
    {"negative count", 7, kPlc, kAreaDataWord, 0, -1},
    {"most negative count", 5, kPlc, kAreaDataDouble, 0, INT32_MIN},
    {"negative count of a string", 7, kPlc, kAreaString, StringAddress(5, 4, 10), -1},
    {"null data", 7, kPlc, kAreaDataWord, 0, 1, true},
    {"unknown kind 'Z'", 7, kPlc, 'Z', 0, 1},
    {"unknown kind 2", 5, kPlc, 2, 0, 1},
    {"unknown kind 0xFF with a known second byte", 7, kPlc, 0x57FF, 4, 1},
    {"S7 words beyond the TransferBuffer", 7, kPlc, kAreaDataWord, 0, 5001},
    {"S5 double words beyond it", 5, kPlc, kAreaDataDouble, 0, 2501},
    {"type 6 bytes, which travel as words", 6, kPlc, kAreaDataByte, 0, 5001},
    {"S5 input words beyond it", 5, kPlc, kAreaInputWords, 0, 5001},
    {"S7 flag bytes beyond it", 7, kPlc, kAreaFlagBytes, 0, 10001},
    {"huge count", 7, kPlc, kAreaDataFloat, 0, INT32_MAX},
    {"S7 word start beyond 16 bits", 7, kPlc, kAreaDataWord, 0x8000, 1},
    {"S7 odd double word start beyond 16 bits", 7, kPlc, kAreaDataDoubleOdd, 0x4000, 1},
    {"S5 odd float start beyond 16 bits", 5, kPlc, kAreaDataFloatOdd, 0xFFFF, 1},
    {"S7 flag word start beyond 16 bits", 7, kPlc, kAreaFlagWords, 0xFFFF, 1},
};

constexpr LimitRow kLimitRows[] = {
    {"S7 words filling the TransferBuffer", 7, kPlc, kAreaDataWord, 0, 5000},
    {"S5 double words filling it", 5, kPlc, kAreaDataDouble, 0, 2500},
    {"S7 bytes filling it", 7, kPlc, kAreaInputBytes, 0, 10000},
    {"S7 odd double word at the top", 7, kPlc, kAreaDataDoubleOdd, 0x3FFF, 1},
    {"S5 word at the top", 5, kPlc, kAreaDataWord, 0xFFFF, 1},
    {"PLC 0", 7, 0, kAreaDataWord, 0, 1},
    {"PLC 98", 7, 98, kAreaDataWord, 0, 1},
};

TEST_F(BlockTransferTest, RefusesBrokenTransferBlocksBeforeTouchingAnything) {
  for (const LimitRow& row : kBrokenRows) {
    for (CommandCode command : {kRead, kWrite}) {
      SCOPED_TRACE(testing::Message() << row.name << ", command " << command);
      Fresh();
      Connect(kPlc, row.plcType);
      std::memset(instance().transferBuffer, 0x5A, sizeof instance().transferBuffer);
      Bytes host(64, kSentinel);
      TransferBlock block = Block(row.plc, row.code, row.packedAddress, row.count,
                                  row.nullData ? nullptr : host.data());
      const TransferBlock before = block;

      EXPECT_EQ(Run(command, &block), 1);

      EXPECT_TRUE(H1().Calls().empty());
      EXPECT_EQ(host, Bytes(64, kSentinel));
      EXPECT_EQ(Bytes(std::begin(instance().transferBuffer), std::end(instance().transferBuffer)),
                Bytes(kTransferBufferSize, 0x5A));
      EXPECT_EQ(std::memcmp(&block, &before, sizeof block), 0);
      ASSERT_EQ(fake::LogLines().size(), 1u);
      EXPECT_EQ(fake::LogLines()[0].level, 32);
      const std::string prefix =
          std::string("TavSH1: ") + (command == kRead ? "Read" : "Write") + " Tag TAG1 Refused, ";
      EXPECT_TRUE(fake::LogLines()[0].text.starts_with(prefix)) << fake::LogLines()[0].text;
    }
  }
  for (const LimitRow& row : kLimitRows) {
    for (CommandCode command : {kRead, kWrite}) {
      SCOPED_TRACE(testing::Message() << row.name << ", command " << command);
      Fresh();
      Connect(row.plc, row.plcType);
      Bytes host(20'000, kSentinel);
      TransferBlock block = Block(row.plc, row.code, row.packedAddress, row.count, host.data());

      EXPECT_EQ(Run(command, &block), 0);
      EXPECT_EQ(H1().Calls().size(), 2u);
    }
  }
}

// What a host reads of the transfer sizes (vocabulary/area_rules.h) is where the driver draws the
// line: the most elements it gives pass, one more is too long for the TransferBuffer.
TEST_F(BlockTransferTest, TheMostElementsAHostIsToldOfFitAndNoMore) {
  for (const AreaKindInfo& area : kAreaKinds) {
    if (area.element == ElementKind::kString) continue;
    for (const uint8_t plcType : {uint8_t{5}, uint8_t{6}, uint8_t{7}}) {
      const auto most =
          static_cast<int32_t>(kTransferBufferSize / TransferBytesPerElement(area.code, plcType));
      for (const int32_t count : {most, most + 1}) {
        SCOPED_TRACE(testing::Message() << area.code << " type " << int{plcType} << " " << count);
        Fresh();
        Connect(kPlc, plcType);
        Bytes host(40'000, kSentinel);
        TransferBlock block = Block(kPlc, area.code, 0, count, host.data());
        EXPECT_EQ(Run(kRead, &block), count == most ? 0 : 1);
      }
    }
  }
}

TEST_F(BlockTransferTest, MissingRecordsAndTagNames) {
  uint16_t word = 0;
  TransferBlock block = Block(kPlc, kAreaDataWord, 0, 1, &word);
  Request noInstance = MakeRequest(nullptr, kRead, &block);
  EXPECT_EQ(TavMain(&noInstance), 1);
  EXPECT_EQ(Run(kWrite, nullptr), 1);
  EXPECT_TRUE(H1().Calls().empty());

  // A null tag name prints as an empty text.
  Connect(kPlc, kPlcTypeS7);
  H1().Answer(H1Op::kReceiveReadData, {.result = 0, .statusWord = 5});
  block.tagName = nullptr;
  EXPECT_EQ(Run(kRead, &block), 1);

  EXPECT_EQ(fake::LogTexts(),
            (std::vector<std::string>{"TavSH1: Read Tag TAG1 Refused, no driver instance",
                                      "TavSH1: Write Tag  Refused, no TransferBlock",
                                      "TavSH1: Read Tag  Failed, rc=0,5"}));
}

}  // namespace
}  // namespace tav::test
