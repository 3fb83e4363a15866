#include "sim/network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/h1_codes.h"

namespace tav::sim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::string_view kS7Address = "0A0B0C010201";
constexpr std::string_view kS5Address = "0A0B0C010203";
constexpr std::string_view kType6Address = "0A0B0C010205";
constexpr std::string_view kNobody = "0A0B0C0102FF";
constexpr uint16_t kDb = static_cast<uint16_t>(AreaKind::kDataBlock);

// Connect records as the driver builds them.
ConnectRecord Record(std::string_view address) {
  ConnectRecord record{};
  record.recordType = 8;
  record.recordVersion = 1;
  record.addressLength = 6;
  const EthernetAddress bytes = ParseEthernetAddress(address).value();
  std::copy(bytes.begin(), bytes.end(), record.ethernetAddress);
  return record;
}

ConnectRecord S5Record(std::string_view address, std::string_view ltsap, std::string_view rtsap) {
  ConnectRecord record = Record(address);
  record.remoteTsapLength = 8;
  std::copy(rtsap.begin(), rtsap.end(), record.remoteTsap);
  record.localTsapLength = 8;
  std::copy(ltsap.begin(), ltsap.end(), record.localTsap);
  return record;
}

ConnectRecord S7Record(std::string_view address, uint8_t slot, uint8_t head = 0x03) {
  ConnectRecord record = Record(address);
  record.remoteTsapLength = 2;
  record.remoteTsap[0] = head;
  record.remoteTsap[1] = slot;
  record.localTsapLength = 2;
  record.localTsap[0] = 1;
  record.localTsap[1] = 1;
  return record;
}

class NetworkTest : public ::testing::Test {
 protected:
  NetworkTest()
      : s7_(network_.Add(S7Station(kS7Address, 2))),
        s5_(network_.Add(S5Station(kS5Address))),
        type6_(network_.Add(Type6Station(kType6Address, 2))) {
    for (Station* station : {&s7_, &s5_, &type6_}) station->AddBlock(DataBlock(10), 64);
    EXPECT_EQ(network_.OpenDriver(), h1::kOk);
  }

  uint16_t Open(ConnectRecord& record, Operation operation) {
    return operation == Operation::kOpenS5Connection ? network_.OpenS5Connection(&record)
                                                     : network_.OpenS7Connection(&record);
  }

  // Opens and polls until the connection is up; 0 when it does not come up in 100 polls.
  uint16_t Connect(ConnectRecord record, Operation operation) {
    if (Open(record, operation) != h1::kOk) return 0;
    for (int poll = 0; poll < 100; ++poll) {
      if (network_.ConnectionStateOf(record.connection) == h1::kOk) return record.connection;
    }
    return 0;
  }
  uint16_t ConnectS7() { return Connect(S7Record(kS7Address, 2), Operation::kOpenS7Connection); }
  uint16_t ConnectS5() {
    return Connect(S5Record(kS5Address, "KORVAL", "KORREAD"), Operation::kOpenS5Connection);
  }

  // One read, polled until answered: {result, status word, data}.
  struct ReadAnswer {
    uint16_t result;
    uint16_t statusWord;
    Bytes data;
  };
  ReadAnswer Read(RequestRecord request, size_t bytes) {
    Bytes buffer(kTransferBufferSize, 0xEE);
    uint16_t statusWord = 0xFFFF;
    const uint16_t sent = network_.SendReadRequest(&request);
    if (sent != h1::kOk) return {sent, statusWord, {}};
    uint16_t result = h1::kNoData;
    for (int poll = 0; poll < 100 && result == h1::kNoData; ++poll) {
      result = network_.ReceiveReadData(static_cast<uint32_t>(buffer.size()), buffer.data(),
                                        &statusWord, request.connection);
    }
    return {result, statusWord, Bytes(buffer.begin(), buffer.begin() + bytes)};
  }

  Network network_;
  Station& s7_;
  Station& s5_;
  Station& type6_;
};

