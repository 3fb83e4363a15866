// libh1eth's eleven operations as the driver calls them. Opening refuses at once, with one log
// line, without an interface named, with one that does not exist, and without CAP_NET_RAW (a
// child process without the capability). In a network namespace of the test's own (root only),
// the driver's side runs over its loopback interface against a station of ours in the same
// namespace: connection, write and read back, the capture file, and DR at close.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "h1eth/class4.h"
#include "link.h"
#include "platform/h1_library.h"
#include "plc_responder.h"
#include "results.h"
#include "sim/station.h"
#include "support/fake_host_log.h"

namespace tav::h1eth {
namespace {

// An h1eth.conf with nothing in it: the transport's defaults, whatever /etc/tavsh1 holds.
const std::string& EmptySettingsFile() {
  static const std::string path = [] {
    const std::string file = ::testing::TempDir() + "h1eth-defaults.conf";
    std::fclose(std::fopen(file.c_str(), "w"));
    return file;
  }();
  return path;
}

class H1EthLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("TAV_H1_INTERFACE");
    unsetenv("TAV_H1_CAPTURE");
    setenv("TAV_H1ETH_CONF", EmptySettingsFile().c_str(), 1);
    fake::ClearLog();
  }
  void TearDown() override { H1CloseDriver(); }
};

TEST_F(H1EthLibrary, OpenRefusesWithoutAUsableInterface) {
  struct Row {
    const char* interfaceName;  // nullptr: unset
    const char* logged;
  };
  const Row rows[] = {
      {nullptr,
       "H1ETH: no network interface: set TAV_H1_INTERFACE to the interface of the H1 "
       "network"},
      {"", "H1ETH: no network interface: set TAV_H1_INTERFACE"},
      {"tavnosuch0", "H1ETH: network interface 'tavnosuch0' (TAV_H1_INTERFACE) not found"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.logged);
    if (row.interfaceName != nullptr) setenv("TAV_H1_INTERFACE", row.interfaceName, 1);
    fake::ClearLog();
    EXPECT_EQ(H1OpenDriver(), h1::kNoSockets);
    ASSERT_EQ(fake::LogTexts().size(), 1u);
    EXPECT_EQ(fake::LogTexts()[0].rfind(row.logged, 0), 0u) << fake::LogTexts()[0];
    EXPECT_EQ(H1ConnectionState(1), h1::kDriverNotOpen);
    std::array<uint8_t, sizeof(ConnectRecord)> record{};
    EXPECT_EQ(H1OpenS7Connection(record.data(), 0), h1::kDriverNotOpen);
  }
}

std::string Output(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  std::array<char, 256> chunk{};
  while (fgets(chunk.data(), chunk.size(), pipe) != nullptr) output += chunk.data();
  pclose(pipe);
  return output;
}

TEST_F(H1EthLibrary, OpenWithoutCapNetRawSaysWhatIsMissingAndHow) {
  std::string command =
      "TAV_H1_INTERFACE=lo TAV_H1ETH_CONF=" + EmptySettingsFile() + " " + TAV_H1ETH_OPEN_PROBE;
  if (geteuid() == 0) {
    // Root has every capability: the child runs without CAP_NET_RAW in any of its sets.
    if (std::system("setpriv --version > /dev/null 2>&1") != 0) {
      GTEST_SKIP() << "running as root and setpriv (util-linux) is missing: cannot drop "
                      "CAP_NET_RAW for the child";
    }
    command =
        "TAV_H1_INTERFACE=lo TAV_H1ETH_CONF=" + EmptySettingsFile() +
        " setpriv --inh-caps=-all --bounding-set=-net_raw " TAV_H1ETH_OPEN_PROBE;
  }
  const std::string output = Output(command + " 2>&1");
  EXPECT_EQ(output,
            "H1ETH: no right to raw Ethernet frames on lo: CAP_NET_RAW is missing; run the host "
            "program as root or grant it with 'setcap cap_net_raw+ep' on the host program\n"
            "result 13\n");
}

