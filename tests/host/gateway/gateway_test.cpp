// tavhost gateway: its file's reader and its client side's state machine row by row, then the
// gateway itself on a network of namespaces: Snap7's client on the driver's loopback, the gateway
// between, the test H1 station behind (Snap7's server answering its S7 traffic, or its own S5
// memory for fetch/write).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "gateway/client_session.h"
#include "gateway/gateway_settings.h"
#include "frame_judge.h"
#include "netns.h"
#include "peer.h"
#include "plc_sessions/frames.h"
#include "plc_sessions/tpkt.h"
#include "snap7_client.h"
#include "snap7_process.h"

namespace tav::gateway::test {
namespace {

using namespace tavhost::gateway;  // NOLINT(google-build-using-namespace): the gateway under test
using h1tcp::test::Snap7Client;
using h1tcp::test::Snap7FunctionRefused;
using sessions::Bytes;

constexpr const char* kHead = "[gateway]\nh1_interface = \"h1\"\n";
constexpr const char* kS7Route = "[[route]]\nprotocol = \"s7\"\nport = 102\nstation = \"0A0B0C010201\"\n";

struct FileRow {
  const char* name;
  std::string text;
  const char* problem;      // a part of the one problem; "" for a good file
  const char* reaches = "";  // the first route's station and TSAPs (Reach), when given
};

// The PlcTable the driver reads from the station file "tavSH101.int" of the rows: 3 an S7
// station in slot 5, 4 an S5 station whose line names TSAPs, 6 one of type 6.
StationTable NumberedStations(const std::string& path) {
  static const std::unique_ptr<tav::DriverInstance> instance = [] {
    auto table = std::make_unique<tav::DriverInstance>();
    const auto station = [&](int n, uint8_t type, const char* address) -> tav::PlcEntry& {
      tav::PlcEntry& entry = table->plcTable[n];
      entry.plcType = type;
      std::strcpy(entry.ethernetAddress, address);
      return entry;
    };
    station(3, tav::kPlcTypeS7, "0A0B0C010203").slot = 5;
    tav::PlcEntry& s5 = station(4, tav::kPlcTypeS5, "0A0B0C010204");
    std::strcpy(s5.ltsap, "LOC");
    std::strcpy(s5.rtsap, "READ");
    std::strcpy(s5.wtsap, "WRITE");
    station(6, 6, "0A0B0C010206").slot = 2;
    return table;
  }();
  if (path != "tavSH101.int") return {nullptr, path + ": no such file"};
  return {instance.get(), ""};
}

// S7: the address and the remote TSAP; fetch/write: the address and the local, read and write
// TSAPs as text.
std::string Reach(const RouteSettings& route) {
  const std::string station = tav::EthernetAddressText(route.station);
  if (route.protocol == Protocol::kS7) {
    return station + " " + (route.remoteTsap ? tav::HexText(*route.remoteTsap) : "-");
  }
  const auto text = [](const Tsap& tsap) { return std::string(tsap.begin(), tsap.end()); };
  return station + " " + text(route.localTsap.value_or(Tsap{})) + "/" + text(route.readTsap) +
         "/" + text(route.writeTsap);
}

TEST(GatewayFile, ReadsGoodFilesAndNamesEachProblemWithItsLine) {
  const std::string head = kHead;
  const std::string s7 = kS7Route;
  const std::string numbered = head + "station_file = \"tavSH101.int\"\n";
  const std::string s7ByNumber = numbered + "[[route]]\nprotocol = \"s7\"\nport = 102\n";
  const FileRow rows[] = {
      {"s7 by the called TSAP", head + s7, ""},
      {"fetch/write", head + "[[route]]\nprotocol = \"fetch-write\"\nport = 2000\nstation = "
                             "\"0A0B0C010204\"\nlocal_tsap = \"TSAPLOC1\"\nread_tsap = "
                             "\"TSAPRD01\"\nwrite_tsap = \"TSAPWR01\"\nallow = [\"10.0.0.0/8\"]\n",
       ""},
      {"two slots on one port", head + s7 + "slot = 2\n" + s7 + "slot = 3\n", ""},
      {"no interface", "[gateway]\n" + s7, "1: [gateway] names no h1_interface"},
      {"no route", head, "0: no [[route]]"},
      {"unknown key", head + s7 + "slots = 2\n", "7: unknown key 'slots'"},
      {"bad protocol", head + "[[route]]\nprotocol = \"modbus\"\nport = 1\nstation = "
                              "\"0A0B0C010201\"\n",
       "4: protocol \"modbus\""},
      {"bad station", head + "[[route]]\nprotocol = \"s7\"\nport = 102\nstation = \"0A0B\"\n",
       "6: station \"0A0B\" is no Ethernet address"},
      {"port out of range", head + "[[route]]\nprotocol = \"s7\"\nport = 70000\nstation = "
                                   "\"0A0B0C010201\"\n",
       "5: port must be an integer from 1 to 65535"},
      {"slot and remote_tsap", head + s7 + "slot = 2\nremote_tsap = \"0x0302\"\n",
       "8: give slot or remote_tsap"},
      {"same port twice", head + s7 + s7, "7: port 102: another S7 route calls the same TSAP"},
      {"fetch/write on an S7 port",
       head + s7 + "[[route]]\nprotocol = \"fetch-write\"\nport = 102\nstation = "
                   "\"0A0B0C010204\"\nlocal_tsap = \"A\"\nread_tsap = \"B\"\nwrite_tsap = \"C\"\n",
       "7: port 102 is taken by the route on line 3"},
      {"fetch/write without TSAPs", head + "[[route]]\nprotocol = \"fetch-write\"\nport = 2000\n"
                                           "station = \"0A0B0C010204\"\n",
       "3: a fetch/write route has no local_tsap"},
      {"bad network", head + s7 + "allow = [\"10.0.0.0/33\"]\n", "7: allow: \"10.0.0.0/33\""},
      {"bad listen", "[gateway]\nh1_interface = \"h1\"\nlisten = \"any\"\n" + s7,
       "3: listen \"any\" is no IPv4 address"},
      {"bad TSAP", head + s7 + "remote_tsap = \"0x030\"\n", "7: remote_tsap \"0x030\" is no TSAP"},
      {"not TOML", head + "[[route]\n", "3: not TOML"},
      // Stations by their number in the station file.
      {"S7 by number: the file's slot", s7ByNumber + "station = 3\n", "", "0A0B0C010203 0305"},
      {"the route's slot first", s7ByNumber + "station = 3\nslot = 1\n", "", "0A0B0C010203 0301"},
      {"type 6 as S7", s7ByNumber + "station = 6\n", "", "0A0B0C010206 0302"},
      {"S5 by number: the line's TSAPs, the route's first",
       numbered + "[[route]]\nprotocol = \"fetch-write\"\nport = 2000\nstation = 4\n"
                  "write_tsap = \"OWN\"\n",
       "", "0A0B0C010204 LOC     /READ    /OWN     "},
      {"a number the file leaves out", numbered + s7 + "[[route]]\nprotocol = \"s7\"\nport = 103\n"
                                                       "station = 9\n",
       "11: station 9: tavSH101.int configures no station 9"},
      {"S5 station on an S7 route", s7ByNumber + "station = 4\n",
       "7: station 4 is an S5 station in tavSH101.int: a fetch-write route"},
      {"number out of range", s7ByNumber + "station = 99\n",
       "7: station must be an integer from 1 to 98"},
      {"no station file", head + "[[route]]\nprotocol = \"s7\"\nport = 102\nstation = 3\n",
       "6: station 3: [gateway] names no station_file"},
      {"a station file the driver cannot read",
       head + "station_file = \"tavSH102.int\"\n[[route]]\nprotocol = \"s7\"\nport = 102\n"
              "station = 3\n",
       "3: station_file: tavSH102.int: no such file"},
  };
  for (const FileRow& row : rows) {
    const GatewayFileReading reading = ReadGatewayText(row.text, "gw.toml", NumberedStations);
    if (std::string(row.problem).empty()) {
      ASSERT_TRUE(reading.settings && reading.problems.empty())
          << row.name << ": " << (reading.problems.empty() ? "" : reading.problems.front());
      if (*row.reaches != '\0') {
        EXPECT_EQ(Reach(reading.settings->routes.front()), row.reaches) << row.name;
      }
      continue;
    }
    ASSERT_FALSE(reading.problems.empty()) << row.name;
    EXPECT_NE(reading.problems.front().find(std::string("gw.toml:") + row.problem),
              std::string::npos)
        << row.name << ": " << reading.problems.front();
  }
  // The example the package ships reads as it is.
  const GatewayFileReading example = ReadGatewayFile(TAV_EXAMPLE_GATEWAY);
  EXPECT_TRUE(example.settings && example.problems.empty())
      << (example.problems.empty() ? "" : example.problems.front());
}

// Client bytes as an ISO on TCP client sends them.
Bytes Cr(uint8_t sizeCode) {
  return {0x03, 0x00, 0x00, 0x16, 0x11, 0xE0, 0x00, 0x00, 0x00, 0x01, 0x00, 0xC0, 0x01, sizeCode,
          0xC1, 0x02, 0x01, 0x00, 0xC2, 0x02, 0x03, 0x02};
}
Bytes Dt(const Bytes& pdu) { return sessions::DataTpdus(pdu, 1024); }
Bytes S7Job(uint8_t function, const Bytes& parameterTail, const Bytes& data = {}) {
  Bytes pdu = {0x32, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00,
               static_cast<uint8_t>(1 + parameterTail.size()), 0x00,
               static_cast<uint8_t>(data.size()), function};
  pdu.insert(pdu.end(), parameterTail.begin(), parameterTail.end());
  pdu.insert(pdu.end(), data.begin(), data.end());
  return pdu;
}
Bytes S7Read() { return S7Job(0x04, {0x01, 0x12, 0x0A, 0x10, 0x02, 0x00, 0x02, 0x00, 0x01, 0x84, 0, 0, 0}); }
Bytes S7WriteTwoItems() { return S7Job(0x05, {0x02}, {0, 0, 0, 0}); }
Bytes S7UserData(uint8_t group, uint8_t subfunction) {
  return {0x32, 0x07, 0x00, 0x00, 0x00, 0x09, 0x00, 0x08, 0x00, 0x00,
          0x00, 0x01, 0x12, 0x04, 0x11, static_cast<uint8_t>(0x40 | group), subfunction, 0x00};
}
Bytes S5(sessions::S5Opcode opcode, uint16_t words) {
  Bytes message = sessions::S5RequestHeader({opcode, sessions::kS5OrgDataBlock, 10, 0, words});
  if (opcode == sessions::S5Opcode::kWrite) message.resize(message.size() + 2 * words, 0x5A);
  return message;
}
Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct SessionRow {
  const char* name;
  Protocol protocol;
  bool readOnly;
  Bytes fromClient;       // after the CR and the station's open (ISO)
  size_t relayed;         // TSDUs for the station
  Bytes answerHas;        // bytes the gateway's own answer to the client holds
  const char* endedWith;  // "" when the session goes on
};

TEST(GatewaySession, RelaysReadsRefusesWhatAReadOnlyRouteForbidsAndBoundsEveryLength) {
  using sessions::S5Opcode;
  const Bytes accessDeniedTwice = {0x05, 0x02, 0x03, 0x03};
  const Bytes accessError = {0x87, 0x00, 0x29};
  const Bytes userDataError = {0x87, 0x00, 0x0A};
  const SessionRow rows[] = {
      {"read passes", Protocol::kS7, true, Dt(S7Read()), 1, {}, ""},
      {"write passes", Protocol::kS7, false, Dt(S7WriteTwoItems()), 1, {}, ""},
      {"write refused item by item", Protocol::kS7, true, Dt(S7WriteTwoItems()), 0,
       accessDeniedTwice, ""},
      {"PLC stop refused", Protocol::kS7, true, Dt(S7Job(0x29, {0, 0, 0, 0, 0, 0, 0, 0, 0x09})),
       0, accessError, ""},
      {"SZL read passes", Protocol::kS7, true, Dt(S7UserData(0x4, 0x01)), 1, {}, ""},
      {"clock set refused", Protocol::kS7, true, Dt(S7UserData(0x7, 0x02)), 0, userDataError, ""},
      {"a message in two DTs", Protocol::kS7, false, sessions::DataTpdus(S7Read(), 16), 1, {}, ""},
      {"garbage", Protocol::kS7, false, Bytes(8, 0x55), 0, {}, "sent no TPKT packet"},
      {"length 65,535", Protocol::kS7, false, {0x03, 0x00, 0xFF, 0xFF}, 0, {},
       "sent a TPKT packet of 65535 bytes"},
      {"an S7 message too long", Protocol::kS7, false, Dt(Bytes(9000, 0x32)), 0, {},
       "longer than 8192"},
      {"DR", Protocol::kS7, false, {0x03, 0, 0, 0x0B, 0x06, 0x80, 0, 1, 0, 1, 0x80}, 0, {},
       "disconnected (DR)"},
      {"fetch and write, plain", Protocol::kFetchWrite, false,
       Join({S5(S5Opcode::kFetch, 4)}), 1, {}, ""},
      {"write refused with the error byte", Protocol::kFetchWrite, true,
       S5(S5Opcode::kWrite, 4), 0, {0x04, 0x0F, 0x03, sessions::kS5ErrorWriteRefused}, ""},
      {"fetch/write garbage", Protocol::kFetchWrite, false, Bytes(16, 0x01), 0, {},
       "no fetch/write request header"},
      {"fetch/write ISO write", Protocol::kFetchWriteIso, false, Dt(S5(S5Opcode::kWrite, 8)), 1,
       {}, ""},
  };
  for (const SessionRow& row : rows) {
    ClientSession session(row.protocol, row.readOnly);
    if (session.iso()) {
      session.TakeFromClient(Cr(0x0D));
      const std::optional<ConnectRequest> request = session.TakeConnectRequest();
      ASSERT_TRUE(request) << row.name;
      EXPECT_EQ(request->calledTsap, (Bytes{0x03, 0x02})) << row.name;
    }
    session.StationOpen();
    if (session.iso()) {
      // The CC agrees 2,048 bytes for the client's 8,192.
      const Bytes& cc = session.toClient();
      ASSERT_GE(cc.size(), 14u) << row.name;
      EXPECT_EQ(cc[5], 0xD0) << row.name;
      EXPECT_EQ(cc[13], 0x0B) << row.name;
      session.toClient().clear();
    }
    session.TakeFromClient(row.fromClient);
    EXPECT_EQ(session.toStation().size(), row.relayed) << row.name;
    const Bytes& answer = session.toClient();
    if (!row.answerHas.empty()) {
      EXPECT_NE(std::search(answer.begin(), answer.end(), row.answerHas.begin(),
                            row.answerHas.end()),
                answer.end())
          << row.name;
    }
    const std::string ended = session.ended().value_or("");
    EXPECT_NE(ended.find(row.endedWith), std::string::npos) << row.name << ": " << ended;
    EXPECT_EQ(ended.empty(), std::string(row.endedWith).empty()) << row.name << ": " << ended;
  }
}

// The gateway on the namespace pair: the test station (with Snap7's server behind it, or
// answering from its own S5 memory) in the station's namespace, tavhost gateway in the driver's,
// the test's clients on the driver's loopback.
class GatewayOverH1 : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("gateway-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
               "-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    entered_.reset();
    for (pid_t pid : {gateway_, relay_, station_}) {
      if (pid > 0) h1eth::test::StopProgram(pid);
    }
    if (!HasFailure()) std::filesystem::remove_all(folder_);  // kept to be read otherwise
  }

