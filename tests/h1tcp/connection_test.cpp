// The connection's state machine with its transports and sessions, on scripted sockets: why a
// set-up fails, in the words the log gives, and transfers that run through the real framing.
#include "connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "peer.h"
#include "scripted_sockets.h"
#include "vocabulary/byte_order.h"

namespace tav::h1tcp::test {
namespace {

constexpr uint16_t kDb = static_cast<uint16_t>(AreaKind::kDataBlock);

Station StationOf(Protocol protocol) {
  Route route;
  route.address = {10, 11, 12, 1, 2, 1};
  route.host = "plc";
  route.port = protocol == Protocol::kS5Tcp ? 2000 : 102;
  route.protocol = protocol;
  return {route, Endpoint{{}, 1}, std::nullopt};
}

// Each TPKT packet in `sent`, in order.
std::vector<Bytes> Packets(const Bytes& sent) {
  std::vector<Bytes> packets;
  for (size_t at = 0; at + 4 <= sent.size();) {
    const size_t size = LoadBe16(&sent[at + 2]);
    packets.emplace_back(sent.begin() + static_cast<ptrdiff_t>(at),
                         sent.begin() + static_cast<ptrdiff_t>(at + size));
    at += size;
  }
  return packets;
}

const Bytes kConfirm{3, 0, 0, 11, 6, 0xD0, 0, 1, 0, 1, 0};

// An S7 station: confirms the transport, grants the setup, and answers each read with bytes
// that count up from the address.
void S7Station(const Bytes& sent, ScriptedSockets& sockets, uint16_t pdu, uint16_t jobs) {
  for (const Bytes& packet : Packets(sent)) {
    Bytes answer;
    if (packet[5] == 0xE0) {
      answer = kConfirm;
    } else {
      const ByteView pduBytes = ByteView(packet).subspan(7);
      const uint16_t reference = LoadBe16(&pduBytes[4]);
      const ByteView parameter = pduBytes.subspan(10);
      if (parameter[0] == 0xF0) {
        const Bytes granted{0xF0,
                            0,
                            0,
                            static_cast<uint8_t>(jobs),
                            0,
                            static_cast<uint8_t>(jobs),
                            static_cast<uint8_t>(pdu >> 8),
                            static_cast<uint8_t>(pdu)};
        answer = DataTpdus(S7AckData(reference, granted, {}), 1024);
      } else {
        const uint16_t bytes = LoadBe16(&parameter[6]);
        const uint32_t address = LoadBe24(&parameter[11]) / 8;
        Bytes data(bytes);
        for (uint16_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(address + i);
        answer = DataTpdus(S7ReadAnswer(reference, 0xFF, data), 1024);
      }
    }
    sockets.incoming.insert(sockets.incoming.end(), answer.begin(), answer.end());
  }
}

TEST(ConnectionTest, AFailedSetUpSaysWhyOnceAnAttempt) {
  struct Row {
    const char* what;
    std::function<void(ScriptedSockets&)> script;
    uint16_t state;
    std::string log;  // after "station 0A0B0C010201 at plc:102 not connected: "
  };
  const auto answers = [](Bytes bytes) {
    return [bytes](const Bytes&, ScriptedSockets& sockets) {
      if (sockets.incoming.empty()) sockets.incoming = bytes;
    };
  };
  const Row rows[] = {
      {"refused",
       [](ScriptedSockets& s) { s.connect = Io::kFailed, s.why = SocketFailure::kRefused; },
       kNotEstablished, "connection refused"},
      {"unreachable",
       [](ScriptedSockets& s) { s.connect = Io::kFailed, s.why = SocketFailure::kUnreachable; },
       kNotEstablished, "unreachable"},
      {"time-out",
       [](ScriptedSockets& s) {
         s.connect = Io::kWouldBlock, s.finish = Io::kFailed, s.why = SocketFailure::kTimedOut;
       },
       kNotEstablished, "time-out"},
      {"ISO refusal",
       [&](ScriptedSockets& s) {
         s.station = answers({3, 0, 0, 11, 6, 0x80, 0, 1, 0, 2, 0x81});
       },
       kRejected, "ISO connection refused: reason 0x81, congestion at the remote transport entity"},
      {"S7 setup refused",
       [](ScriptedSockets& s) {
         s.station = [](const Bytes& sent, ScriptedSockets& sockets) {
           if (sent[5] == 0xE0) return sockets.incoming = kConfirm, void();
           const Bytes refusal = DataTpdus(S7AckData(LoadBe16(&sent[11]), {}, {}, 0x8104), 1024);
           sockets.incoming = refusal;
         };
       },
       kRejected, "S7 set-up refused: error 0x8104"},
      {"closed", [](ScriptedSockets& s) { s.closeWhenDrained = true; }, kNotEstablished,
       "connection closed by the station during the set-up"},
      {"reset", [](ScriptedSockets& s) { s.resetWhenDrained = true; }, kNotEstablished,
       "connection reset during the set-up"},
      {"no TPKT",
       [&](ScriptedSockets& s) {
         s.station = answers({9, 9, 9, 9, 9});
       },
       kNotEstablished, "malformed answer during the set-up"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScriptedSockets sockets;
    row.script(sockets);
    std::vector<std::string> lines;
    const Station station = StationOf(Protocol::kS7);
    Connection connection(sockets, &station, Role::kS7, {1, 0}, {3, 2},
                          [&](const std::string& line) { lines.push_back(line); });
    connection.Start();
    EXPECT_EQ(connection.State(), row.state);
    EXPECT_EQ(connection.State(), row.state);  // no second attempt before the back-off
    sockets.now += kRetryMilliseconds;
    connection.State();
    const std::string expected = "station 0A0B0C010201 at plc:102 not connected: " + row.log;
    EXPECT_EQ(lines, std::vector<std::string>(2, expected));
  }
}

TEST(ConnectionTest, ANameThatDidNotResolveNeverConnects) {
  ScriptedSockets sockets;
  Station station = StationOf(Protocol::kS7);
  station.endpoint.reset();
  std::vector<std::string> lines;
  Connection connection(sockets, &station, Role::kS7, {}, {},
                        [&](const std::string& line) { lines.push_back(line); });
  connection.Start();
  EXPECT_EQ(connection.State(), kNotEstablished);
  EXPECT_EQ(connection.failure().failure, SetUpFailure::kNameNotFound);
  EXPECT_TRUE(sockets.sent.empty());
  EXPECT_TRUE(lines.empty());  // said once, when the map was read
}

TEST(ConnectionTest, ASplitS7ReadRunsThroughTheRealFraming) {
  ScriptedSockets sockets;
  sockets.station = [](const Bytes& sent, ScriptedSockets& s) { S7Station(sent, s, 240, 3); };
  const Station station = StationOf(Protocol::kS7);
  Connection connection(sockets, &station, Role::kS7, {1, 0}, {3, 2});
  connection.Start();
  ASSERT_EQ(connection.State(), kOk);
  EXPECT_EQ(connection.pduBytes(), 240);
  EXPECT_EQ(connection.parallelJobs(), 3);
  RequestRecord request{};
  request.areaKind = kDb;
  request.blockNumber = 1;
  request.start = 100;
  request.length = 1000;
  ASSERT_EQ(connection.SendRead(request), kOk);
  uint8_t buffer[1000] = {};
  uint16_t status = 0xFFFF;
  ASSERT_EQ(connection.ReceiveRead(sizeof buffer, buffer, status), kOk);
  EXPECT_EQ(status, kStatusGood);
  for (size_t i = 0; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], uint8_t(100 + i)) << i;
  // The CR, the setup and five reads of at most 222 bytes each.
  EXPECT_EQ(Packets(sockets.sent).size(), 7u);
}

TEST(ConnectionTest, AnS5FetchOverPlainTcpIsDelimitedByItsRequest) {
  ScriptedSockets sockets;
  sockets.station = [](const Bytes& sent, ScriptedSockets& s) {
    const std::optional<S5Request> request = ParseS5RequestHeader(sent);
    ASSERT_TRUE(request);
    Bytes answer = S5AnswerHeader({S5Opcode::kFetchAck, 0});
    for (uint16_t i = 0; i < request->length * 2; ++i) answer.push_back(static_cast<uint8_t>(i));
    // The answer arrives in two parts, the second with a byte too many.
    s.incoming.insert(s.incoming.end(), answer.begin(), answer.begin() + 10);
    s.incoming.insert(s.incoming.end(), answer.begin() + 10, answer.end());
  };
  const Station station = StationOf(Protocol::kS5Tcp);
  Connection connection(sockets, &station, Role::kS5Read, {}, {});
  connection.Start();
  ASSERT_EQ(connection.State(), kOk);
  RequestRecord request{};
  request.areaKind = kDb;
  request.blockNumber = 5;
  request.length = 3;
  ASSERT_EQ(connection.SendRead(request), kOk);
  uint8_t buffer[6] = {};
  uint16_t status = 0xFFFF;
  ASSERT_EQ(connection.ReceiveRead(sizeof buffer, buffer, status), kOk);
  EXPECT_EQ(status, kStatusGood);
  // Words high byte first on the wire, low byte first in the transfer buffer.
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{1, 0, 3, 2, 5, 4}));
}

}  // namespace
}  // namespace tav::h1tcp::test
