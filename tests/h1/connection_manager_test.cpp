#include "h1/connection_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "config/plc_table.h"
#include "support/driver_test.h"
#include "support/working_directory.h"

namespace tav {
namespace {

using fake::H1;
using fake::H1Answer;
using fake::H1Call;
using fake::H1Op;
using Ops = std::vector<H1Op>;
using Texts = std::vector<std::string>;

constexpr uint16_t kNotUp = 1;  // any connection state result but 0

class ConnectionTest : public fake::DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    ResetPlcTable(instance());
    instance().retryBudget = 100;
  }

  // Runs command 1 for driver 3 with `stationFile` as its station file.
  int32_t Initialise(const std::string& stationFile, int32_t timeout = 10) {
    directory_.Write("tavSH103.int", stationFile);
    InitBlock init{{}, 1, timeout};
    return Run(CommandCode::kInitialise, &init, 3);
  }

  int32_t Reconnect(int32_t stationNumber) {
    ReconnectBlock block{stationNumber};
    return Run(CommandCode::kReconnect, &block);
  }

  void Configure(int n, uint8_t type, const char* address) {
    station(n).plcType = type;
    std::strcpy(station(n).ethernetAddress, address);
    if (type == kPlcTypeS5) {
      std::strcpy(station(n).ltsap, "KORVAL  ");
      std::strcpy(station(n).rtsap, "KORREAD ");
      std::strcpy(station(n).wtsap, "KORWRITE");
    }
  }

  // The log without the version line and the station dumps.
  static Texts ConnectionLog() {
    Texts texts;
    for (const std::string& text : fake::LogTexts()) {
      if (text.starts_with("TavSH1: PLC #") || text.starts_with("TavSH1: ====") ||
          text.starts_with("TavSH1: Siemens Ethernet driver")) {
        continue;
      }
      texts.push_back(text);
    }
    return texts;
  }

  static std::vector<uint32_t> ConnectionsOf(H1Op op) {
    std::vector<uint32_t> connections;
    for (const H1Call& call : H1().CallsOf(op)) connections.push_back(call.connection);
    return connections;
  }

  // The connection state operation answers "up" for these identifiers only.
  static void UpAre(std::vector<uint32_t> up) {
    H1().Respond(H1Op::kConnectionState, [up](const H1Call& call) {
      const bool isUp = std::find(up.begin(), up.end(), call.connection) != up.end();
      return H1Answer{.result = isUp ? uint16_t{0} : kNotUp};
    });
  }

  fake::TemporaryWorkingDirectory directory_;
};

// ---------------------------------------------------------------------------------------------
// Initialisation

struct BudgetCase {
  int32_t timeout;
  int32_t retryBudget;
};

void PrintTo(const BudgetCase& c, std::ostream* os) {
  *os << "time-out " << c.timeout;
}

class RetryBudgetTest : public ConnectionTest, public ::testing::WithParamInterface<BudgetCase> {};

TEST_P(RetryBudgetTest, IsTenTimesTheTimeoutAndAtLeast100) {
  instance().retryBudget = -7;
  Initialise("1=7,0A0B0C010203,2\n", GetParam().timeout);
  EXPECT_EQ(instance().retryBudget, GetParam().retryBudget);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, RetryBudgetTest,
                         ::testing::Values(BudgetCase{10, 100}, BudgetCase{9, 1000},
                                           BudgetCase{0, 1000}, BudgetCase{-1, 1000},
                                           BudgetCase{INT32_MIN, 1000}, BudgetCase{11, 110},
                                           BudgetCase{100, 1000}, BudgetCase{3000, 30000},
                                           BudgetCase{214748364, 2147483640},
                                           BudgetCase{214748365, INT32_MAX},
                                           BudgetCase{INT32_MAX, INT32_MAX}));

