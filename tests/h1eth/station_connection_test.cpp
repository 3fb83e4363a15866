// One driver connection over class 4, against a station of ours: two transport layers wired
// together in memory on a clock of the test's, the station's layer answering each TSDU from a
// simulated station's memory. What the driver sees: the set-up, S7 and S5 exchanges (long blocks
// over many DTs within a credit above 1), a refusal with its reason, a station that never answers
// (tried again after the pause), and one that vanishes once established (broken until restarted).
#include "station_connection.h"

#include <gtest/gtest.h>

#include <deque>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "plc_responder.h"
#include "results.h"
#include "sim/station.h"

namespace tav::h1eth {
namespace {

constexpr EthernetAddress kDriverAddress = {0x08, 0x00, 0x06, 0x00, 0x00, 0x01};
constexpr EthernetAddress kStationAddress = {0x08, 0x00, 0x06, 0x01, 0x02, 0x03};
constexpr Microseconds kStep = 1'000;

TransportSettings ShortTimers() {
  TransportSettings settings;
  settings.retransmissionTime = 20'000;
  settings.maxTransmissions = 3;
  settings.inactivityTime = 500'000;
  settings.windowTime = 100'000;
  return settings;
}

// The driver's layer and the station's, each frame handed across on the next step.
class Wire {
 public:
  explicit Wire(sim::StationConfig config) : plc_(std::move(config)) {
    driver_.AddLocalAddress(kDriverAddress);
    station_.AddLocalAddress(kStationAddress);
    station_.SetAcceptor([this](ConnectionId id, const IncomingRequest&) {
      if (admission_.verdict == Admission::Verdict::kAccept) accepted_.push_back(id);
      return admission_;
    });
  }

  // Moves time on by one step: frames across (unless the station is gone), the station's
  // answers, both layers' timers.
  void Step() {
    now_ += kStep;
    while (!inFlight_.empty()) {
      auto [toStation, frame] = std::move(inFlight_.front());
      inFlight_.pop_front();
      if (stationGone_) continue;
      (toStation ? station_ : driver_).TakeFrame(frame, now_);
      Answer();
    }
    driver_.Tick(now_);
    station_.Tick(now_);
  }

  // Steps until `done` holds, at most `steps` times; whether it did.
  template <typename Done>
  bool StepUntil(Done done, int steps = 2000) {
    for (int i = 0; i < steps; ++i) {
      if (done()) return true;
      Step();
    }
    return done();
  }

  StationAddressing Addressing(Bytes local, Bytes remote) const {
    return {{kDriverAddress, kStationAddress}, std::move(local), std::move(remote)};
  }

  TransportLayer& driver() { return driver_; }
  sim::Station& plc() { return plc_; }
  Microseconds now() const { return now_; }
  void Refuse(uint8_t reason) { admission_ = {Admission::Verdict::kRefuse, reason}; }
  void SetGone(bool gone) { stationGone_ = gone; }
  size_t frames() const { return framesSent_; }
  TransportConnection* accepted(size_t i) { return station_.Connection(accepted_.at(i)); }

 private:
  void Answer() {
    for (ConnectionId id : accepted_) {
      TransportConnection* connection = station_.Connection(id);
      while (connection != nullptr) {
        std::optional<Bytes> message = connection->Receive();
        if (!message) break;
        if (std::optional<Bytes> answer = test::AnswerMessage(plc_, *message)) {
          ASSERT_TRUE(connection->Send(*answer, now_));
        }
      }
    }
  }
  void Carry(bool toStation, ByteView frame) {
    ++framesSent_;
    inFlight_.emplace_back(toStation, Bytes(frame.begin(), frame.end()));
  }

