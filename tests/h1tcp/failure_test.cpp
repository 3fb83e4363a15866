// Every failure the driver can see, on stations of our own: each ends in a defined result and
// status word within a bounded number of polls, never a hang or a read past a buffer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "h1tcp_test.h"
#include "peer.h"
#include "results.h"
#include "vocabulary/byte_order.h"

namespace tav::h1tcp::test {
namespace {

constexpr const char* kStation = "0A0B0C010201";
constexpr uint16_t kDb = static_cast<uint16_t>(AreaKind::kDataBlock);

std::string MapTo(uint16_t port, const char* protocol = "s7", const char* options = "") {
  return std::string(kStation) + " = 127.0.0.1:" + std::to_string(port) + ", " + protocol +
         options + "\n";
}

// Reads one S7 read request; its reference, or 0.
uint16_t ReadRequest(PeerSocket& socket) {
  const std::optional<Bytes> request = socket.ReadData();
  return request && request->size() >= 6 ? LoadBe16(&(*request)[4]) : 0;
}

class FailureTest : public H1TcpTest {};

TEST_F(FailureTest, ConnectionsThatCannotComeUpSayWhy) {
  struct Row {
    const char* what;
    Peer::Script script;
    uint16_t state;
  };
  const Row rows[] = {
      {"nobody listens", [](Peer& peer) { peer.StopListening(); }, kNotEstablished},
      {"transport refused",
       [](Peer& peer) {
         std::optional<PeerSocket> socket = peer.Accept();
         if (socket && socket->ReadTpkt()) socket->Send(Bytes{3, 0, 0, 11, 6, 0x80, 0, 1, 0, 2, 0});
       },
       kRejected},
      {"setup refused",
       [](Peer& peer) {
         std::optional<PeerSocket> socket = peer.Accept();
         if (!socket || !socket->AcceptIso()) return;
         const uint16_t reference = ReadRequest(*socket);
         socket->SendData(S7AckData(reference, {}, {}, 0x8104));
       },
       kRejected},
      {"reset during set-up",
       [](Peer& peer) {
         std::optional<PeerSocket> socket = peer.Accept();
         if (socket) socket->Reset();
       },
       kNotEstablished},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Peer peer(row.script);
    OpenDriver(MapTo(peer.port()));
    const uint16_t connection = OpenS7(kStation);
    // Well inside the 200 ms after which a refused set-up is tried again.
    EXPECT_EQ(WaitState(connection, 20), row.state);
    H1CloseDriver();
  }
}

TEST_F(FailureTest, AnUnmappedStationNeverComesUp) {
  OpenDriver("; nothing mapped\n");
  const uint16_t connection = OpenS7(kStation);
  EXPECT_EQ(WaitState(connection, 20), kNotEstablished);
  uint16_t status = 0;
  EXPECT_EQ(Read(connection, kDb, 1, 0, 2, status), kNotEstablished);
}

TEST_F(FailureTest, BadAnswersBreakTheConnectionAndNothingPassesTheRequest) {
  struct Row {
    const char* what;
    std::function<void(PeerSocket&, uint16_t)> answer;
    uint16_t result;
    uint16_t status;
  };
  const Row rows[] = {
      {"reset mid-transfer", [](PeerSocket& s, uint16_t) { s.Reset(); }, kConnectionBroken, 0},
      {"closed mid-transfer", [](PeerSocket& s, uint16_t) { s.Close(); }, kConnectionBroken, 0},
      {"short data",
       [](PeerSocket& s, uint16_t ref) {
         s.SendData(S7ReadAnswer(ref, 0xFF, Bytes{1, 2}));
       },
       kConnectionBroken, 0},
      {"more data than asked",
       [](PeerSocket& s, uint16_t ref) { s.SendData(S7ReadAnswer(ref, 0xFF, Bytes(8, 0xAA))); },
       kConnectionBroken, 0},
      {"not S7",
       [](PeerSocket& s, uint16_t ref) {
         Bytes answer = S7ReadAnswer(ref, 0xFF, Bytes{1, 2, 3, 4});
         answer[0] = 0x33;
         s.SendData(answer);
       },
       kConnectionBroken, 0},
      {"lengths past the PDU",
       [](PeerSocket& s, uint16_t ref) {
         Bytes answer = S7ReadAnswer(ref, 0xFF, Bytes{1, 2, 3, 4});
         StoreBe16(&answer[8], 0x4000);
         s.SendData(answer);
       },
       kConnectionBroken, 0},
      {"an answer to nothing asked",
       [](PeerSocket& s, uint16_t ref) {
         s.SendData(S7ReadAnswer(static_cast<uint16_t>(ref + 100), 0xFF, Bytes{1, 2, 3, 4}));
       },
       kConnectionBroken, 0},
      {"no such object",
       [](PeerSocket& s, uint16_t ref) { s.SendData(S7ReadAnswer(ref, 0x0A, {})); }, kOk,
       kStatusNoSuchArea},
      {"out of range", [](PeerSocket& s, uint16_t ref) { s.SendData(S7ReadAnswer(ref, 0x05, {})); },
       kOk, kStatusOutOfRange},
      {"access denied",
       [](PeerSocket& s, uint16_t ref) { s.SendData(S7ReadAnswer(ref, 0x03, {})); }, kOk,
       kStatusS7Item | 0x03},
      {"header error",
       [](PeerSocket& s, uint16_t ref) { s.SendData(S7AckData(ref, {}, {}, 0x8500)); }, kOk,
       0x8500},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Peer peer([&row](Peer& self) {
      std::optional<PeerSocket> socket = self.Accept();
      if (!socket || !socket->AcceptIso() || !socket->AcceptSetup()) return;
      const uint16_t reference = ReadRequest(*socket);
      row.answer(*socket, reference);
      (void)socket->Read(1);  // until the library lets go
    });
    OpenDriver(MapTo(peer.port()));
    const uint16_t connection = OpenS7(kStation);
    ASSERT_EQ(WaitState(connection), kOk);
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    uint16_t status = 0xFFFF;
    EXPECT_EQ(Read(connection, kDb, 1, 0, 4, status), row.result);
    EXPECT_EQ(status, row.status);
    if (row.result != kOk) {
      EXPECT_EQ(H1ConnectionState(connection), kConnectionBroken);
      EXPECT_EQ(Read(connection, kDb, 1, 0, 4, status), kConnectionBroken);
    }
    EXPECT_TRUE(
        std::all_of(std::begin(buffer), std::end(buffer), [](uint8_t b) { return b == 0xEE; }));
    H1CloseDriver();
  }
}

TEST_F(FailureTest, AnAnswerForAnAbandonedRequestIsDropped) {
  Peer peer([](Peer& self) {
    std::optional<PeerSocket> socket = self.Accept();
    if (!socket || !socket->AcceptIso() || !socket->AcceptSetup(480, 2)) return;
    const uint16_t first = ReadRequest(*socket);
    const uint16_t second = ReadRequest(*socket);
    socket->SendData(S7ReadAnswer(first, 0xFF, Bytes{0x11, 0x11}));
    socket->SendData(S7ReadAnswer(second, 0xFF, Bytes{0x22, 0x22}));
    (void)socket->Read(1);
  });
  OpenDriver(MapTo(peer.port()));
  const uint16_t connection = OpenS7(kStation);
  ASSERT_EQ(WaitState(connection), kOk);
  RequestRecord abandoned{connection, kDb, 1, 0, 2};
  ASSERT_EQ(H1SendReadRequest(&abandoned), kOk);
  uint16_t status = 0xFFFF;
  ASSERT_EQ(Read(connection, kDb, 1, 2, 2, status), kOk);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(buffer[0], 0x22);
  EXPECT_EQ(buffer[1], 0x22);
  H1CloseDriver();  // lets the station's side end
}

// PDU 240 leaves 222 bytes per read; with two parallel jobs the third request waits for an
// answer. The pieces come back out of order and land in order.
TEST_F(FailureTest, SplitReadsKeepToTheParallelJobsAndReassembleInOrder) {
  Peer peer([](Peer& self) {
    std::optional<PeerSocket> socket = self.Accept();
    if (!socket || !socket->AcceptIso() || !socket->AcceptSetup(240, 2)) return;
    std::optional<Bytes> one = socket->ReadData();
    std::optional<Bytes> two = socket->ReadData();
    if (!one || !two) return;
    auto answer = [&](const Bytes& request) {
      const uint16_t bytes = LoadBe16(&request[16]);
      const uint32_t at = LoadBe24(&request[21]) / 8;
      Bytes data(bytes);
      for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(at + i);
      socket->SendData(S7ReadAnswer(LoadBe16(&request[4]), 0xFF, data));
    };
    answer(*two);
    answer(*one);
    std::optional<Bytes> three = socket->ReadData();
    if (three) answer(*three);
    (void)socket->Read(1);
  });
  OpenDriver(MapTo(peer.port(), "s7", ", pdu=240"));
  const uint16_t connection = OpenS7(kStation);
  ASSERT_EQ(WaitState(connection), kOk);
  uint16_t status = 0xFFFF;
  ASSERT_EQ(Read(connection, kDb, 1, 0, 500, status), kOk);
  EXPECT_EQ(status, kStatusGood);
  for (size_t i = 0; i < 500; ++i) ASSERT_EQ(buffer[i], static_cast<uint8_t>(i)) << i;
  H1CloseDriver();  // lets the station's side end
}

// One request at a time, answered at once: each answer taken lets the next request go out
// before the receive waits again, so the receive calls that find the transfer unfinished stay
// few (one per request when the next request waited for the driver's next poll).
TEST_F(FailureTest, APromptStationsSplitReadNeedsNoPollPerRequest) {
  Peer peer([](Peer& self) {
    std::optional<PeerSocket> socket = self.Accept();
    if (!socket || !socket->AcceptIso() || !socket->AcceptSetup(240, 1)) return;
    while (std::optional<Bytes> request = socket->ReadData()) {
      Bytes data(LoadBe16(&(*request)[16]), 0x5A);
      socket->SendData(S7ReadAnswer(LoadBe16(&(*request)[4]), 0xFF, data));
    }
  });
  OpenDriver(MapTo(peer.port(), "s7", ", pdu=240, jobs=1"));
  const uint16_t connection = OpenS7(kStation);
  ASSERT_EQ(WaitState(connection), kOk);
  RequestRecord request{connection, kDb, 1, 0, 2220};  // 10 requests of 222 bytes
  ASSERT_EQ(H1SendReadRequest(&request), kOk);
  uint16_t status = 0xFFFF;
  int unfinished = 0;
  uint16_t result = kNoData;
  for (; unfinished < 2000; ++unfinished) {
    result = H1ReceiveReadData(sizeof buffer, buffer, &status, connection);
    if (!IsWaiting(result)) break;
  }
  ASSERT_EQ(result, kOk);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(buffer[2219], 0x5A);
  // Fewer unfinished calls than requests: one call collects answers as they keep arriving. A
  // loaded machine may hold the station's side up now and then, so a few are allowed.
  EXPECT_LT(unfinished, 10);
  H1CloseDriver();
}

TEST_F(FailureTest, RequestsDecidedWithoutAskingTheStation) {
  Peer peer([](Peer& self) {
    std::optional<PeerSocket> socket = self.Accept();
    if (!socket || !socket->AcceptIso() || !socket->AcceptSetup()) return;
    (void)socket->Read(1);
  });
  OpenDriver(MapTo(peer.port()));
  const uint16_t connection = OpenS7(kStation);
  ASSERT_EQ(WaitState(connection), kOk);
  struct Row {
    uint16_t areaKind, length, status;
  };
  const Row rows[] = {
      {static_cast<uint16_t>(AreaKind::kExtendedDataBlock), 2, kStatusNoSuchArea},
      {99, 2, kStatusNoSuchArea},
      {kDb, 10'001, kStatusTooLong},
      {kDb, 0, kStatusGood},
  };
  for (const Row& row : rows) {
    uint16_t status = 0xFFFF;
    EXPECT_EQ(Read(connection, row.areaKind, 1, 0, row.length, status, 1), kOk);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(Write(connection, row.areaKind, 1, 0, row.length, status, 1), kOk);
    EXPECT_EQ(status, row.status);
  }
  uint16_t status = 0;
  EXPECT_EQ(H1ReceiveReadData(sizeof buffer, buffer, &status, connection), kNoRequest);
  H1CloseDriver();  // lets the station's side end
}

TEST_F(FailureTest, ARestartBringsABrokenConnectionBack) {
  Peer peer([](Peer& self) {
    std::optional<PeerSocket> first = self.Accept();
    if (!first || !first->AcceptIso() || !first->AcceptSetup()) return;
    first->Close();
    std::optional<PeerSocket> second = self.Accept();
    if (!second || !second->AcceptIso() || !second->AcceptSetup()) return;
    const uint16_t reference = ReadRequest(*second);
    second->SendData(S7ReadAnswer(reference, 0xFF, Bytes{0x12, 0x34}));
    (void)second->Read(1);
  });
  OpenDriver(MapTo(peer.port()));
  const uint16_t connection = OpenS7(kStation);
  ASSERT_EQ(WaitState(connection), kOk);
  uint16_t status = 0;
  // Once the close has arrived, a send says so before it sends.
  RequestRecord request{connection, kDb, 1, 0, 2};
  uint16_t sent = kOk;
  for (int i = 0; i < 200 && sent == kOk; ++i) {
    sent = H1SendReadRequest(&request);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(sent, kConnectionBroken);
  EXPECT_EQ(H1ConnectionState(connection), kConnectionBroken);
  ASSERT_EQ(H1RestartConnection(connection), kOk);
  ASSERT_EQ(WaitState(connection), kOk);
  ASSERT_EQ(Read(connection, kDb, 1, 0, 2, status), kOk);
  EXPECT_EQ(buffer[0], 0x12);
  H1CloseDriver();  // lets the station's side end
}

// A map that is no regular file (a FIFO would hold the open until someone writes to it) or that
// never ends leaves every station down, at once.
TEST_F(FailureTest, AMapThatIsNoRegularFileOrNeverEndsIsRefusedAtOnce) {
  const std::string fifo = testing::TempDir() + "h1tcp_map_fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& file : {std::string("/dev/zero"), std::string("/dev/urandom"), fifo,
                                  testing::TempDir()}) {
    SCOPED_TRACE(file);
    setenv("TAV_H1TCP_MAP", file.c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(H1OpenDriver(), kOk);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(WaitState(OpenS7(kStation), 5), kNotEstablished);
    H1CloseDriver();
  }
}

// A host name is looked up once, when the map is read: one that does not resolve leaves the
// station down without a lookup on every poll.
TEST_F(FailureTest, AHostNameThatDoesNotResolveLeavesTheStationDown) {
  OpenDriver(std::string(kStation) + " = no-such-host.invalid, s7\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitState(OpenS7(kStation), 50), kNotEstablished);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(FailureTest, OperationsOutsideTheirContract) {
  uint16_t status = 0;
  EXPECT_EQ(H1ConnectionState(1), kDriverNotOpen);
  OpenDriver("");
  EXPECT_EQ(H1ConnectionState(77), kUnknownConnection);
  EXPECT_EQ(H1ReleaseConnection(77), kUnknownConnection);
  EXPECT_EQ(H1SendReadRequest(nullptr), kBadArgument);
  EXPECT_EQ(H1ReceiveReadData(10, nullptr, &status, 1), kBadArgument);
  EXPECT_EQ(H1ReceiveWriteAcknowledge(nullptr, 1), kBadArgument);
  EXPECT_EQ(H1OpenS7Connection(nullptr, 0), kBadArgument);
  ConnectRecord record{};
  EXPECT_EQ(H1OpenS7Connection(&record, 0), kBadArgument);  // address length 0
}

}  // namespace
}  // namespace tav::h1tcp::test