TEST_F(ConnectionTest, InitialiseConnectsS5AndS7StationsInOrder) {
  ASSERT_EQ(Initialise("1=5,080006010203\n2=7,080006010204,3\n"), 0);

  EXPECT_EQ(H1().Sequence(),
            (Ops{H1Op::kOpenDriver, H1Op::kOpenS5Connection, H1Op::kConnectionState,
                 H1Op::kOpenS5Connection, H1Op::kConnectionState, H1Op::kOpenS7Connection,
                 H1Op::kConnectionState}));
  EXPECT_EQ(ConnectionsOf(H1Op::kConnectionState), (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(H1().CallsOf(H1Op::kOpenS7Connection)[0].argument, 0u);

  EXPECT_EQ(ConnectionLog(), (Texts{"TavSH1: Read Connection Success, Plc #1 !!! ",
                                    "TavSH1: Write Connection Success, Plc #1 !!! ",
                                    "TavSH1: Connection Success, Plc #2 !!! "}));
  EXPECT_EQ(fake::LogLines().back().format, "TavSH1: Connection Success, Plc #%d !!! ");
  for (const fake::LogLine& line : fake::LogLines()) EXPECT_EQ(line.level, 32);

  EXPECT_EQ(station(1).readConnection, 1);
  EXPECT_EQ(station(1).writeConnection, 2);
  EXPECT_EQ(station(2).readConnection, 3);
  EXPECT_EQ(station(2).writeConnection, 0);
  EXPECT_EQ(instance().activeFlag, 1);
}

TEST_F(ConnectionTest, S5WriteOpenSendsTheReadRecordWithTheWriteTsap) {
  ASSERT_EQ(Initialise("1=5,080006010203,LOCAL1,READ1,WRITE1\n"), 0);

  const std::vector<H1Call> opens = H1().CallsOf(H1Op::kOpenS5Connection);
  ASSERT_EQ(opens.size(), 2u);
  std::vector<uint8_t> expected = opens[0].record;
  std::memcpy(&expected[24], "WRITE1\0\0", 8);
  expected[74] = 1;  // the read connection's identifier, as the library wrote it
  EXPECT_EQ(opens[1].record, expected);
  EXPECT_EQ(std::string(opens[0].record.begin() + 24, opens[0].record.begin() + 29), "READ1");
}

TEST_F(ConnectionTest, InitialiseWithoutStationsOpensNothing) {
  for (const char* file : {"", "0=7,080006010203\n; only comments\n"}) {
    SCOPED_TRACE(file);
    H1().Reset();
    EXPECT_EQ(Initialise(file), 2);
    EXPECT_TRUE(H1().Calls().empty());
  }
}

TEST_F(ConnectionTest, InitialiseWithoutStationFileReturnsTwo) {
  // Driver 100000 would need a file name longer than the driver's 15 characters.
  for (int32_t driverNumber : {42, 100000}) {
    SCOPED_TRACE(driverNumber);
    fake::ClearLog();
    InitBlock init{{}, 1, 10};
    EXPECT_EQ(Run(CommandCode::kInitialise, &init, driverNumber), 2);
    EXPECT_EQ(ConnectionLog(),
              Texts{"TavSH1 : File tavSH1" + std::to_string(driverNumber) + ".int not found !"});
  }
  EXPECT_TRUE(H1().Calls().empty());
}

TEST_F(ConnectionTest, RefusedOpenDriverConnectsNothing) {
  H1().Answer(H1Op::kOpenDriver, {.result = 5});
  EXPECT_EQ(Initialise("1=7,080006010203,2\n2=5,080006010204\n"), 0);
  EXPECT_EQ(H1().Sequence(), Ops{H1Op::kOpenDriver});
  EXPECT_EQ(ConnectionLog(), Texts{"TavSH1: Fail to open H1 Driver (5)"});
  EXPECT_EQ(station(1).readConnection, 0);
}

TEST_F(ConnectionTest, ConnectAllScansEveryConfiguredStationInAscendingOrder) {
  Configure(98, kPlcTypeS7, "0000000000FF");
  Configure(40, kPlcTypeS7, "000000000040");
  Configure(0, kPlcTypeS7, "000000000001");  // the file can't, but the scan covers entry 0 too
  station(41).plcType = kPlcTypeS5;          // unconfigured: no address
  station(41).readConnection = 9;

  ConnectAll(instance());

  std::vector<uint8_t> lastAddressBytes;
  for (const H1Call& call : H1().CallsOf(H1Op::kOpenS7Connection)) {
    lastAddressBytes.push_back(call.record[8]);
  }
  EXPECT_EQ(lastAddressBytes, (std::vector<uint8_t>{0x01, 0x40, 0xFF}));
  EXPECT_EQ(H1().CountOf(H1Op::kOpenS5Connection), 0);
}

TEST_F(ConnectionTest, Type6AndRejectedSlotsAreConnectedAsS7InSlot2) {
  ASSERT_EQ(Initialise("1=7,080006010201,3\n4=6,080006010204,L,R,W\n5=7,080006010205,100\n"), 0);
  const std::vector<H1Call> opens = H1().CallsOf(H1Op::kOpenS7Connection);
  ASSERT_EQ(opens.size(), 3u);
  for (size_t i = 0; i < opens.size(); ++i) {
    EXPECT_EQ(opens[i].record[8], i == 0 ? 0x01 : 0x03 + i);
    EXPECT_EQ(opens[i].record[24], 0x03);
    EXPECT_EQ(opens[i].record[25], i == 0 ? 3 : 2);
  }
  EXPECT_EQ(station(4).readConnection, 2);
  EXPECT_EQ(station(5).readConnection, 3);
}

// ---------------------------------------------------------------------------------------------
// Waiting for a connection

struct WaitCase {
  int32_t retryBudget;
  int polls;
};

void PrintTo(const WaitCase& c, std::ostream* os) {
  *os << "budget " << c.retryBudget;
}

class WaitConnectedTest : public ConnectionTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(WaitConnectedTest, PollsATenthOfTheBudgetWithOneMillisecondPauses) {
  instance().retryBudget = GetParam().retryBudget;
  UpAre({});

  EXPECT_FALSE(WaitConnected(instance(), 7));

  EXPECT_EQ(H1().CountOf(H1Op::kConnectionState), GetParam().polls);
  EXPECT_EQ(fake::Sleeps(), std::vector<uint32_t>(static_cast<size_t>(GetParam().polls), 1u));
  for (uint32_t connection : ConnectionsOf(H1Op::kConnectionState)) EXPECT_EQ(connection, 7u);
}

INSTANTIATE_TEST_SUITE_P(Budgets, WaitConnectedTest,
                         ::testing::Values(WaitCase{1000, 100}, WaitCase{100, 10},
                                           WaitCase{109, 10}, WaitCase{10, 1}, WaitCase{9, 0},
                                           WaitCase{0, 0}, WaitCase{-50, 0}));

TEST_F(ConnectionTest, WaitStopsAtTheFirstPollThatFindsTheConnectionUp) {
  H1().Answer(H1Op::kConnectionState, {.result = kNotUp}, 2);
  EXPECT_TRUE(WaitConnected(instance(), 7));
  EXPECT_EQ(H1().CountOf(H1Op::kConnectionState), 3);
  EXPECT_EQ(fake::Sleeps(), (std::vector<uint32_t>{1, 1}));
}

// ---------------------------------------------------------------------------------------------
// Connecting one S7 station

struct S7Case {
  const char* name;
  uint16_t openResult;
  uint16_t statusWord;
  bool comesUp;
  bool connected;
  const char* message;
  Ops calls;
};

void PrintTo(const S7Case& c, std::ostream* os) {
  *os << c.name;
}

class ConnectS7Test : public ConnectionTest, public ::testing::WithParamInterface<S7Case> {};

TEST_P(ConnectS7Test, OpensWaitsAndReleasesWhatFailed) {
  const S7Case& c = GetParam();
  Configure(2, kPlcTypeS7, "080006010203");
  H1().Answer(H1Op::kOpenS7Connection,
              {.result = c.openResult, .statusWord = c.statusWord, .connection = 21});
  UpAre(c.comesUp ? std::vector<uint32_t>{21} : std::vector<uint32_t>{});

  EXPECT_EQ(ConnectS7(instance(), 2), c.connected);

  EXPECT_EQ(fake::LogTexts(), Texts{c.message});
  EXPECT_EQ(station(2).readConnection, c.connected ? 21 : 0);
  std::vector<H1Op> calls = H1().Sequence();
  std::erase(calls, H1Op::kConnectionState);
  EXPECT_EQ(calls, c.calls);
  for (uint32_t connection : ConnectionsOf(H1Op::kReleaseConnection)) EXPECT_EQ(connection, 21u);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ConnectS7Test,
    ::testing::Values(S7Case{"Established",
                             0,
                             0,
                             true,
                             true,
                             "TavSH1: Connection Success, Plc #2 !!! ",
                             {H1Op::kOpenS7Connection}},
                      S7Case{"EstablishedAfterStatus3",
                             0,
                             3,
                             true,
                             true,
                             "TavSH1: Connection Success, Plc #2 !!! ",
                             {H1Op::kOpenS7Connection}},
                      S7Case{"Refused",
                             9,
                             0,
                             true,
                             false,
                             "TavSH1: Strat Connection Failed Plc #2 (9,0)",
                             {H1Op::kOpenS7Connection, H1Op::kReleaseConnection}},
                      S7Case{"RefusedByStatusWord",
                             0,
                             5,
                             true,
                             false,
                             "TavSH1: Strat Connection Failed Plc #2 (0,5)",
                             {H1Op::kOpenS7Connection, H1Op::kReleaseConnection}},
                      S7Case{"NeverUp",
                             0,
                             3,
                             false,
                             false,
                             "TavSH1: Connection FAIL, Plc #2 !!! ",
                             {H1Op::kOpenS7Connection, H1Op::kReleaseConnection}}),
    [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------------------------
// Connecting one S5 station: read connection 11, write connection 12

struct S5Case {
  const char* name;
  H1Answer readOpen;
  H1Answer writeOpen;
  std::vector<uint32_t> up;
  bool connected;
  uint16_t readConnection;
  uint16_t writeConnection;
  Texts messages;
  std::vector<uint32_t> released;
};

void PrintTo(const S5Case& c, std::ostream* os) {
  *os << c.name;
}

class ConnectS5Test : public ConnectionTest, public ::testing::WithParamInterface<S5Case> {};

TEST_P(ConnectS5Test, OpensReadThenWriteConnection) {
  const S5Case& c = GetParam();
  Configure(5, kPlcTypeS5, "080006010203");
  H1().Answer(H1Op::kOpenS5Connection, c.readOpen).Answer(H1Op::kOpenS5Connection, c.writeOpen);
  UpAre(c.up);

  EXPECT_EQ(ConnectS5(instance(), 5), c.connected);

  EXPECT_EQ(fake::LogTexts(), c.messages);
  EXPECT_EQ(station(5).readConnection, c.readConnection);
  EXPECT_EQ(station(5).writeConnection, c.writeConnection);
  EXPECT_EQ(ConnectionsOf(H1Op::kReleaseConnection), c.released);
}

H1Answer Opened(uint16_t connection, uint16_t statusWord = 0) {
  return {.result = 0, .statusWord = statusWord, .connection = connection};
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ConnectS5Test,
    ::testing::Values(
        S5Case{"BothEstablished",
               Opened(11),
               Opened(12, 3),
               {11, 12},
               true,
               11,
               12,
               {"TavSH1: Read Connection Success, Plc #5 !!! ",
                "TavSH1: Write Connection Success, Plc #5 !!! "},
               {}},
        S5Case{"ReadRefused",
               {.result = 1, .connection = 11},
               Opened(12),
               {11, 12},
               false,
               0,
               0,
               {"TavSH1: Strat Read Connection Failed Plc #5 (1,0)"},
               {11}},
        S5Case{"ReadRefusedByStatusWord",
               Opened(11, 7),
               Opened(12),
               {11, 12},
               false,
               0,
               0,
               {"TavSH1: Strat Read Connection Failed Plc #5 (0,7)"},
               {11}},
        S5Case{"ReadNeverUp",
               Opened(11),
               Opened(12),
               {12},
               false,
               0,
               0,
               {"TavSH1: Read Connection FAIL, Plc #5 !!! "},
               {11}},
        // A refused write open may leave the read identifier in the record: never release it.
        S5Case{"WriteRefusedLeavingTheReadIdentifier",
               Opened(11),
               {.result = 4, .connection = 11},
               {11, 12},
               false,
               11,
               0,
               {"TavSH1: Read Connection Success, Plc #5 !!! ",
                "TavSH1: Strat Write Connection Failed Plc #5 (4,0)"},
               {}},
        S5Case{"WriteRefusedWithAFreshIdentifier",
               Opened(11),
               {.result = 4, .connection = 12},
               {11, 12},
               false,
               11,
               0,
               {"TavSH1: Read Connection Success, Plc #5 !!! ",
                "TavSH1: Strat Write Connection Failed Plc #5 (4,0)"},
               {12}},
        S5Case{"WriteRefusedByStatusWord",
               Opened(11),
               Opened(12, 9),
               {11, 12},
               false,
               11,
               0,
               {"TavSH1: Read Connection Success, Plc #5 !!! ",
                "TavSH1: Strat Write Connection Failed Plc #5 (0,9)"},
               {12}},
        // A write connection that doesn't come up still leaves a usable station.
        S5Case{"WriteNeverUp",
               Opened(11),
               Opened(12),
               {11},
               true,
               11,
               0,
               {"TavSH1: Read Connection Success, Plc #5 !!! ",
                "TavSH1: Write Connection FAIL, Plc #5 !!! "},
               {12}}),
    [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------------------------
// Reconnecting

class ReconnectTest : public ConnectionTest {};

TEST_F(ReconnectTest, StationOutsideTheTableReturnsOneAndCallsNothing) {
  for (int32_t n : {-1, 99, 100, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Reconnect(n), 1);
  }
  EXPECT_TRUE(H1().Calls().empty());
  EXPECT_TRUE(fake::LogLines().empty());
}

TEST_F(ReconnectTest, NullRecordsReturnOne) {
  ReconnectBlock block{1};
  Request noInstance{nullptr, 2, 0, 0, &block};
  EXPECT_EQ(TavMain(&noInstance), 1);
  EXPECT_EQ(Run(CommandCode::kReconnect, nullptr), 1);
  EXPECT_TRUE(H1().Calls().empty());
}

TEST_F(ReconnectTest, ConnectedS7StationIsRestartedAndWaitedFor) {
  Configure(2, kPlcTypeS7, "080006010203");
  station(2).readConnection = 4;

  EXPECT_EQ(Reconnect(2), 0);

  EXPECT_EQ(H1().Sequence(), (Ops{H1Op::kRestartConnection, H1Op::kConnectionState}));
  EXPECT_EQ(ConnectionsOf(H1Op::kRestartConnection), std::vector<uint32_t>{4});
  EXPECT_EQ(ConnectionsOf(H1Op::kConnectionState), std::vector<uint32_t>{4});
  EXPECT_EQ(fake::LogTexts(), Texts{"TavSH1: Reconnect Read Success, Plc #2 !!! "});
}

TEST_F(ReconnectTest, WaitThatRunsOutIsSilentAndStillReturnsZero) {
  Configure(2, kPlcTypeS7, "080006010203");
  station(2).readConnection = 4;
  UpAre({});

  EXPECT_EQ(Reconnect(2), 0);

  EXPECT_EQ(H1().CountOf(H1Op::kConnectionState), 10);
  EXPECT_TRUE(fake::LogLines().empty());
  EXPECT_EQ(station(2).readConnection, 4);
}

TEST_F(ReconnectTest, S5StationRestartsBothConnectionsEvenIdentifierZero) {
  Configure(5, kPlcTypeS5, "080006010203");
  station(5).readConnection = 4;
  station(6) = station(5);
  station(6).writeConnection = 6;
  UpAre({4, 6});

  EXPECT_EQ(Reconnect(6), 0);
  EXPECT_EQ(Reconnect(5), 0);

  EXPECT_EQ(ConnectionsOf(H1Op::kRestartConnection), (std::vector<uint32_t>{4, 6, 4, 0}));
  // Identifier 0 never comes up: its wait runs out silently.
  EXPECT_EQ(ConnectionsOf(H1Op::kConnectionState),
            (std::vector<uint32_t>{4, 6, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(fake::LogTexts(), (Texts{"TavSH1: Reconnect Read Success, Plc #6 !!! ",
                                     "TavSH1: Reconnect Write Success, Plc #6 !!! ",
                                     "TavSH1: Reconnect Read Success, Plc #5 !!! "}));
}

TEST_F(ReconnectTest, UnconnectedStationIsConnectedThenRestarted) {
  Configure(2, kPlcTypeS7, "080006010203");

  EXPECT_EQ(Reconnect(2), 0);

  EXPECT_EQ(H1().Sequence(), (Ops{H1Op::kOpenS7Connection, H1Op::kConnectionState,
                                  H1Op::kRestartConnection, H1Op::kConnectionState}));
  EXPECT_EQ(ConnectionsOf(H1Op::kRestartConnection), std::vector<uint32_t>{1});
  EXPECT_EQ(station(2).readConnection, 1);
  EXPECT_EQ(fake::LogTexts(), (Texts{"TavSH1: Connection Success, Plc #2 !!! ",
                                     "TavSH1: Reconnect Read Success, Plc #2 !!! "}));
}

TEST_F(ReconnectTest, UnconnectedStationThatFailsToConnectReturnsOne) {
  Configure(5, kPlcTypeS5, "080006010203");
  H1().Answer(H1Op::kOpenS5Connection, {.result = 2});

  EXPECT_EQ(Reconnect(5), 1);

  EXPECT_EQ(H1().Sequence(), (Ops{H1Op::kOpenS5Connection, H1Op::kReleaseConnection}));
  EXPECT_EQ(station(5).readConnection, 0);
}

TEST_F(ReconnectTest, StationWithoutAddressReturnsOneAtOnce) {
  // The station file never configured these; one of them holds an identifier all the same.
  station(7).readConnection = 4;
  for (int32_t n : {0, 7, 98}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Reconnect(n), 1);
  }
  EXPECT_TRUE(H1().Calls().empty()) << "no connect to the all-zero address, no wait";
  EXPECT_TRUE(fake::Sleeps().empty());
  EXPECT_TRUE(fake::LogLines().empty());
}

// ---------------------------------------------------------------------------------------------
// Closing

TEST_F(ConnectionTest, CloseCallsCloseDriverAndKeepsTheIdentifiers) {
  station(3).readConnection = 5;
  station(3).writeConnection = 6;
  for (uint16_t result : {uint16_t{0}, uint16_t{8}}) {
    SCOPED_TRACE(result);
    fake::ClearLog();
    H1().Reset();
    H1().Answer(H1Op::kCloseDriver, {.result = result});

    Request request =
        MakeRequest(nullptr, CommandCode::kCloseH1, nullptr);  // close reads neither pointer
    EXPECT_EQ(TavMain(&request), 0);

    EXPECT_EQ(H1().Sequence(), Ops{H1Op::kCloseDriver});
    EXPECT_EQ(fake::LogTexts(), result == 0 ? Texts{} : Texts{"TavSH1: Fail to close driver !"});
  }
  EXPECT_EQ(station(3).readConnection, 5);
  EXPECT_EQ(station(3).writeConnection, 6);
}

}  // namespace
}  // namespace tav