TEST_F(NetworkTest, AcceptsAConnectionOnlyByTheStationsOwnTsaps) {
  struct Case {
    const char* what;
    ConnectRecord record;
    Operation operation;
    bool accepted;
    ConnectionRole role;
  };
  constexpr auto kS5 = Operation::kOpenS5Connection;
  constexpr auto kS7 = Operation::kOpenS7Connection;
  const Case cases[] = {
      {"S7 by its slot", S7Record(kS7Address, 2), kS7, true, ConnectionRole::kS7},
      {"S7 by another slot", S7Record(kS7Address, 3), kS7, false, ConnectionRole::kS7},
      {"S7 without TSAP 0x03", S7Record(kS7Address, 2, 0x02), kS7, false, ConnectionRole::kS7},
      {"S7 through the S5 open", S5Record(kS7Address, "KORVAL", "KORREAD"), kS5, false,
       ConnectionRole::kRead},
      {"type 6 by its slot", S7Record(kType6Address, 2), kS7, true, ConnectionRole::kS7},
      {"S5 read pair", S5Record(kS5Address, "KORVAL", "KORREAD"), kS5, true, ConnectionRole::kRead},
      {"S5 write pair", S5Record(kS5Address, "KORVAL", "KORWRITE"), kS5, true,
       ConnectionRole::kWrite},
      {"S5 pair padded with blanks", S5Record(kS5Address, "KORVAL  ", "KORREAD "), kS5, true,
       ConnectionRole::kRead},
      {"S5 with another local TSAP", S5Record(kS5Address, "KORVAX", "KORREAD"), kS5, false,
       ConnectionRole::kRead},
      {"S5 with another remote TSAP", S5Record(kS5Address, "KORVAL", "KORREAX"), kS5, false,
       ConnectionRole::kRead},
      {"S5 through the S7 open", S7Record(kS5Address, 2), kS7, false, ConnectionRole::kS7},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Open(c.record, c.operation), h1::kOk);
    ASSERT_NE(c.record.connection, 0);
    EXPECT_EQ(c.record.statusWord, c.accepted ? h1::kStatusGood : h1::kConnectSettingUp);
    EXPECT_EQ(network_.ConnectionStateOf(c.record.connection),
              c.accepted ? h1::kOk : h1::kRejected);
    const Connection* connection = network_.FindConnection(c.record.connection);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->role, c.role);
  }
}

TEST_F(NetworkTest, ComesUpAfterTheConfiguredPolls) {
  s7_.behaviour().pollsBeforeEstablished = 3;
  ConnectRecord record = S7Record(kS7Address, 2);
  ASSERT_EQ(network_.OpenS7Connection(&record), h1::kOk);
  EXPECT_EQ(record.statusWord, h1::kConnectSettingUp);
  std::vector<uint16_t> polls;
  for (int i = 0; i < 5; ++i) polls.push_back(network_.ConnectionStateOf(record.connection));
  EXPECT_EQ(polls, (std::vector<uint16_t>{4, 4, 4, 0, 0}));
  EXPECT_EQ(network_.FindConnection(record.connection)->state, ConnectionState::kEstablished);
}

TEST_F(NetworkTest, UnreachableStationsAndUnknownAddressesNeverComeUp) {
  s5_.behaviour().reachable = false;
  ConnectRecord toS5 = S5Record(kS5Address, "KORVAL", "KORREAD");
  ConnectRecord toNobody = S7Record(kNobody, 2);
  ASSERT_EQ(network_.OpenS5Connection(&toS5), h1::kOk);
  ASSERT_EQ(network_.OpenS7Connection(&toNobody), h1::kOk);
  EXPECT_EQ(toNobody.statusWord, h1::kConnectSettingUp);
  for (int poll = 0; poll < 200; ++poll) {
    ASSERT_EQ(network_.ConnectionStateOf(toS5.connection), h1::kNotEstablished);
    ASSERT_EQ(network_.ConnectionStateOf(toNobody.connection), h1::kNotEstablished);
  }
  EXPECT_EQ(network_.StationOf(*network_.FindConnection(toNobody.connection)), nullptr);

  // Switched on, the station answers the next poll.
  s5_.behaviour().reachable = true;
  EXPECT_EQ(network_.ConnectionStateOf(toS5.connection), h1::kOk);
}

