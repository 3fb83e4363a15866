// libh1tcp's Windows DLL under Wine, with the Windows driver: tavhost.exe --tcp-map hands
// tavsh1.dll's H1 imports on to the TCP DLL, and every kind of tag is written and read back on
// Snap7's S7 server (an implementation no one here wrote) and on our S5 fetch/write responder over
// plain TCP and ISO on TCP. The stations run here on the build machine, on loopback. And
// libh1eth's Windows DLL on real frames: tavhost.exe --h1-interface in a network namespace, the
// test H1 station in another (the H1*OverEthDll fixtures below).
//
// Usage: wine_h1tcp_test --runner RUN_UNDER_WINE --prefix WINEPREFIX (--probe PROBE | --win64)
//                        --tavhost TAVHOST.EXE --h1-station PROGRAM --bad-network PROGRAM
//                        [GoogleTest options]
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "frame_judge.h"
#include "long_blocks.h"
#include "netns.h"
#include "s5_responder.h"
#include "snap7_process.h"
#include "wine_runner.h"

namespace tav {
namespace {

using h1tcp::Bytes;
using h1tcp::test::S5Responder;
using h1tcp::test::Snap7Server;

struct Options : wine::RunnerOptions {
  std::string tavhost;
  std::string h1Station;   // the test H1 station, a program of the build machine
  std::string badNetwork;  // the bad network's relay, another
};
Options options;

using wine::Outcome;
using wine::OutputWatcher;

// tavhost.exe under Wine, run from its own folder as shipped; inside the network namespace
// `inNamespace` when one is named.
Outcome TavhostOnce(const std::vector<std::string>& arguments, const std::string& inNamespace,
                    const OutputWatcher& watcher) {
  std::vector<std::string> tail = {options.tavhost};
  tail.insert(tail.end(), arguments.begin(), arguments.end());
  std::optional<h1eth::test::EnteredNamespace> entered;  // the child's, until the exec
  return wine::RunCapturing(
      wine::RunnerCommand(options, tail),
      [&] {
        return chdir(std::filesystem::path(options.tavhost).parent_path().c_str()) == 0 &&
               (inNamespace.empty() || entered.emplace(inNamespace).entered());
      },
      watcher);
}

// The same, run once more where Wine itself lost its server before tavhost.exe ran: a prefix's
// wineserver that is ending after its last client (it lingers a few seconds) can drop a client
// that connects at that moment, which says nothing about the program under test.
Outcome Tavhost(const std::vector<std::string>& arguments, const std::string& inNamespace = "",
                const OutputWatcher& watcher = {}) {
  Outcome outcome = TavhostOnce(arguments, inNamespace, watcher);
  if (outcome.output.find("wine client error:") != std::string::npos) {
    outcome = TavhostOnce(arguments, inNamespace, watcher);
  }
  return outcome;
}

// The line of `output` that starts with `prefix`, with its line end; "" when there is none. A
// wineserver that a tavhost.exe started may write lines of its own into the same pipe.
std::string LineStartingWith(const std::string& output, const std::string& prefix) {
  for (size_t at = 0; at < output.size();) {
    const size_t end = std::min(output.find('\n', at), output.size() - 1) + 1;
    if (output.compare(at, prefix.size(), prefix) == 0) return output.substr(at, end - at);
    at = end;
  }
  return "";
}

// A row: a tag written with `values` (tavhost's words) and what tavhost reads back.
struct RoundTrip {
  const char* address;
  std::vector<std::string> values;
  const char* readBack;
};

// A folder of the test's own with the station file of driver 1 and the station map.
class TcpStations : public ::testing::Test {
 protected:
  TcpStations() {
    std::random_device random;
    folder_ = std::filesystem::temp_directory_path() / ("tavsh1-wine-h1tcp-" + std::to_string(random()));
    std::filesystem::create_directories(folder_);
  }
  ~TcpStations() override { std::filesystem::remove_all(folder_); }

  void Write(const char* name, std::string_view text) const {
    std::ofstream(folder_ / name, std::ios::binary) << text;
  }
  void Configure(std::string_view stationFile, std::string_view map) const {
    Write("tavSH101.int", stationFile);
    Write("h1tcp.map", map);
  }
  // tavhost.exe over the back-end's DLL with this folder's station file.
  Outcome Run(const std::string& command, const char* address, std::vector<std::string> more) {
    // A connection wait of 1,000 polls: room for a loaded machine, used only while connecting.
    std::vector<std::string> arguments = backEnd_;
    if (arguments.empty()) arguments = {"--tcp-map", (folder_ / "h1tcp.map").string()};
    arguments.insert(arguments.end(), {command, address, "--station-file",
                                       (folder_ / "tavSH101.int").string(), "--timeout", "1000"});
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Tavhost(arguments, inNamespace_);
  }
  void ExpectRoundTrips(const std::vector<RoundTrip>& rows) {
    for (const RoundTrip& row : rows) {
      SCOPED_TRACE(row.address);
      const Outcome written = Run("write", row.address, row.values);
      EXPECT_EQ(written.status, 0);
      const std::string result = std::string(row.address) + ": ";
      EXPECT_EQ(LineStartingWith(written.output, result), result + row.readBack + "\n")
          << written.output;
    }
  }