  // Starts the station and the gateway with `routes`; false with the reason to skip.
  bool Start(bool snap7, const std::string& routes, std::string& skip,
             const std::vector<std::string>& relay = {}) {
    network_ = std::make_unique<h1eth::test::TestNetwork>(
        relay.empty() ? h1eth::test::TestNetwork::Shape::kPair
                      : h1eth::test::TestNetwork::Shape::kWithRelay);
    if (!network_->unavailable().empty()) {
      skip = network_->unavailable();
      return false;
    }
    std::vector<std::string> station = {TAV_H1_STATION};
    if (snap7) {
      h1eth::test::InNamespace(network_->station(), [&] {
        server_ = std::make_unique<h1tcp::test::Snap7Server>();
      });
      if (!server_->unavailable().empty()) {
        skip = server_->unavailable();
        return false;
      }
      station.insert(station.end(), {"--snap7-port", std::to_string(server_->port())});
    }
    const std::string stationLog = (folder_ / "station.log").string();
    station_ = network_->Spawn(network_->station(), station, stationLog);
    EXPECT_TRUE(h1eth::test::AwaitLine(stationLog, "ready"));
    if (!relay.empty()) {
      std::vector<std::string> argv = {TAV_BAD_NETWORK};
      argv.insert(argv.end(), relay.begin(), relay.end());
      const std::string relayLog = (folder_ / "relay.log").string();
      relay_ = network_->Spawn(network_->relay(), argv, relayLog);
      EXPECT_TRUE(h1eth::test::AwaitLine(relayLog, "relaying"));
    }
    // The stations by number as well: the driver reads them from the station file.
    std::ofstream(folder_ / "tavSH101.int")
        << "1=7,0A0B0C010201,2\n2=7,0A0B0C010202,3\n"
           "4=5,0A0B0C010204,TSAPLOC1,TSAPRD01,TSAPWR01\n";
    const std::string file = (folder_ / "gateway.toml").string();
    std::ofstream(file) << kHead << "station_file = \"tavSH101.int\"\n" << routes;
    log_ = (folder_ / "gateway.log").string();
    capture_ = (folder_ / "h1.pcap").string();
    setenv("TAV_H1_CAPTURE", capture_.c_str(), 1);
    gateway_ = network_->Spawn(network_->driver(), {TAV_TAVHOST, "gateway", file, "--stats-interval", "1"}, log_);
    EXPECT_TRUE(h1eth::test::AwaitLine(log_, "tavhost gateway: listening on 127.0.0.1:102 (s7)") ||
                h1eth::test::AwaitLine(log_, "tavhost gateway: listening on 127.0.0.1:2000 (fetch-write)"))
        << Log();
    entered_ = std::make_unique<h1eth::test::EnteredNamespace>(network_->driver());
    return true;
  }