TEST_F(NetworkTest, RefusesConnectsWithTheChosenResultOrStatusWord) {
  struct Case {
    const char* what;
    uint16_t refuseResult;
    uint16_t refuseStatus;
  };
  for (const Case& c :
       {Case{"result", 7, 0}, Case{"result and status", 7, 0x42}, Case{"status word", 0, 0x42}}) {
    SCOPED_TRACE(c.what);
    s7_.behaviour().refuseResult = c.refuseResult;
    s7_.behaviour().refuseStatus = c.refuseStatus;
    ConnectRecord record = S7Record(kS7Address, 2);
    record.connection = 0x1234;  // what the caller left there stays
    EXPECT_EQ(network_.OpenS7Connection(&record), c.refuseResult);
    EXPECT_EQ(record.statusWord, c.refuseStatus);
    EXPECT_EQ(record.connection, 0x1234);
    EXPECT_TRUE(network_.connections().empty());
  }
}

TEST_F(NetworkTest, HandsOutDistinctNonZeroIdentifiers) {
  std::vector<uint16_t> ids;
  for (int i = 0; i < 6; ++i) ids.push_back(ConnectS7());
  ASSERT_EQ(network_.ReleaseConnection(ids[2]), h1::kOk);
  ids.push_back(ConnectS7());
  std::vector<uint16_t> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0), 0);
  EXPECT_EQ(network_.connections().size(), 6u);
}

TEST_F(NetworkTest, RestartBringsABrokenConnectionBack) {
  const uint16_t id = ConnectS7();
  ASSERT_NE(id, 0);
  network_.Drop(s7_);
  EXPECT_EQ(network_.ConnectionStateOf(id), h1::kConnectionBroken);
  EXPECT_EQ(Read({id, kDb, 10, 0, 2}, 2).result, h1::kConnectionBroken);

  s7_.behaviour().pollsBeforeEstablished = 1;
  ASSERT_EQ(network_.RestartConnection(id), h1::kOk);
  EXPECT_EQ(Read({id, kDb, 10, 0, 2}, 2).result, h1::kNotEstablished);
  EXPECT_EQ(network_.ConnectionStateOf(id), h1::kNotEstablished);
  EXPECT_EQ(network_.ConnectionStateOf(id), h1::kOk);
  EXPECT_EQ(Read({id, kDb, 10, 0, 2}, 2).result, h1::kOk);
}

TEST_F(NetworkTest, DropsAConnectionAfterTheConfiguredExchanges) {
  s5_.behaviour().dropAfterExchanges = 2;
  const uint16_t id = ConnectS5();
  EXPECT_EQ(Read({id, kDb, 10, 0, 1}, 2).result, h1::kOk);
  EXPECT_EQ(Read({id, kDb, 10, 0, 1}, 2).result, h1::kOk);
  EXPECT_EQ(Read({id, kDb, 10, 0, 1}, 2).result, h1::kConnectionBroken);
  ASSERT_EQ(network_.RestartConnection(id), h1::kOk);
  EXPECT_EQ(Read({id, kDb, 10, 0, 1}, 2).result, h1::kOk);
}

TEST_F(NetworkTest, ReleaseAndCloseEndConnections) {
  const uint16_t first = ConnectS7();
  const uint16_t second = ConnectS5();
  EXPECT_EQ(network_.ReleaseConnection(first), h1::kOk);
  EXPECT_EQ(network_.ConnectionStateOf(first), h1::kUnknownConnection);
  EXPECT_EQ(network_.ReleaseConnection(first), h1::kUnknownConnection);
  EXPECT_EQ(network_.ReleaseConnection(0), h1::kUnknownConnection);
  EXPECT_EQ(network_.RestartConnection(0), h1::kUnknownConnection);
  EXPECT_EQ(network_.ConnectionStateOf(0), h1::kUnknownConnection);

  EXPECT_EQ(network_.CloseDriver(), h1::kOk);
  EXPECT_FALSE(network_.isOpen());
  EXPECT_TRUE(network_.connections().empty());
  EXPECT_EQ(network_.ConnectionStateOf(second), h1::kDriverNotOpen);
  EXPECT_EQ(network_.OpenDriver(), h1::kOk);
  EXPECT_EQ(network_.ConnectionStateOf(second), h1::kUnknownConnection);
}