  Microseconds now_ = 1'000'000;
  sim::Station plc_;
  std::deque<std::pair<bool, Bytes>> inFlight_;
  size_t framesSent_ = 0;
  bool stationGone_ = false;
  Admission admission_{Admission::Verdict::kAccept, 0};
  std::vector<ConnectionId> accepted_;
  TransportLayer driver_{ShortTimers(), [this](ByteView frame) { Carry(true, frame); }};
  TransportLayer station_{ShortTimers(), [this](ByteView frame) { Carry(false, frame); }};
};

struct Logged {
  std::vector<std::string> lines;
  ConnectionLog log() {
    return [this](const std::string& line) { lines.push_back(line); };
  }
};

bool Up(Wire& wire, StationConnection& connection) {
  return wire.StepUntil([&] { return connection.State(wire.now()) == h1::kOk; });
}

// A read through the connection, polled as the driver polls: the result and the data.
std::pair<uint16_t, Bytes> Read(Wire& wire, StationConnection& connection, RequestRecord request,
                                size_t bytes) {
  EXPECT_EQ(connection.SendRead(request, wire.now()), h1::kOk);
  Bytes buffer(bytes);
  uint16_t status = 0;
  uint16_t result = h1::kNoData;
  wire.StepUntil([&] {
    result = connection.ReceiveRead(buffer, status, wire.now());
    return result != h1::kNoData && result != h1::kReceiving;
  });
  EXPECT_EQ(status, h1::kStatusGood);
  return {result, buffer};
}

uint16_t Write(Wire& wire, StationConnection& connection, RequestRecord request,
               const Bytes& data) {
  EXPECT_EQ(connection.SendWrite(request, data.data(), wire.now()), h1::kOk);
  uint16_t status = 0;
  uint16_t result = h1::kNoData;
  wire.StepUntil([&] {
    result = connection.ReceiveWriteAcknowledge(status, wire.now());
    return result != h1::kNoData && result != h1::kReceiving;
  });
  EXPECT_EQ(status, h1::kStatusGood);
  return result;
}

Bytes Pattern(size_t bytes) {
  Bytes data(bytes);
  std::iota(data.begin(), data.end(), uint8_t{7});
  return data;
}

struct ExchangeRow {
  const char* name;
  sim::StationConfig config;
  sessions::Dialect dialect;
  Bytes localTsap;
  Bytes remoteTsap;
  uint16_t blockUnits;  // of data block 10: bytes (S7), words (S5)
  uint16_t unitBytes;
};

TEST(H1EthStationConnection, LongBlocksWrittenAndReadBackOverManyDts) {
  const Bytes s5Local = {'K', 'O', 'R', 'V', 'A', 'L', ' ', ' '};
  const Bytes s5Read = {'K', 'O', 'R', 'R', 'E', 'A', 'D', ' '};
  const ExchangeRow rows[] = {
      {"S7",
       sim::S7Station("080006010203"),
       sessions::Dialect::kS7,
       {0x01, 0x00},
       {0x03, 0x02},
       10'000,
       1},
      {"S5", sim::S5Station("080006010203"), sessions::Dialect::kS5, s5Local, s5Read, 5'000, 2},
  };
  for (const ExchangeRow& row : rows) {
    SCOPED_TRACE(row.name);
    Wire wire(row.config);
    ASSERT_TRUE(wire.plc().AddBlock(sim::DataBlock(10), 65'535));
    Logged logged;
    StationConnection connection(wire.driver(), wire.Addressing(row.localTsap, row.remoteTsap),
                                 row.dialect, {}, logged.log());
    // Nothing goes out before the open starts it.
    EXPECT_EQ(connection.State(wire.now()), h1::kNotEstablished);
    wire.Step();
    EXPECT_EQ(wire.frames(), 0u);
    connection.Start(wire.now());
    ASSERT_TRUE(Up(wire, connection));

    const RequestRecord block{1, 1, 10, 3, row.blockUnits};
    const Bytes data = Pattern(size_t{row.blockUnits} * row.unitBytes);
    EXPECT_EQ(Write(wire, connection, block, data), h1::kOk);
    const auto [result, readBack] = Read(wire, connection, block, data.size());
    EXPECT_EQ(result, h1::kOk);
    if (row.dialect == sessions::Dialect::kS7) {
      EXPECT_EQ(readBack, data);
      EXPECT_EQ(wire.plc().Bytes(sim::DataBlock(10), 3, data.size()), data);
    } else {
      // The session hands S5 words to the driver in host order; the PLC holds them high first.
      EXPECT_EQ(readBack, data);
      EXPECT_EQ(wire.plc().Word(sim::DataBlock(10), 3), uint16_t(data[1] << 8 | data[0]));
    }
    // The block crossed in many DTs, more than one of them unacknowledged at a time.
    EXPECT_GT(connection.transport()->counters().dtsSent, 4u);
    EXPECT_GT(connection.transport()->counters().largestDtsInFlight, 1u);
    EXPECT_GT(wire.accepted(0)->counters().largestDtsInFlight, 1u);
    EXPECT_TRUE(logged.lines.empty()) << logged.lines.front();
  }
}

// A station that repeats an answer nobody waits for (one of an earlier connection on the same
// reference, say): it is dropped and counted, and the next read gets its own answer.
TEST(H1EthStationConnection, AnAnswerNobodyAwaitsIsDroppedNotTakenForTheNext) {
  const Bytes s5Local = {'K', 'O', 'R', 'V', 'A', 'L', ' ', ' '};
  const Bytes s5Read = {'K', 'O', 'R', 'R', 'E', 'A', 'D', ' '};
  Wire wire(sim::S5Station("080006010203"));
  ASSERT_TRUE(wire.plc().AddBlock(sim::DataBlock(10), 100));
  StationConnection connection(wire.driver(), wire.Addressing(s5Local, s5Read),
                               sessions::Dialect::kS5, {});
  connection.Start(wire.now());
  ASSERT_TRUE(Up(wire, connection));
  const Bytes data = Pattern(8);
  EXPECT_EQ(Write(wire, connection, {1, 1, 10, 0, 4}, data), h1::kOk);
  // The answer to a fetch of word 0, sent while no request is on its way.
  const std::optional<Bytes> stale = test::AnswerMessage(
      wire.plc(),
      sessions::S5RequestHeader({sessions::S5Opcode::kFetch, sessions::kS5OrgDataBlock, 10, 0, 1}));
  ASSERT_TRUE(stale);
  ASSERT_TRUE(wire.accepted(0)->Send(*stale, wire.now()));
  wire.StepUntil(
      [&] { return connection.State(wire.now()) == h1::kOk && connection.strayMessages(); }, 100);
  EXPECT_EQ(connection.strayMessages(), 1u);
  const auto [result, word2] = Read(wire, connection, {1, 1, 10, 2, 1}, 2);
  EXPECT_EQ(result, h1::kOk);
  EXPECT_EQ(word2, Bytes(data.begin() + 4, data.begin() + 6));
}

TEST(H1EthStationConnection, RefusalIsRejectedWithTheReasonInWords) {
  Wire wire(sim::S7Station("080006010203"));
  wire.Refuse(0x81);  // congestion at the TSAP
  Logged logged;
  StationConnection connection(wire.driver(), wire.Addressing({0x01, 0x00}, {0x03, 0x02}),
                               sessions::Dialect::kS7, {}, logged.log());
  connection.Start(wire.now());
  EXPECT_TRUE(wire.StepUntil([&] { return connection.State(wire.now()) == h1::kRejected; }));
  ASSERT_EQ(logged.lines.size(), 1u);
  EXPECT_EQ(logged.lines[0].rfind("station 080006010203 TSAP 0302 not connected: ISO connection "
                                  "refused: reason 0x81, ",
                                  0),
            0u)
      << logged.lines[0];
  // Refused stays refused until restarted; restarted, it asks again.
  const size_t frames = wire.frames();
  wire.StepUntil([] { return false; }, 100);
  EXPECT_EQ(connection.State(wire.now()), h1::kRejected);
  connection.Start(wire.now());
  wire.Step();
  EXPECT_GT(wire.frames(), frames);
}

TEST(H1EthStationConnection, SilentStationIsAskedAgainAfterThePause) {
  Wire wire(sim::S7Station("080006010203"));
  wire.SetGone(true);
  Logged logged;
  StationConnection connection(wire.driver(), wire.Addressing({0x01, 0x00}, {0x03, 0x02}),
                               sessions::Dialect::kS7, {}, logged.log());
  connection.Start(wire.now());
  // Three CRs 20 ms apart, then one line saying so; still "being set up", never refused.
  EXPECT_TRUE(wire.StepUntil([&] {
    EXPECT_EQ(connection.State(wire.now()), h1::kNotEstablished);
    return !logged.lines.empty();
  }));
  EXPECT_EQ(wire.frames(), 3u);
  EXPECT_NE(logged.lines[0].find("not connected: no answer"), std::string::npos) << logged.lines[0];
  // The station comes back: after the pause the next CR finds it.
  wire.SetGone(false);
  EXPECT_TRUE(wire.StepUntil([&] { return connection.State(wire.now()) == h1::kOk; },
                             static_cast<int>(kSetUpRetryDelay / kStep) + 200));
}

TEST(H1EthStationConnection, VanishedStationBreaksTheConnectionUntilRestarted) {
  Wire wire(sim::S7Station("080006010203"));
  ASSERT_TRUE(wire.plc().AddBlock(sim::DataBlock(10), 100));
  Logged logged;
  StationConnection connection(wire.driver(), wire.Addressing({0x01, 0x00}, {0x03, 0x02}),
                               sessions::Dialect::kS7, {}, logged.log());
  connection.Start(wire.now());
  ASSERT_TRUE(Up(wire, connection));
  wire.SetGone(true);
  EXPECT_EQ(connection.SendRead({1, 1, 10, 0, 4}, wire.now()), h1::kOk);
  EXPECT_TRUE(
      wire.StepUntil([&] { return connection.State(wire.now()) == h1::kConnectionBroken; }));
  ASSERT_EQ(logged.lines.size(), 1u);
  EXPECT_NE(logged.lines[0].find("connection broken: "), std::string::npos) << logged.lines[0];
  uint16_t status = 0;
  Bytes buffer(4);
  EXPECT_EQ(connection.ReceiveRead(buffer, status, wire.now()), h1::kConnectionBroken);

  wire.SetGone(false);
  connection.Start(wire.now());
  ASSERT_TRUE(Up(wire, connection));
  EXPECT_EQ(Read(wire, connection, {1, 1, 10, 0, 4}, 4).first, h1::kOk);
}

}  // namespace
}  // namespace tav::h1eth