  std::string Log() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path folder_;
  std::unique_ptr<h1eth::test::TestNetwork> network_;
  std::unique_ptr<h1tcp::test::Snap7Server> server_;
  std::unique_ptr<h1eth::test::EnteredNamespace> entered_;
  std::string log_;
  std::string capture_;  // the gateway's frames
  pid_t station_ = -1;
  pid_t relay_ = -1;
  pid_t gateway_ = -1;
};

constexpr int kAreaInputs = 0x81, kAreaOutputs = 0x82, kAreaFlags = 0x83, kAreaDb = 0x84;

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
  std::vector<uint8_t> data(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return data;
}

// Every area written through the gateway and read back the same, a 10,000-byte block too.
void ExpectAreasIntact(Snap7Client& client) {
  struct AreaRow {
    int area, block, start, bytes;
  };
  const AreaRow areas[] = {{kAreaDb, 1, 0, 462},     {kAreaDb, 3, 0, 10000}, {kAreaDb, 2, 17, 31},
                           {kAreaInputs, 0, 4, 64},  {kAreaOutputs, 0, 8, 100},
                           {kAreaFlags, 0, 100, 900}};
  uint8_t seed = 1;
  for (const AreaRow& row : areas) {
    std::vector<uint8_t> written = Pattern(static_cast<size_t>(row.bytes), seed++);
    std::vector<uint8_t> read(written.size());
    EXPECT_EQ(client.Write(row.area, row.block, row.start, row.bytes, written.data()), 0);
    EXPECT_EQ(client.Read(row.area, row.block, row.start, row.bytes, read.data()), 0);
    EXPECT_EQ(read, written) << "area " << row.area << " block " << row.block;
  }
}

TEST_F(GatewayOverH1, Snap7ClientReadsAndWritesEveryAreaThroughTheGateway) {
  std::string skip;
  const std::string routes = std::string(kS7Route) + "slot = 2\n" +
                             "[[route]]\nprotocol = \"s7\"\nport = 102\nstation = 2\n"
                             "[[route]]\nprotocol = \"s7\"\nport = 103\n"
                             "station = \"0A0B0C010201\"\nread_only = true\n"
                             "[[route]]\nprotocol = \"s7\"\nport = 104\nstation = \"0A0B0C010201\"\n"
                             "allow = [\"10.9.9.0/24\"]\n";
  if (!Start(true, routes, skip)) GTEST_SKIP() << skip;
  Snap7Client client;
  ASSERT_EQ(client.Connect("127.0.0.1", 102, 0, 2), 0) << Log();
  EXPECT_EQ(client.NegotiatedPdu(), 480);  // the server's, across H1
  ExpectAreasIntact(client);
  int szlBytes = 0;
  EXPECT_EQ(client.ReadSzl(0x0011, 0, szlBytes), 0);
  EXPECT_GT(szlBytes, 0);
  // Another client at once, on the other station (station 2 of the station file: its slot 3
  // routes to it), the first still open.
  Snap7Client second;
  ASSERT_EQ(second.Connect("127.0.0.1", 102, 0, 3), 0) << Log();
  const std::vector<uint8_t> db1 = Pattern(462, 1);
  const std::vector<uint8_t> first(db1.begin(), db1.begin() + 40);
  std::vector<uint8_t> data(40);
  EXPECT_EQ(second.Read(kAreaDb, 1, 0, 40, data.data()), 0);
  EXPECT_EQ(data, first);
  EXPECT_EQ(client.Read(kAreaDb, 1, 0, 40, data.data()), 0);
  EXPECT_EQ(data, first);
  // The read-only route reads, and refuses the write and the stop; nothing reaches the server.
  server_->Events();
  Snap7Client reader;
  ASSERT_EQ(reader.Connect("127.0.0.1", 103, 0, 2), 0) << Log();
  data = Pattern(40, 99);
  EXPECT_EQ(reader.Write(kAreaDb, 1, 0, 40, data.data()), Snap7FunctionRefused());
  EXPECT_NE(reader.StopPlc(), 0);
  EXPECT_EQ(reader.Read(kAreaDb, 1, 0, 40, data.data()), 0);
  EXPECT_EQ(data, first);
  for (const std::string& event : server_->Events(1)) {
    EXPECT_EQ(event.find("write"), std::string::npos) << event;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1'100));  // a statistics line
  EXPECT_NE(Log().find("port 103 s7: clients 1 requests 2 refusals 2"), std::string::npos) << Log();
  // A client outside the allow-list is refused at connect.
  Snap7Client outsider;
  EXPECT_NE(outsider.Connect("127.0.0.1", 104, 0, 2), 0);
  EXPECT_NE(Log().find("refused: not in the allow list of port 104"), std::string::npos) << Log();
}

TEST_F(GatewayOverH1, Snap7ClientsDataStaysIntactAtTenPercentFrameLoss) {
  std::string skip;
  if (!Start(true, kS7Route, skip, {"--seed", "7", "--loss", "10"})) GTEST_SKIP() << skip;
  Snap7Client client;
  ASSERT_EQ(client.Connect("127.0.0.1", 102, 0, 2), 0) << Log();
  ExpectAreasIntact(client);
}

// A TCP connection to the gateway on the driver's loopback.
h1tcp::test::PeerSocket ConnectTo(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  return h1tcp::test::PeerSocket(fd);
}

// One fetch/write exchange: the answer's header and, for a fetch, its data.
std::optional<Bytes> Exchange(h1tcp::test::PeerSocket& socket, bool iso, const Bytes& request,
                              size_t dataBytes) {
  if (!iso) {
    socket.Send(request);
    return socket.Read(sessions::kS5HeaderBytes + dataBytes);
  }
  socket.SendData(request);
  return socket.ReadData();
}

constexpr const char* kFetchWriteRoutes =
    "[[route]]\nprotocol = \"fetch-write\"\nport = 2000\nstation = \"0A0B0C010204\"\n"
    "local_tsap = \"TSAPLOC1\"\nread_tsap = \"TSAPRD01\"\nwrite_tsap = \"TSAPWR01\"\n"
    "[[route]]\nprotocol = \"fetch-write-iso\"\nport = 2001\nstation = \"0A0B0C010204\"\n"
    "local_tsap = \"TSAPLOC1\"\nread_tsap = \"TSAPRD01\"\nwrite_tsap = \"TSAPWR01\"\n"
    "[[route]]\nprotocol = \"fetch-write\"\nport = 2002\nstation = 4\nread_only = true\n";

TEST_F(GatewayOverH1, FetchWriteClientsReachTheStationsS5MemoryByteExact) {
  std::string skip;
  if (!Start(false, kFetchWriteRoutes, skip)) GTEST_SKIP() << skip;
  using sessions::S5Opcode;
  struct AreaRow {
    uint8_t org;
    uint16_t start, length;  // words in data blocks, bytes elsewhere
  };
  const AreaRow areas[] = {{sessions::kS5OrgDataBlock, 0, 64}, {sessions::kS5OrgDataBlock, 10, 3},
                           {sessions::kS5OrgFlags, 0, 200},    {sessions::kS5OrgInputs, 4, 16},
                           {sessions::kS5OrgOutputs, 0, 32}};
  uint8_t seed = 3;
  for (const bool iso : {false, true}) {
    h1tcp::test::PeerSocket socket = ConnectTo(iso ? 2001 : 2000);
    if (iso) {
      const uint8_t local[] = {0x01, 0x00};
      socket.Send(h1tcp::ConnectionRequest(local, local, 1));
      const std::optional<Bytes> confirm = socket.ReadTpkt();
      ASSERT_TRUE(confirm && confirm->size() > 5 && (*confirm)[5] == 0xD0) << Log();
    }
    for (const AreaRow& row : areas) {
      const sessions::S5Request write{S5Opcode::kWrite, row.org, 10, row.start, row.length};
      const Bytes data = Pattern(sessions::S5DataBytes(write), seed++);
      Bytes request = sessions::S5RequestHeader(write);
      request.insert(request.end(), data.begin(), data.end());
      const std::optional<Bytes> ack = Exchange(socket, iso, request, 0);
      ASSERT_TRUE(ack) << Log();
      EXPECT_EQ(sessions::ParseS5AnswerHeader(*ack)->error, sessions::kS5ErrorNone);
      sessions::S5Request fetch = write;
      fetch.opcode = S5Opcode::kFetch;
      const std::optional<Bytes> answer =
          Exchange(socket, iso, sessions::S5RequestHeader(fetch), data.size());
      ASSERT_TRUE(answer && answer->size() == sessions::kS5HeaderBytes + data.size()) << Log();
      EXPECT_EQ(Bytes(answer->begin() + sessions::kS5HeaderBytes, answer->end()), data)
          << "org " << int{row.org} << (iso ? " over ISO" : " plain");
    }
  }
  // The read-only route fetches and refuses the write with the error byte; the memory stays.
  h1tcp::test::PeerSocket reader = ConnectTo(2002);
  const sessions::S5Request write{S5Opcode::kWrite, sessions::kS5OrgDataBlock, 10, 0, 2};
  Bytes request = sessions::S5RequestHeader(write);
  request.resize(request.size() + 4, 0xEE);
  const std::optional<Bytes> ack = Exchange(reader, false, request, 0);
  ASSERT_TRUE(ack) << Log();
  EXPECT_EQ(sessions::ParseS5AnswerHeader(*ack)->error, sessions::kS5ErrorWriteRefused);
  sessions::S5Request fetch = write;
  fetch.opcode = S5Opcode::kFetch;
  const std::optional<Bytes> answer = Exchange(reader, false, sessions::S5RequestHeader(fetch), 4);
  ASSERT_TRUE(answer) << Log();
  const Bytes lastWritten = Pattern(128, 3 + std::size(areas));  // DB 10 over ISO
  EXPECT_EQ(Bytes(answer->begin() + sessions::kS5HeaderBytes, answer->end()),
            Bytes(lastWritten.begin(), lastWritten.begin() + 4));
}

// The class 4 connections the gateway opened, in the order of their CRs, from its capture: each
// by its reference, with whether the gateway sent its DR and the station its DC.
struct Release {
  uint16_t reference;
  bool requested = false;
  bool confirmed = false;
};
std::vector<Release> Releases(const std::string& pcap) {
  constexpr uint8_t kCr = 0xE0, kDr = 0x80, kDc = 0xC0;
  std::vector<Release> releases;
  const auto find = [&](uint16_t reference) {
    return std::find_if(releases.begin(), releases.end(),
                        [&](const Release& r) { return r.reference == reference; });
  };
  Bytes gateway;  // its Ethernet address: every CR is its own
  for (const h1eth::test::Frame& frame : h1eth::test::ReadPcap(pcap).value_or(
           std::vector<h1eth::test::Frame>{})) {
    const std::span<const uint8_t> tpdu = h1eth::test::TpduOf(frame);
    if (tpdu.size() < 6) continue;
    const uint8_t kind = tpdu[1] & 0xF0;
    const uint16_t destination = static_cast<uint16_t>(tpdu[2] << 8 | tpdu[3]);
    const uint16_t source = static_cast<uint16_t>(tpdu[4] << 8 | tpdu[5]);
    const Bytes from(frame.begin() + 6, frame.begin() + 12);
    if (kind == kCr && find(source) == releases.end()) {
      gateway = from;
      releases.push_back({source});
    } else if (kind == kDr && from == gateway && find(source) != releases.end()) {
      find(source)->requested = true;
    } else if (kind == kDc && from != gateway && find(destination) != releases.end()) {
      find(destination)->confirmed = true;
    }
  }
  return releases;
}

// Hostile clients (garbage, a length of 65,535 and nothing after it, no CR, 200 at once) and one
// killed mid-request (its station connections released: DR and DC in the gateway's capture),
// while a good client keeps reading; then the station goes, and the good
// client is closed with the transport's reason.
TEST_F(GatewayOverH1, HostileClientsDoNotStopAGoodOneAndAStationGoneClosesItsClients) {
  std::string skip;
  if (!Start(false, kFetchWriteRoutes + std::string("[[route]]\nprotocol = \"s7\"\nport = 102\n"
                                                    "station = \"0A0B0C010201\"\n"),
             skip))
    GTEST_SKIP() << skip;
  const Bytes fetch = sessions::S5RequestHeader(
      {sessions::S5Opcode::kFetch, sessions::kS5OrgDataBlock, 10, 0, 8});
  h1tcp::test::PeerSocket good = ConnectTo(2000);
  ASSERT_TRUE(Exchange(good, false, fetch, 16)) << Log();
  std::vector<h1tcp::test::PeerSocket> hostile;
  hostile.push_back(ConnectTo(102));
  hostile.back().Send(Bytes(64, 0xA5));
  hostile.push_back(ConnectTo(102));
  hostile.back().Send(Bytes{0x03, 0x00, 0xFF, 0xFF});
  {
    // Its station connections open, then killed in the middle of a request.
    h1tcp::test::PeerSocket killed = ConnectTo(2000);
    ASSERT_TRUE(Exchange(killed, false, fetch, 16)) << Log();
    killed.Send(Bytes(fetch.begin(), fetch.begin() + 9));
    killed.Reset();
  }
  for (int i = 0; i < 200; ++i) hostile.push_back(ConnectTo(102));
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(Exchange(good, false, fetch, 16)) << "exchange " << i << "\n" << Log();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(5'500));  // the CRs' time runs out
  ASSERT_TRUE(Exchange(good, false, fetch, 16)) << Log();
  const std::string log = Log();
  for (const char* line : {"closed: sent no TPKT packet", "closed: sent a TPKT packet of 65535",
                           "refused: 64 clients already", "closed: no CR within 5 s",
                           "closed: the client went"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  // The killed client's read and write connections (after the good client's two): released with
  // DR, and the station's DC came.
  const std::vector<Release> releases = Releases(capture_);
  ASSERT_GE(releases.size(), 4u) << capture_;
  for (const Release& release : {releases[2], releases[3]}) {
    EXPECT_TRUE(release.requested && release.confirmed) << "reference " << release.reference;
  }
  h1eth::test::StopProgram(station_);
  station_ = -1;
  EXPECT_FALSE(Exchange(good, false, fetch, 16));
  EXPECT_NE(Log().find("closed: station 0A0B0C010204 "), std::string::npos) << Log();
}

}  // namespace
}  // namespace tav::gateway::test