TEST_F(NetworkTest, NothingWorksBeforeTheDriverIsOpen) {
  Network closed;
  closed.Add(S7Station(kS7Address));
  ConnectRecord record = S7Record(kS7Address, 2);
  EXPECT_EQ(closed.OpenS7Connection(&record), h1::kDriverNotOpen);
  EXPECT_EQ(record.connection, 0);

  closed.settings.openDriverResult = 21;
  EXPECT_EQ(closed.OpenDriver(), 21);
  EXPECT_FALSE(closed.isOpen());
  closed.Inject(Operation::kOpenDriver, {.result = 22});
  closed.settings.openDriverResult = 0;
  EXPECT_EQ(closed.OpenDriver(), 22);
  EXPECT_EQ(closed.OpenDriver(), h1::kOk);
  EXPECT_EQ(closed.CallCount(Operation::kOpenDriver), 3);
}

TEST_F(NetworkTest, NullPointersAreRefused) {
  uint16_t statusWord = 0;
  uint8_t buffer[4] = {};
  EXPECT_EQ(network_.OpenS5Connection(nullptr), h1::kBadArgument);
  EXPECT_EQ(network_.OpenS7Connection(nullptr), h1::kBadArgument);
  EXPECT_EQ(network_.SendReadRequest(nullptr), h1::kBadArgument);
  EXPECT_EQ(network_.SendWriteRequest(nullptr, buffer), h1::kBadArgument);
  EXPECT_EQ(network_.ReceiveReadData(4, nullptr, &statusWord, 1), h1::kBadArgument);
  EXPECT_EQ(network_.ReceiveReadData(4, buffer, nullptr, 1), h1::kBadArgument);
  EXPECT_EQ(network_.ReceiveWriteAcknowledge(nullptr, 1), h1::kBadArgument);

  const uint16_t id = ConnectS7();
  const RequestRecord write{id, kDb, 10, 0, 2};
  EXPECT_EQ(network_.SendWriteRequest(&write, nullptr), h1::kBadArgument);
}

TEST_F(NetworkTest, ReadAnswersAfterTheResponsePolls) {
  s7_.behaviour().pollsBeforeResponse = 2;
  ASSERT_TRUE(s7_.PutWord(DataBlock(10), 4, 0x1234));
  const uint16_t id = ConnectS7();
  const RequestRecord request{id, kDb, 10, 4, 2};
  ASSERT_EQ(network_.SendReadRequest(&request), h1::kOk);

  Bytes buffer(kTransferBufferSize);
  uint16_t statusWord = 0xFFFF;
  std::vector<uint16_t> results;
  for (int i = 0; i < 4; ++i) {
    results.push_back(
        network_.ReceiveReadData(kTransferBufferSize, buffer.data(), &statusWord, id));
  }
  EXPECT_EQ(results, (std::vector<uint16_t>{h1::kNoData, h1::kNoData, h1::kOk, h1::kNoRequest}));
  EXPECT_EQ(statusWord, h1::kStatusGood);
  EXPECT_EQ(buffer[0], 0x12);
  EXPECT_EQ(buffer[1], 0x34);

  ASSERT_EQ(network_.exchanges().size(), 1u);
  const Exchange& exchange = network_.exchanges()[0];
  EXPECT_FALSE(exchange.write);
  EXPECT_EQ(exchange.connection, id);
  EXPECT_EQ(exchange.request.start, 4);
  EXPECT_EQ(exchange.data, (Bytes{0x12, 0x34}));
}

