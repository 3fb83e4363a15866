// Commands 1, 2 and 11 of the real driver on the simulated network.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "abi/address_block.h"
#include "abi/transfer_block.h"
#include "sim/h1_codes.h"
#include "simulated_network.h"

namespace tav::e2e {
namespace {

using sim::ConnectionRole;
using sim::ConnectionState;
using sim::Operation;
using Texts = std::vector<std::string>;

constexpr const char* kVersionHead = "TavSH1: Siemens Ethernet driver,Version 8.20 compiled on ";

class ConnectionTest : public SimulatedNetworkTest {
 protected:
  // The simulated connection behind identifier `id`, checked to be up and to lead to the station
  // at `address` in `role`.
  void ExpectConnection(uint16_t id, const char* address, ConnectionRole role) {
    SCOPED_TRACE(address);
    ASSERT_NE(id, 0);
    const sim::Connection* connection = network().FindConnection(id);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->state, ConnectionState::kEstablished);
    EXPECT_EQ(connection->role, role);
    EXPECT_EQ(network().StationOf(*connection), network().Find(address));
  }

  // A word tag parsed by command 3, for one element at `word`.
  TransferBlock WordTag(const char* address, uint16_t* word) {
    AddressBlock parsed{};
    parsed.addressText = address;
    EXPECT_EQ(Run(CommandCode::kParseAddress, &parsed), 0) << address;
    return TransferBlockFor(parsed, address, 1, word);
  }
};

TEST_F(ConnectionTest, InitialisesTheExampleStationFile) {
  UseExampleStationFile();

  ASSERT_EQ(Initialise(10), 0);

  const Texts messages = Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_TRUE(messages[0].starts_with(kVersionHead)) << messages[0];
  EXPECT_EQ(Texts(messages.begin() + 1, messages.end()),
            (Texts{
                "TavSH1: Connection Success, Plc #1 !!! ",
                "TavSH1: Connection Success, Plc #2 !!! ",
                "TavSH1: Read Connection Success, Plc #3 !!! ",
                "TavSH1: Write Connection Success, Plc #3 !!! ",
                "TavSH1: Read Connection Success, Plc #4 !!! ",
                "TavSH1: Write Connection Success, Plc #4 !!! ",
                "TavSH1: Connection Success, Plc #5 !!! ",
                "TavSH1: Connection FAIL, Plc #8 !!! ",
                "TavSH1: Read Connection FAIL, Plc #9 !!! ",
            }));
  for (const HostLogLine& line : HostLog()) EXPECT_EQ(line.level, 32) << line.text;

  EXPECT_EQ(instance().retryBudget, 100);
  ExpectConnection(station(1).readConnection, "0A0B0C010201", ConnectionRole::kS7);
  ExpectConnection(station(2).readConnection, "0A0B0C010202", ConnectionRole::kS7);
  ExpectConnection(station(3).readConnection, "0A0B0C010203", ConnectionRole::kRead);
  ExpectConnection(station(3).writeConnection, "0A0B0C010203", ConnectionRole::kWrite);
  ExpectConnection(station(4).readConnection, "0A0B0C010204", ConnectionRole::kRead);
  ExpectConnection(station(4).writeConnection, "0A0B0C010204", ConnectionRole::kWrite);
  ExpectConnection(station(5).readConnection, "0A0B0C010205", ConnectionRole::kS7);
  for (int n : {1, 2, 5, 8, 9}) EXPECT_EQ(station(n).writeConnection, 0) << n;
  for (int n : {8, 9}) EXPECT_EQ(station(n).readConnection, 0) << n;

  // The unreachable stations' connections were released: only the seven live ones remain.
  EXPECT_EQ(network().connections().size(), 7u);
  EXPECT_EQ(network().CallCount(Operation::kOpenDriver), 1);
}

// The waits for unreachable stations are real 1 ms sleeps: with the smallest budget that
// initialisation sets (1000), each takes at least 100 of them.
TEST_F(ConnectionTest, AnInitialisationWaitsOutTheUnreachableStations) {
  UseExampleStationFile();
  const auto start = std::chrono::steady_clock::now();

  ASSERT_EQ(Initialise(0), 0);

  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(instance().retryBudget, 1000);
  EXPECT_GE(elapsed.count(), 200);
  RecordProperty("initialisation_ms", static_cast<int>(elapsed.count()));
  std::printf("initialisation of examples/tavSH101.int (2 unreachable stations): %lld ms\n",
              static_cast<long long>(elapsed.count()));
}

TEST_F(ConnectionTest, ReconnectBringsADroppedStationBack) {
  UseExampleStationFile();
  ASSERT_EQ(Initialise(10), 0);
  const uint16_t s7 = station(1).readConnection;
  const uint16_t s5Read = station(3).readConnection;
  const uint16_t s5Write = station(3).writeConnection;
  network().Drop(simulated("0A0B0C010201"));
  network().Drop(simulated("0A0B0C010203"));
  HostLog().clear();

  EXPECT_EQ(Reconnect(1), 0);
  EXPECT_EQ(Reconnect(3), 0);

  EXPECT_EQ(Messages(), (Texts{"TavSH1: Reconnect Read Success, Plc #1 !!! ",
                               "TavSH1: Reconnect Read Success, Plc #3 !!! ",
                               "TavSH1: Reconnect Write Success, Plc #3 !!! "}));
  // Restarted in place: the identifiers stay.
  EXPECT_EQ(station(1).readConnection, s7);
  ExpectConnection(s7, "0A0B0C010201", ConnectionRole::kS7);
  ExpectConnection(s5Read, "0A0B0C010203", ConnectionRole::kRead);
  ExpectConnection(s5Write, "0A0B0C010203", ConnectionRole::kWrite);
}

// An S5 station writes over its write connection; the others over their one connection.
TEST_F(ConnectionTest, WritesTakeTheWriteConnection) {
  UseExampleStationFile();
  ASSERT_EQ(Initialise(10), 0);
  uint16_t word = 7;
  for (const char* address : {"03DW0100100", "01DW0100100", "05DW0100100"}) {
    TransferBlock tag = WordTag(address, &word);
    ASSERT_EQ(Run(CommandCode::kWriteBlock, &tag), 0);
  }
  const std::vector<sim::Exchange>& exchanges = network().exchanges();
  ASSERT_EQ(exchanges.size(), 3u);
  EXPECT_EQ(exchanges[0].connection, station(3).writeConnection);
  EXPECT_EQ(exchanges[1].connection, station(1).readConnection);
  EXPECT_EQ(exchanges[2].connection, station(5).readConnection);
}

TEST_F(ConnectionTest, ADroppedConnectionFailsTransfersUntilReconnected) {
  UseExampleStationFile();
  ASSERT_EQ(Initialise(10), 0);
  uint16_t word = 0;
  TransferBlock tag = WordTag("01DW0100000", &word);
  network().Drop(simulated("0A0B0C010201"));

  EXPECT_EQ(Run(CommandCode::kReadBlock, &tag), 2);
  EXPECT_EQ(word, 0);
  ASSERT_EQ(Reconnect(1), 0);
  EXPECT_EQ(Run(CommandCode::kReadBlock, &tag), 0);
  EXPECT_EQ(word, 0x1234);  // the simulation file's preset
}

TEST_F(ConnectionTest, ReconnectConnectsAStationThatCameUpLater) {
  UseExampleStationFile();
  ASSERT_EQ(Initialise(10), 0);
  EXPECT_EQ(Reconnect(8), 1);  // still switched off

  simulated("0A0B0C010208").behaviour().reachable = true;
  HostLog().clear();
  EXPECT_EQ(Reconnect(8), 0);
  EXPECT_EQ(Messages(), (Texts{"TavSH1: Connection Success, Plc #8 !!! ",
                               "TavSH1: Reconnect Read Success, Plc #8 !!! "}));
  ExpectConnection(station(8).readConnection, "0A0B0C010208", ConnectionRole::kS7);
}

TEST_F(ConnectionTest, ReconnectOutsideTheTableCallsNothing) {
  UseExampleStationFile();
  ASSERT_EQ(Initialise(10), 0);
  const int opens = network().CallCount(Operation::kOpenS7Connection);
  for (int32_t n : {-1, 99, 100000}) EXPECT_EQ(Reconnect(n), 1) << n;
  EXPECT_EQ(network().CallCount(Operation::kOpenS7Connection), opens);
  EXPECT_EQ(network().CallCount(Operation::kRestartConnection), 0);
}

TEST_F(ConnectionTest, AWriteConnectionTheStationDoesNotAcceptLeavesItsReadConnection) {
  WriteStationFile(1, "3=5,0A0B0C010203,KORVAL,KORREAD,NOWRITE\n");
  ASSERT_EQ(Initialise(10), 0);
  EXPECT_EQ(Messages().back(), "TavSH1: Write Connection FAIL, Plc #3 !!! ");
  ExpectConnection(station(3).readConnection, "0A0B0C010203", ConnectionRole::kRead);
  EXPECT_EQ(station(3).writeConnection, 0);
}

// The write connection is opened with the read connection's record, whose identifier field
// still holds the read connection when the library refuses the second open.
TEST_F(ConnectionTest, ARefusedWriteOpenNeverReleasesTheReadConnection) {
  WriteStationFile(1, "3=5,0A0B0C010203\n");
  simulated("0A0B0C010203").Inject(Operation::kOpenS5Connection, {.result = 9, .after = 1});

  ASSERT_EQ(Initialise(10), 0);

  EXPECT_EQ(Messages().back(), "TavSH1: Strat Write Connection Failed Plc #3 (9,0)");
  ExpectConnection(station(3).readConnection, "0A0B0C010203", ConnectionRole::kRead);
  EXPECT_EQ(station(3).writeConnection, 0);
}

TEST_F(ConnectionTest, RefusedConnectsAreReportedWithResultAndStatusWord) {
  WriteStationFile(1, "1=7,0A0B0C010201,2\n3=5,0A0B0C010203\n");
  simulated("0A0B0C010201").behaviour().refuseResult = 7;
  simulated("0A0B0C010203").behaviour().refuseStatus = 0x21;

  ASSERT_EQ(Initialise(10), 0);

  const Texts messages = Messages();
  EXPECT_EQ(Texts(messages.begin() + 1, messages.end()),
            (Texts{"TavSH1: Strat Connection Failed Plc #1 (7,0)",
                   "TavSH1: Strat Read Connection Failed Plc #3 (0,33)"}));
  EXPECT_EQ(station(1).readConnection, 0);
  EXPECT_EQ(station(3).readConnection, 0);
  EXPECT_TRUE(network().connections().empty());
}

TEST_F(ConnectionTest, AnH1LibraryThatCannotOpenConnectsNothing) {
  UseExampleStationFile();
  network().settings.openDriverResult = 5;
  ASSERT_EQ(Initialise(10), 0);
  EXPECT_EQ(Messages().back(), "TavSH1: Fail to open H1 Driver (5)");
  EXPECT_EQ(network().CallCount(Operation::kOpenS5Connection), 0);
  EXPECT_EQ(network().CallCount(Operation::kOpenS7Connection), 0);
}

TEST_F(ConnectionTest, WithoutAStationFileTheLibraryStaysClosed) {
  EXPECT_EQ(Initialise(10, 42), 2);
  EXPECT_EQ(Messages().back(), "TavSH1 : File tavSH142.int not found !");
  EXPECT_EQ(network().CallCount(Operation::kOpenDriver), 0);
}

TEST_F(ConnectionTest, CloseEndsEveryConnectionAndKeepsTheIdentifiers) {
  UseExampleStationFile();
  ASSERT_EQ(Initialise(10), 0);
  const uint16_t s7 = station(1).readConnection;

  EXPECT_EQ(Run(CommandCode::kCloseH1, nullptr), 0);

  EXPECT_FALSE(network().isOpen());
  EXPECT_TRUE(network().connections().empty());
  EXPECT_EQ(station(1).readConnection, s7);
  network().Inject(Operation::kCloseDriver, {.result = 4});
  HostLog().clear();
  EXPECT_EQ(Run(CommandCode::kCloseH1, nullptr), 0);
  EXPECT_EQ(Messages(), Texts{"TavSH1: Fail to close driver !"});
}

}  // namespace
}  // namespace tav::e2e