  std::filesystem::path folder_;
  // How tavhost.exe reaches the stations: the TCP DLL with this folder's map, unless a test says.
  std::vector<std::string> backEnd_;  // empty: the TCP DLL with this folder's map
  std::string inNamespace_;
};

// The station file of the Snap7 tests: an S7 station and a type-6 one on Snap7's one server.
constexpr const char* kSnap7Stations = "1=7,0A0B0C010201,2\n5=6,0A0B0C010205,2\n";

// Every kind on Snap7's server, through whichever DLL reaches it.
std::vector<RoundTrip> EveryKindOnSnap7() {
  return {
      {"01DB0020001", {"0x11", "0x22", "0xFF"}, "0x11 0x22 0xFF"},
      {"01DW0020004", {"0x1234", "0xABCD"}, "0x1234 0xABCD"},
      {"01DD0020008", {"0x12345678", "0xCAFEBABE"}, "0x12345678 0xCAFEBABE"},
      {"01DF0020024", {"1.5", "-2.25e-20"}, "1.5 -2.25e-20"},
      {"01SB002004010", {"ABCDEFGHIJ"}, "\"ABCDEFGHIJ\""},
      {"01IB0100", {"0x80", "0x7F"}, "0x80 0x7F"},
      {"01QW0020", {"0x1234", "0x5678"}, "0x1234 0x5678"},
      {"01MW0030", {"0xFEDC"}, "0xFEDC"},
      // Type 6: the data block's words, S5 floats.
      {"05DW0030010", {"0x1234", "0xABCD"}, "0x1234 0xABCD"},
      {"05DF0030021", {"6.5"}, "6.5"},
      {"05SB003003006", {"ABCDEF"}, "\"ABCDEF\""},
  };
}

class Snap7OverTcpDll : public TcpStations {
 protected:
  void SetUp() override {
    if (!server_.unavailable().empty()) GTEST_SKIP() << "skipped: " << server_.unavailable();
    const std::string at = "127.0.0.1:" + std::to_string(server_.port());
    Configure(kSnap7Stations,
              "0A0B0C010201 = " + at + ", s7, pdu=480\n0A0B0C010205 = " + at + ", s7-words\n");
  }

  Snap7Server server_;
};

TEST_F(Snap7OverTcpDll, EveryKindReadsBackWhatWasWritten) {
  ExpectRoundTrips(EveryKindOnSnap7());
}

// What crossed the TCP DLL is what Snap7's server holds: word 10 of a type 6 station is bytes 20
// and 21 of the S7 data block, high byte first, and the server saw the write and the read there.
TEST_F(Snap7OverTcpDll, TheServerHoldsTheWordsWhereThePlcKeepsThem) {
  ASSERT_EQ(Run("write", "05DW0030010", {"0x1234", "0xABCD"}).status, 0);
  const Outcome bytes = Run("read", "01DB0030020", {"--count", "4"});
  EXPECT_EQ(LineStartingWith(bytes.output, "01DB0030020: "), "01DB0030020: 0x12 0x34 0xAB 0xCD\n");
  const std::vector<std::string> events = server_.Events(3);
  EXPECT_NE(std::find(events.begin(), events.end(), "write DB 3 20 4 0"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "read DB 3 20 4 0"), events.end());
}

class S5OverTcpDll : public TcpStations, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    const std::string at = "127.0.0.1:" + std::to_string(station_.port());
    Configure("4=5,0A0B0C010204,TSAPLOC1,TSAPRD01,TSAPWR01\n",
              GetParam() ? "0A0B0C010204 = " + at + ", s5-iso\n"
                         : "0A0B0C010204 = " + at + ", s5-tcp, write-port=" +
                               std::to_string(station_.writePort()) + "\n");
  }

  S5Responder station_{GetParam()};
};