TEST_F(NetworkTest, WriteTakesItsDataWhenSentAndStoresItWhenAcknowledged) {
  s5_.behaviour().pollsBeforeResponse = 1;
  const uint16_t id = ConnectS5();
  const RequestRecord request{id, kDb, 10, 3, 2};
  Bytes buffer(kTransferBufferSize, 0);
  buffer[0] = 0x34;  // two S5 words in host order: 0x1234, 0x5678
  buffer[1] = 0x12;
  buffer[2] = 0x78;
  buffer[3] = 0x56;
  ASSERT_EQ(network_.SendWriteRequest(&request, buffer.data()), h1::kOk);
  std::fill(buffer.begin(), buffer.end(), 0xEE);

  uint16_t statusWord = 0xFFFF;
  EXPECT_EQ(network_.ReceiveWriteAcknowledge(&statusWord, id), h1::kNoData);
  EXPECT_EQ(s5_.Word(DataBlock(10), 3), 0);
  EXPECT_EQ(network_.ReceiveWriteAcknowledge(&statusWord, id), h1::kOk);
  EXPECT_EQ(statusWord, h1::kStatusGood);
  EXPECT_EQ(s5_.DWord(DataBlock(10), 3), 0x1234'5678u);
  ASSERT_EQ(network_.exchanges().size(), 1u);
  EXPECT_TRUE(network_.exchanges()[0].write);
  EXPECT_EQ(network_.exchanges()[0].data, (Bytes{0x34, 0x12, 0x78, 0x56}));
}

TEST_F(NetworkTest, AnswersRequestsOutsideTheAreasWithAStatusWord) {
  const uint16_t id = ConnectS5();
  const ReadAnswer noBlock = Read({id, kDb, 11, 0, 1}, 2);
  EXPECT_EQ(noBlock.result, h1::kOk);
  EXPECT_EQ(noBlock.statusWord, h1::kStatusNoSuchArea);
  EXPECT_EQ(noBlock.data, (Bytes{0xEE, 0xEE}));

  // 6,000 S5 words do not fit the 10,000-byte buffer: the write is refused, not read past it.
  Bytes buffer(kTransferBufferSize, 0x55);
  s5_.AddBlock(DataBlock(20), 6000);
  const RequestRecord tooLong{id, kDb, 20, 0, 6000};
  ASSERT_EQ(network_.SendWriteRequest(&tooLong, buffer.data()), h1::kOk);
  uint16_t statusWord = 0;
  EXPECT_EQ(network_.ReceiveWriteAcknowledge(&statusWord, id), h1::kOk);
  EXPECT_EQ(statusWord, h1::kStatusTooLong);
  EXPECT_EQ(s5_.Word(DataBlock(20), 0), 0);
}

TEST_F(NetworkTest, ExchangesNeedAnEstablishedConnection) {
  s7_.behaviour().pollsBeforeEstablished = 5;
  ConnectRecord record = S7Record(kS7Address, 2);
  ASSERT_EQ(network_.OpenS7Connection(&record), h1::kOk);
  const RequestRecord request{record.connection, kDb, 10, 0, 2};
  uint16_t statusWord = 0;
  EXPECT_EQ(network_.SendReadRequest(&request), h1::kNotEstablished);
  EXPECT_EQ(network_.SendWriteRequest(&request, &statusWord), h1::kNotEstablished);
  EXPECT_EQ(network_.ReceiveWriteAcknowledge(&statusWord, record.connection), h1::kNotEstablished);
  const RequestRecord unknown{999, kDb, 10, 0, 2};
  EXPECT_EQ(network_.SendReadRequest(&unknown), h1::kUnknownConnection);
  EXPECT_EQ(network_.ReceiveWriteAcknowledge(&statusWord, 999), h1::kUnknownConnection);
}

// Faults answer in place of the operation, in order, each after its own `after` calls.
TEST_F(NetworkTest, SendFaultsAnswerInsteadOfTakingTheRequest) {
  const uint16_t id = ConnectS7();
  s7_.Inject(Operation::kSendReadRequest, {.result = h1::kBusy, .times = 2})
      .Inject(Operation::kSendReadRequest, {.result = h1::kAborted});
  const RequestRecord request{id, kDb, 10, 0, 2};
  std::vector<uint16_t> results;
  for (int i = 0; i < 4; ++i) results.push_back(network_.SendReadRequest(&request));
  EXPECT_EQ(results, (std::vector<uint16_t>{3, 3, 14, 0}));
  uint16_t statusWord = 0;
  Bytes buffer(16);
  EXPECT_EQ(network_.ReceiveReadData(16, buffer.data(), &statusWord, id), h1::kOk);

  // An aborted request leaves nothing pending.
  s7_.Inject(Operation::kSendReadRequest, {.result = h1::kAborted});
  EXPECT_EQ(network_.SendReadRequest(&request), h1::kAborted);
  EXPECT_EQ(network_.ReceiveReadData(16, buffer.data(), &statusWord, id), h1::kNoRequest);
}

TEST_F(NetworkTest, ReceiveFaultsKeepOrEndThePendingRequest) {
  struct Case {
    const char* what;
    Fault fault;
    std::vector<uint16_t> results;  // receive read data, called until nothing is pending
  };
  const Case cases[] = {
      {"no data yet keeps it", {.result = h1::kNoData, .times = 2}, {6, 6, 0, 8}},
      {"arriving keeps it", {.result = h1::kReceiving}, {7, 0, 8}},
      {"lost ends it", {.result = h1::kRequestLost}, {9, 8}},
      {"busy ends it", {.result = h1::kBusy}, {3, 8}},
      {"a status word ends it", {.result = 0, .statusWord = 0x77}, {0, 8}},
      {"after one call, whatever is pending", {.result = h1::kNoData, .after = 1}, {0, 6, 8}},
  };
  const uint16_t id = ConnectS7();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    s7_.faults().Clear();
    s7_.Inject(Operation::kReceiveReadData, c.fault);
    const RequestRecord request{id, kDb, 10, 0, 2};
    ASSERT_EQ(network_.SendReadRequest(&request), h1::kOk);
    std::vector<uint16_t> results;
    uint16_t statusWord = 0;
    Bytes buffer(16);
    for (int i = 0; i < 5; ++i) {
      results.push_back(network_.ReceiveReadData(16, buffer.data(), &statusWord, id));
      if (results.back() == h1::kNoRequest) break;
    }
    EXPECT_EQ(results, c.results);
  }
  // The refusal's status word reaches the caller.
  s7_.Inject(Operation::kReceiveReadData, {.result = 0, .statusWord = 0x77});
  EXPECT_EQ(Read({id, kDb, 10, 0, 2}, 2).statusWord, 0x77);
}