// The test's own network namespace with its loopback interface up; false when it cannot be made.
bool OwnNetwork(std::string& why) {
  if (unshare(CLONE_NEWNET) != 0) {
    why =
        std::string("no network namespace of the test's own (needs root): ") + std::strerror(errno);
    return false;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  request.ifr_flags = IFF_UP;
  const bool up = fd >= 0 && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  if (fd >= 0) close(fd);
  if (!up) why = "cannot bring the namespace's loopback interface up";
  return up;
}

constexpr EthernetAddress kStationAddress = {0x08, 0x00, 0x06, 0x01, 0x02, 0x03};

// A station of ours on the namespace's loopback interface, answering from a simulated S7
// station's memory on a thread of its own until destroyed.
class LoopbackStation {
 public:
  LoopbackStation() {
    EXPECT_TRUE(plc_.AddBlock(sim::DataBlock(10), 4000));
    LinkOpening opening = OpenPacketLink("lo", {.promiscuous = true});
    link_ = std::move(opening.link);
    if (!link_) return;
    layer_.AddLocalAddress(kStationAddress);
    layer_.SetAcceptor([](ConnectionId, const IncomingRequest&) {
      return Admission{Admission::Verdict::kAccept, 0};
    });
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackStation() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return link_ != nullptr; }
  sim::Station& plc() { return plc_; }
  // How the station's connections ended, once stopped.
  std::vector<ConnectionState> States() const {
    std::vector<ConnectionState> states;
    for (ConnectionId id : layer_.Connections()) states.push_back(layer_.Connection(id)->state());
    return states;
  }

 private:
  static Microseconds Now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
  }
  void Serve() {
    FrameBytes frame;
    while (!stop_) {
      if (link_->Receive(frame, 1000)) layer_.TakeFrame(frame, Now());
      for (ConnectionId id : layer_.Connections()) {
        TransportConnection* connection = layer_.Connection(id);
        while (std::optional<Bytes> message = connection->Receive()) {
          if (std::optional<Bytes> answer = test::AnswerMessage(plc_, *message)) {
            (void)connection->Send(*answer, Now());
          }
        }
      }
      layer_.Tick(Now());
    }
  }

  sim::Station plc_{sim::S7Station("080006010203")};
  std::unique_ptr<Link> link_;
  TransportLayer layer_{TransportSettings{}, [this](ByteView frame) { link_->Send(frame); }};
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

template <typename Poll>
uint16_t PollUntilAnswered(Poll poll) {
  uint16_t result = h1::kNoData;
  for (int i = 0; i < 3000; ++i) {
    result = poll();
    if (result != h1::kNoData && result != h1::kReceiving && result != h1::kNotEstablished) break;
    usleep(1000);
  }
  return result;
}

TEST_F(H1EthLibrary, DriverSideOverAnInterfaceWithCapture) {
  std::string why;
  if (!OwnNetwork(why)) GTEST_SKIP() << why;
  const std::filesystem::path capture = std::filesystem::path(::testing::TempDir()) /
                                        ("h1eth_library_" + std::to_string(getpid()) + ".pcap");
  setenv("TAV_H1_INTERFACE", "lo", 1);
  setenv("TAV_H1_CAPTURE", capture.c_str(), 1);
  std::vector<ConnectionState> ends;
  {
    LoopbackStation station;
    ASSERT_TRUE(station.ok());
    ASSERT_EQ(H1OpenDriver(), h1::kOk);

    ConnectRecord record{};
    record.recordType = 8;
    record.recordVersion = 1;
    record.addressLength = 6;
    std::copy(kStationAddress.begin(), kStationAddress.end(), record.ethernetAddress);
    record.remoteTsapLength = 2;
    record.remoteTsap[0] = 0x03;
    record.remoteTsap[1] = 0x02;
    record.localTsapLength = 2;
    record.localTsap[0] = 0x01;
    ASSERT_EQ(H1OpenS7Connection(&record, 0), h1::kOk);
    EXPECT_EQ(record.statusWord, h1::kConnectSettingUp);
    const uint16_t id = record.connection;
    ASSERT_EQ(PollUntilAnswered([id] { return H1ConnectionState(id); }), h1::kOk);

    std::array<uint8_t, 3000> written{};
    for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(i * 7);
    RequestRecord request{id, 1, 10, 100, static_cast<uint16_t>(written.size())};
    ASSERT_EQ(H1SendWriteRequest(&request, written.data()), h1::kOk);
    uint16_t status = 0xFFFF;
    EXPECT_EQ(PollUntilAnswered([&] { return H1ReceiveWriteAcknowledge(&status, id); }), h1::kOk);
    EXPECT_EQ(status, h1::kStatusGood);
    std::array<uint8_t, 3000> read{};
    ASSERT_EQ(H1SendReadRequest(&request), h1::kOk);
    EXPECT_EQ(
        PollUntilAnswered([&] { return H1ReceiveReadData(read.size(), read.data(), &status, id); }),
        h1::kOk);
    EXPECT_EQ(read, written);
    EXPECT_EQ(H1ReleaseConnection(id), h1::kOk);
    EXPECT_EQ(H1ConnectionState(id), h1::kUnknownConnection);
    EXPECT_EQ(H1CloseDriver(), h1::kOk);
    usleep(20'000);  // the station takes the DR
    ends = station.States();
  }
  EXPECT_TRUE(fake::LogTexts().empty()) << fake::LogTexts().front();
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_NE(ends[0], ConnectionState::kOpen);

  // Every frame the driver's side sent and received, in a file tshark reads as H1.
  EXPECT_GT(std::filesystem::file_size(capture), 24u);
  if (std::system("tshark -v > /dev/null 2>&1") == 0) {
    const std::string kinds =
        Output("tshark -r " + capture.string() + " -T fields -e cotp.type 2>/dev/null | sort -u");
    // AK, DR, CC, CR, DT (and the DC when it came before the link closed).
    for (const char* kind : {"0x06\n", "0x08\n", "0x0d\n", "0x0e\n", "0x0f\n"}) {
      EXPECT_NE(kinds.find(kind), std::string::npos) << kind << " missing in\n" << kinds;
    }
  }
  std::filesystem::remove(capture);
}

// The library's timer thread and a caller awaiting its answer read one link at once: every frame
// that arrives is taken by one of them, and by one only.
TEST(H1EthLink, TwoThreadsTakeEachFrameOnce) {
  std::string why;
  if (!OwnNetwork(why)) GTEST_SKIP() << why;
  const std::unique_ptr<Link> sender = OpenPacketLink("lo").link;
  const std::unique_ptr<Link> receiver = OpenPacketLink("lo", {.promiscuous = true}).link;
  ASSERT_TRUE(sender && receiver);
  constexpr uint16_t kFrames = 4000;
  std::array<std::atomic<int>, kFrames> taken{};
  std::atomic<int> total = 0;
  std::atomic<bool> stop = false;
  const auto take = [&] {
    FrameBytes frame;
    while (!stop) {
      if (receiver->Receive(frame, 0) && frame.size() > 19) {
        ++taken[(frame[18] << 8 | frame[19]) % kFrames];
        ++total;
      }
    }
  };
  std::thread first(take), second(take);
  Bytes frame = EncodeFrame(kStationAddress, {0x08, 0x00, 0x06, 0x09, 0x09, 0x09}, Bytes(40));
  for (uint16_t n = 0; n < kFrames; ++n) {
    while (n - total > 256) std::this_thread::yield();  // within the ring, none dropped
    frame[18] = static_cast<uint8_t>(n >> 8);
    frame[19] = static_cast<uint8_t>(n);
    ASSERT_TRUE(sender->Send(frame));
  }
  for (int i = 0; i < 2000 && total < kFrames; ++i) usleep(1000);
  stop = true;
  first.join();
  second.join();
  EXPECT_EQ(total, kFrames);
  EXPECT_EQ(std::count_if(taken.begin(), taken.end(), [](const auto& t) { return t != 1; }), 0);
}

}  // namespace
}  // namespace tav::h1eth