TEST_P(S5OverTcpDll, EveryKindReadsBackWhatWasWrittenAndTheStationHoldsIt) {
  ExpectRoundTrips({
      {"04DW0100030", {"0x1234", "0xABCD"}, "0x1234 0xABCD"},
      {"04DD0100040", {"0x12345678"}, "0x12345678"},
      {"04DF0100050", {"1.5", "-100"}, "1.5 -100"},
      {"04XW0100005", {"7", "8", "9"}, "0x0007 0x0008 0x0009"},
      {"04SB010006010", {"ABCDEFGHIJ"}, "\"ABCDEFGHIJ\""},
      {"04QB0004", {"0x01", "0xFE"}, "0x01 0xFE"},
      {"04MW0020", {"0x1234", "0x5678"}, "0x1234 0x5678"},
  });
  const Bytes block = station_.Memory(h1tcp::kS5OrgDataBlock, 10);
  EXPECT_EQ(Bytes(block.begin() + 60, block.begin() + 64), (Bytes{0x12, 0x34, 0xAB, 0xCD}));
}

INSTANTIATE_TEST_SUITE_P(Transports, S5OverTcpDll, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "IsoOnTcp" : "PlainTcp";
                         });

// The Ethernet DLL on real frames: tavhost.exe --h1-interface in the driver's namespace of a
// network of the test's own, the test H1 station (the example's stations and two with long
// blocks) in the station's, the bad network's relay between them where a fixture asks for it.
// libh1eth writes its capture file and reads its h1eth.conf in the test's folder. Wine answers
// adapter questions from the namespace its wineserver runs in, so the prefix's wineserver is
// stopped before and after each test: the first tavhost.exe starts it inside the driver's
// namespace.
struct H1Setup {
  std::vector<std::string> relay;  // the bad network's arguments; none: a plain pair
  bool snap7 = false;              // S7 jobs handed on to Snap7's server behind the station
};

class H1StationOverEthDll : public TcpStations {
 protected:
  virtual H1Setup Network() const { return {}; }