TEST_F(NetworkTest, AcknowledgeFaultsEndTheWriteWithoutStoringIt) {
  const uint16_t id = ConnectS7();
  s7_.Inject(Operation::kReceiveWriteAcknowledge, {.result = h1::kRequestLost});
  const RequestRecord request{id, kDb, 10, 0, 2};
  const Bytes data{0x12, 0x34};
  ASSERT_EQ(network_.SendWriteRequest(&request, data.data()), h1::kOk);
  uint16_t statusWord = 0;
  EXPECT_EQ(network_.ReceiveWriteAcknowledge(&statusWord, id), h1::kRequestLost);
  EXPECT_EQ(network_.ReceiveWriteAcknowledge(&statusWord, id), h1::kNoRequest);
  EXPECT_EQ(s7_.Word(DataBlock(10), 0), 0);
}

// The driver opens an S5 write connection with the read connection's record, whose identifier
// field still holds the read connection: a refused second open leaves it there.
TEST_F(NetworkTest, ARefusedSecondOpenLeavesTheFirstIdentifierInTheRecord) {
  s5_.Inject(Operation::kOpenS5Connection, {.result = 0, .statusWord = 0x0F, .after = 1});
  ConnectRecord record = S5Record(kS5Address, "KORVAL", "KORREAD");
  ASSERT_EQ(network_.OpenS5Connection(&record), h1::kOk);
  const uint16_t readConnection = record.connection;
  std::fill(std::begin(record.remoteTsap), std::end(record.remoteTsap), 0);
  std::copy_n("KORWRITE", 8, record.remoteTsap);
  EXPECT_EQ(network_.OpenS5Connection(&record), h1::kOk);
  EXPECT_EQ(record.statusWord, 0x0F);
  EXPECT_EQ(record.connection, readConnection);
  EXPECT_EQ(network_.connections().size(), 1u);
}

TEST_F(NetworkTest, ConnectionStateFaultsHideTheRealState) {
  const uint16_t id = ConnectS7();
  s7_.Inject(Operation::kConnectionState, {.result = 33, .times = 2});
  EXPECT_EQ(network_.ConnectionStateOf(id), 33);
  EXPECT_EQ(network_.ConnectionStateOf(id), 33);
  EXPECT_EQ(network_.ConnectionStateOf(id), h1::kOk);
}

}  // namespace
}  // namespace tav::sim