  void SetUp() override {
    const H1Setup setup = Network();
    network_.emplace(setup.relay.empty() ? h1eth::test::TestNetwork::Shape::kPair
                                         : h1eth::test::TestNetwork::Shape::kWithRelay);
    if (!network_->unavailable().empty()) GTEST_SKIP() << "skipped: " << network_->unavailable();
    StopWineserver();
    Write("network.toml", Example("tavSH101.toml") + h1eth::test::kLongBlockNetwork);
    Write("h1eth.conf", std::string(h1eth::test::kWordAddressedStations) +
                            h1eth::test::kQuickSettings);
    Write("tavSH101.int", setup.snap7 ? std::string(kSnap7Stations)
                                      : Example("tavSH101.int") + h1eth::test::kLongBlockStations);
    std::vector<std::string> station = {options.h1Station, "--interface", h1eth::test::kLinkName,
                                        "--network", (folder_ / "network.toml").string()};
    if (setup.snap7) {
      h1eth::test::InNamespace(network_->station(), [this] { snap7_.emplace(); });
      if (!snap7_->unavailable().empty()) GTEST_SKIP() << "skipped: " << snap7_->unavailable();
      station.insert(station.end(), {"--snap7-port", std::to_string(snap7_->port())});
    }
    station_ = Start(network_->station(), station, "station.log", "ready");
    if (!setup.relay.empty()) {
      std::vector<std::string> relay = {options.badNetwork};
      relay.insert(relay.end(), setup.relay.begin(), setup.relay.end());
      relay_ = Start(network_->relay(), relay, "relay.log", "relaying");
    }
    setenv("TAV_H1ETH_CONF", (folder_ / "h1eth.conf").c_str(), 1);
    setenv("TAV_H1_CAPTURE", capture().c_str(), 1);
    backEnd_ = {"--h1-interface", h1eth::test::kLinkName};
    inNamespace_ = network_->driver();
  }
  void TearDown() override {
    StopRelay();
    StopStation();
    StopWineserver();
    unsetenv("TAV_H1ETH_CONF");
    unsetenv("TAV_H1_CAPTURE");
  }
  static void StopWineserver() { wine::StopWineserver(options.prefix); }
  std::string Example(const char* name) const {
    std::ifstream example(std::filesystem::path(options.tavhost).parent_path() / "../examples" /
                          name);
    return std::string(std::istreambuf_iterator<char>(example), {});
  }
  // A program of the network in namespace `name`, once it said `ready` in its log.
  pid_t Start(const std::string& name, const std::vector<std::string>& argv, const char* log,
              const std::string& ready) const {
    const std::string path = (folder_ / log).string();
    const pid_t pid = network_->Spawn(name, argv, path);
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(h1eth::test::AwaitLine(path, ready)) << Read(path);
    return pid;
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Stops the program and gives the last line of its log: its account of what it did.
  std::string Stop(pid_t& pid, const char* log) {
    if (pid <= 0) return "";
    h1eth::test::StopProgram(pid);
    pid = -1;
    std::string text = Read((folder_ / log).string());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
  }
  std::string StopRelay() { return Stop(relay_, "relay.log"); }
  std::string StopStation() { return Stop(station_, "station.log"); }
  std::string capture() const { return (folder_ / "capture.pcap").string(); }

  std::optional<h1eth::test::TestNetwork> network_;
  std::optional<Snap7Server> snap7_;
  pid_t station_ = -1;
  pid_t relay_ = -1;
};

// A data block's 10,000 bytes as 2,500 double words of many values, written in one transfer and
// read back in one: each crosses H1 as many DTs.
RoundTrip LongBlock(const char* address) {
  RoundTrip row{address, {}, ""};
  std::string readBack;
  for (uint32_t i = 0; i < 2'500; ++i) {
    const uint32_t value = i * 2654435761u + 12345;
    row.values.push_back(std::to_string(value));
    char hex[12];
    std::snprintf(hex, sizeof hex, "%s0x%08X", i == 0 ? "" : " ", value);
    readBack += hex;
  }
  static std::vector<std::string> texts;  // the rows' read-backs outlive the tables
  texts.push_back(readBack);
  row.readBack = texts.back().c_str();
  return row;
}

std::vector<RoundTrip> EveryKindOverH1() {
  return {
      {"01DB0200001", {"0x11", "0x22", "0xFF"}, "0x11 0x22 0xFF"},
      {"01DW0200012", {"0x1234", "0xABCD"}, "0x1234 0xABCD"},
      {"01DD0200020", {"0x12345678", "0xCAFEBABE"}, "0x12345678 0xCAFEBABE"},
      {"01DF0200030", {"1.5", "-2.25e-20"}, "1.5 -2.25e-20"},
      {"03DW0100070", {"0x1234", "0xABCD"}, "0x1234 0xABCD"},
      {"03DF0100040", {"1.5", "-2.25"}, "1.5 -2.25"},
      {"03XW0100005", {"7", "8", "9"}, "0x0007 0x0008 0x0009"},
      {"03MW0020", {"0x1234", "0x5678"}, "0x1234 0x5678"},
      {"04DW0100010", {"0x0102"}, "0x0102"},
      LongBlock("06DD0200000"),
      LongBlock("07DD0200000"),
  };
}

// Every kind of tag, long blocks among them; then one run that reads an S5 and an S7 station,
// whose capture file (each run makes it afresh) holds what crossed the adapter: Wireshark's
// dissectors decode every frame of it along ISO class 4, fetch/write (h1) and S7 on top, with no
// malformed frame.
TEST_F(H1StationOverEthDll, EveryKindReadsBackWhatWasWrittenAndTsharkDecodesTheCapture) {
  ExpectRoundTrips(EveryKindOverH1());
  std::vector<std::string> arguments = backEnd_;
  arguments.insert(arguments.end(), {"watch", "03DW0100070", "01DW0200012", "--count", "1",
                                     "--station-file", (folder_ / "tavSH101.int").string()});
  ASSERT_EQ(Tavhost(arguments, inNamespace_).status, 0);
  std::string why;
  const std::vector<h1eth::test::DecodedFrame> frames =
      h1eth::test::DecodeWithTshark(capture(), why);
  ASSERT_FALSE(frames.empty()) << why;
  size_t fetchWrite = 0;
  size_t s7 = 0;
  for (const h1eth::test::DecodedFrame& frame : frames) {
    EXPECT_EQ(frame.protocols.rfind("eth:llc:osi:clnp:cotp", 0), 0u) << frame.protocols;
    EXPECT_TRUE(frame.problems.empty()) << frame.problems.front();
    fetchWrite += frame.protocols.find(":cotp:h1") != std::string::npos;
    s7 += frame.protocols.ends_with(":s7comm");
  }
  EXPECT_GT(fetchWrite, 0u);
  EXPECT_GT(s7, 0u);
}

// h1 probe's outcomes: a station that confirms the TSAP, and an address nobody answers for. The
// confirmation comes within milliseconds: a capture driver that held frames back until its buffer
// filled or its read time-out passed would show here.
TEST_F(H1StationOverEthDll, ProbeSaysWhatTheStationAnsweredAtOnce) {
  struct Row {
    const char* station;
    int status;
    const char* says;
  };
  for (const Row& row : {Row{"0A0B0C010201", 0, "station 0A0B0C010201 TSAP 0302 confirmed the "
                                                 "connection (CC) after "},
                         Row{"0A0B0C0102EE", 1, "station 0A0B0C0102EE TSAP 0302 did not answer "}}) {
    SCOPED_TRACE(row.station);
    const Outcome probed = Tavhost(
        {"h1", "probe", row.station, "0x0302", "--interface", h1eth::test::kLinkName}, inNamespace_);
    EXPECT_EQ(probed.status, row.status) << probed.output;
    const std::string line = LineStartingWith(probed.output, row.says);
    ASSERT_NE(line, "") << probed.output;
    if (row.status == 0) {
      EXPECT_LT(std::stod(line.substr(std::strlen(row.says))), 50.0) << line;
    }
  }
}

// The station goes away while tavhost.exe watches one of its tags: the watch reports it down
// within the driver's retry budget (time-out 100: 1,000 polls), after the transport's
// retransmissions (9 x 50 ms) found the connection broken.
TEST_F(H1StationOverEthDll, AStationThatGoesAwayIsDownWithinTheDriversBudget) {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> stopped;
  std::optional<Clock::time_point> down;
  std::vector<std::string> arguments = backEnd_;
  arguments.insert(arguments.end(),
                   {"watch", "03DW0100000", "--interval", "100", "--count", "30", "--timeout",
                    "100", "--station-file", (folder_ / "tavSH101.int").string()});
  const Outcome watched = Tavhost(arguments, inNamespace_, [&](const std::string& output) {
    if (!stopped && output.find(" cycle 1 03DW0100000 ") != std::string::npos) {
      StopStation();
      stopped = Clock::now();
    }
    if (stopped && !down && output.find("tavhost watch: station 03 is down: ") != std::string::npos) {
      down = Clock::now();
    }
  });
  ASSERT_TRUE(stopped) << watched.output;
  ASSERT_TRUE(down) << watched.output;
  EXPECT_LT(*down - *stopped, std::chrono::seconds(4)) << watched.output;
  EXPECT_EQ(watched.status, 1) << watched.output;
}

// At 10 % loss, 5 % duplication and 5 % reordering every transfer completes with its data intact;
// the relay's account shows the network really was that bad.
class BadNetworkOverEthDll : public H1StationOverEthDll {
 protected:
  H1Setup Network() const override {
    return {{"--seed", "21", "--loss", "10", "--dup", "5", "--reorder", "5", "--delay", "100"}};
  }
};

// A count from a program's closing line: "... dropped 12 ...".
long Count(const std::string& line, const std::string& name) {
  const size_t at = line.find(name + " ");
  return at == std::string::npos ? -1 : std::stol(line.substr(at + name.size() + 1));
}

TEST_F(BadNetworkOverEthDll, EveryTransferCompletesIntact) {
  ExpectRoundTrips({
      {"01DW0200012", {"0x1234", "0xABCD"}, "0x1234 0xABCD"},
      {"03DW0100070", {"0x1234", "0xABCD"}, "0x1234 0xABCD"},
      LongBlock("06DD0200000"),
      LongBlock("07DD0200000"),
  });
  const std::string relay = StopRelay();
  EXPECT_GT(Count(relay, "dropped"), 10) << relay;
  EXPECT_GT(Count(relay, "duplicated"), 2) << relay;
  EXPECT_GT(Count(relay, "reordered"), 2) << relay;
}

// S7 jobs that crossed H1 from the Windows DLL, answered by Snap7's S7 server behind the station.
class Snap7BehindH1OverEthDll : public H1StationOverEthDll {
 protected:
  H1Setup Network() const override { return {{}, true}; }
};

TEST_F(Snap7BehindH1OverEthDll, EveryKindReadsBackWhatWasWritten) {
  ExpectRoundTrips(EveryKindOnSnap7());
}

}  // namespace
}  // namespace tav

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!tav::wine::ReadRunnerOptions(argc, argv, tav::options,
                                    {{"--tavhost", &tav::options.tavhost},
                                     {"--h1-station", &tav::options.h1Station},
                                     {"--bad-network", &tav::options.badNetwork}})) {
    std::fprintf(stderr,
                 "usage: %s --runner RUN --prefix DIR (--probe PROBE | --win64) --tavhost EXE "
                 "--h1-station PROGRAM --bad-network PROGRAM\n",
                 argv[0]);
    return 2;
  }
  // The runner says whether Wine can run here, and makes the prefix.
  const int check = tav::wine::RunToEnd(tav::wine::RunnerCommand(tav::options, {"--check"}));
  if (check != 0) return check == tav::wine::kSkipped ? tav::wine::kSkipped : 1;
  return RUN_ALL_TESTS();
}
