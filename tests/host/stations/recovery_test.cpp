// tavhost as a host that outlives its stations: watch recovers when a simulated station is
// switched off and on through the simulation file while it runs, and when Snap7's server stops
// and starts again on the same port; init's health check; --timeout's bounds, and its
// monotonicity through a TCP proxy that delays every byte (this kernel has no netem).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A program in the background: what it writes on standard output and error is collected in one
// text as it comes; its standard input is a pipe the test writes to.
class Process {
 public:
  explicit Process(std::vector<std::string> argv) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Wait();
    close(input_);
  }
  const std::string& text() const { return text_; }
  void Tell(const std::string& line) { (void)!write(input_, line.data(), line.size()); }

  // Collects output until `wanted` shows after `from`; generous, for a loaded machine.
  bool Await(const std::string& wanted, size_t from = 0) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (text_.find(wanted, from) == std::string::npos) {
      if (Clock::now() >= deadline || !Pump()) return false;
    }
    return true;
  }
  // Sends Ctrl-C first when asked; the exit code once the output has ended.
  int Wait(bool interrupt = false) {
    if (interrupt && pid_ > 0) kill(pid_, SIGINT);
    while (Pump()) {
    }
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  // Reads what came within 100 ms; false once the output has ended.
  bool Pump() {
    pollfd polled{output_, POLLIN, 0};
    if (output_ < 0 || poll(&polled, 1, 100) <= 0) return output_ >= 0;
    char buffer[65536];
    const ssize_t got = read(output_, buffer, sizeof buffer);
    if (got > 0) {
      text_.append(buffer, static_cast<size_t>(got));
      return true;
    }
    close(output_);
    output_ = -1;
    return false;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string text_;
};

Process Tavhost(const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  std::istringstream launcher(TAVHOST_LAUNCHER);
  for (std::string part; std::getline(launcher, part, '|');) argv.push_back(part);
  argv.push_back(TAVHOST_PATH);
  argv.insert(argv.end(), args.begin(), args.end());
  return Process(argv);
}

// A folder with a station file naming S7 station 1, a simulation file whose station 1 is
// switched on or off, and a station map that routes it to a port.
class Plant {
 public:
  Plant() {
    std::string pattern = (fs::temp_directory_path() / "tavhost-recovery-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    Write("tavSH121.int", "1=7,0A0B0C010201,2\n");
  }
  ~Plant() {
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  std::string path(const char* name) const { return (folder_ / name).string(); }
  // tavhost's arguments on the simulated network or over TCP.
  std::vector<std::string> Args(bool tcp, std::vector<std::string> args) const {
    args.insert(args.begin(),
                {tcp ? "--tcp-map" : "--network", path(tcp ? "plant.map" : "plant.toml")});
    args.insert(args.end(), {"--station-file", path("tavSH121.int")});
    return args;
  }
  void SwitchStation(bool on) const {
    Write("plant.toml", std::string("[[station]]\nname = \"press line\"\naddress = "
                                    "\"0A0B0C010201\"\ntype = 7\nreachable = ") +
                            (on ? "true" : "false") + "\n[[station.db]]\nnumber = 1\nsize = 16\n");
  }
  // A change that does not parse: tavhost keeps the stations as they were and says so.
  void BreakSimulationFile() const { Write("plant.toml", "[[station]]\naddress = 7\n"); }
  void MapStation(uint16_t port) const {
    Write("plant.map", "0A0B0C010201 = 127.0.0.1:" + std::to_string(port) + ", s7\n");
  }

 private:
  // Through a rename, as an editor saves: tavhost never reads half a file.
  void Write(const char* name, const std::string& text) const {
    std::ofstream(path(name) + ".part", std::ios::binary) << text;
    fs::rename(path(name) + ".part", path(name));
  }
  fs::path folder_;
};

#ifdef TAV_SNAP7_SERVER
// A socket on the loopback interface: listening on a port the system picks, or connected.
int LoopbackSocket(uint16_t& port, bool listen) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(listen ? 0 : port), {htonl(INADDR_LOOPBACK)}, {}};
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  if (!listen) return ::connect(fd, raw, sizeof address) == 0 ? fd : (close(fd), -1);
  socklen_t size = sizeof address;
  ::bind(fd, raw, sizeof address);
  ::listen(fd, 8);
  ::getsockname(fd, raw, &size);
  port = ntohs(address.sin_port);
  return fd;
}

// Snap7's S7 server on a free loopback port; "stop" and "start" take it off the network and
// back on the same port, its memory kept.
struct Snap7 {
  uint16_t port = [] {
    uint16_t free = 0;
    close(LoopbackSocket(free, true));
    return free;
  }();
  Process server{{TAV_SNAP7_SERVER, std::to_string(port), "480", "quiet"}};
  bool started = server.Await("started");
  ~Snap7() {
    server.Tell("quit\n");
    server.Wait();
  }
  void Switch(bool on) {
    const size_t from = server.text().size();
    server.Tell(on ? "start\n" : "stop\n");
    ASSERT_TRUE(server.Await(on ? "started" : "stopped", from));
  }
};

// A TCP proxy that holds each chunk for half the round trip in each direction, and the
// connection itself for a whole one: one thread per direction, which suits one request at a
// time as the driver sends them.
class DelayingProxy {
 public:
  DelayingProxy(uint16_t upstream, milliseconds roundTrip)
      : listener_(LoopbackSocket(port_, true)) {
    acceptor_ = std::thread([this, upstream, roundTrip] {
      for (int client; (client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        std::this_thread::sleep_for(roundTrip);
        uint16_t port = upstream;
        const int server = LoopbackSocket(port, false);
        sockets_.insert(sockets_.end(), {client, server});
        threads_.emplace_back([=] { Forward(client, server, roundTrip / 2); });
        threads_.emplace_back([=] { Forward(server, client, roundTrip / 2); });
      }
    });
  }
  ~DelayingProxy() {
    shutdown(listener_, SHUT_RDWR);  // accept() returns: no thread is added after this
    acceptor_.join();
    for (int fd : sockets_) shutdown(fd, SHUT_RDWR);
    for (std::thread& thread : threads_) thread.join();
    for (int fd : sockets_) close(fd);
    close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  static void Forward(int from, int to, milliseconds delay) {
    char buffer[65536];
    for (ssize_t got; (got = read(from, buffer, sizeof buffer)) > 0;) {
      std::this_thread::sleep_for(delay);
      if (send(to, buffer, static_cast<size_t>(got), MSG_NOSIGNAL) != got) break;
    }
    shutdown(to, SHUT_RDWR);
  }

  uint16_t port_ = 0;
  int listener_;
  std::vector<int> sockets_;
  std::thread acceptor_;
  std::vector<std::thread> threads_;  // two per connection
};
#endif

// watch while the test takes station 1 away and brings it back: each step's line must follow on
// standard error, and values flow again at the end.
constexpr int kBreakFile = 2;  // a step that writes a simulation file that does not parse
struct RecoveryRow {
  std::string name;
  bool tcp;
  bool onAtStart;
  // Switch off (0) or on (1), or kBreakFile; then await the line.
  std::vector<std::pair<int, std::string>> steps;
};
void PrintTo(const RecoveryRow& row, std::ostream* out) {
  *out << row.name;
}

class WatchRecovers : public ::testing::TestWithParam<RecoveryRow> {};

TEST_P(WatchRecovers, AsTheStationComesAndGoes) {
  const RecoveryRow& row = GetParam();
  const Plant plant;
  std::function<void(bool)> switchTo = [&plant](bool on) { plant.SwitchStation(on); };
#ifdef TAV_SNAP7_SERVER
  std::optional<Snap7> snap7;
  if (row.tcp) {
    ASSERT_TRUE(snap7.emplace().started);
    plant.MapStation(snap7->port);
    switchTo = [&snap7](bool on) { snap7->Switch(on); };
  }
#else
  if (row.tcp) GTEST_SKIP() << "skipped: " << TAV_SNAP7_MISSING;
#endif
  if (!row.tcp) switchTo(row.onAtStart);
  const std::vector<std::string> args = {"watch", "01DW0010000", "--interval",
                                         "50",    "--timeout",   "100"};
  Process watch = Tavhost(plant.Args(row.tcp, args));
  ASSERT_TRUE(watch.Await(row.onAtStart ? "result 0 failures 0 station up"
                                        : "result 2 failures 1 station down"))
      << watch.text();
  for (const auto& [step, text] : row.steps) {
    const size_t from = watch.text().size();
    if (step == kBreakFile) {
      plant.BreakSimulationFile();
    } else {
      switchTo(step == 1);
    }
    ASSERT_TRUE(watch.Await(text, from)) << text << "\n" << watch.text();
  }
  ASSERT_TRUE(watch.Await("result 0", watch.text().size())) << watch.text();
  EXPECT_EQ(watch.Wait(true), 0) << watch.text();
  // An ignored change is said once, however often it is looked at.
  EXPECT_EQ(watch.text().find("change is ignored"), watch.text().rfind("change is ignored"));
}

const std::string kBack = "tavhost watch: station 01 is back up after ";

INSTANTIATE_TEST_SUITE_P(
    Tavhost, WatchRecovers,
    ::testing::Values(
        RecoveryRow{"SimulatedStationOffAndOn",
                    false,
                    true,
                    {{false,
                      "tavhost watch: station 01 is down: the simulated station \"press line\" "
                      "is switched off; reconnecting (command 2) in 0.5 s"},
                     {true, kBack}}},
        RecoveryRow{"SimulatedStationDownAtStart", false, false, {{true, kBack}}},
        RecoveryRow{"SimulationFileThatNoLongerParses",
                    false,
                    true,
                    {{kBreakFile, "; the change is ignored, the stations stay as they were"}, {false, "is switched off"}, {true, kBack}}},
        RecoveryRow{"Snap7ServerRestarted",
                    true,
                    true,
                    {{false, "tavhost watch: station 01 is down: "}, {true, kBack}}}),
    [](const ::testing::TestParamInfo<RecoveryRow>& param) { return param.param.name; });

// Commands run once on the simulated station, switched on or off: init's report and its health
// check, and --timeout's bounds.
TEST(Tavhost, ReportsStationsAndBoundsTheTimeout) {
  struct Row {
    bool on;
    std::vector<std::string> args;
    int exitCode;
    std::string text;
  };
  const std::vector<Row> rows = {
      {true, {"init", "--require-all"}, 0, "station 01: up\n"},
      {false,
       {"init", "--timeout", "50"},
       0,
       "station 01: down: the simulated station \"press line\" is switched off"},
      {false, {"init", "--require-all", "--timeout", "50"}, 5, "station 01: down: "},
      {true,
       {"read", "01DW0010000", "--timeout", "2147483647"},
       2,
       "--timeout: 2147483647 ms is too long: at most 60000 ms"},
      {true, {"read", "01DW0010000", "--timeout", "0"}, 2, "0 ms is too short: at least 1 ms"},
      {true, {"read", "01DW0010000", "--timeout", "60000"}, 0, "01DW0010000: 0x0000"},
  };
  const Plant plant;
  for (const Row& row : rows) {
    plant.SwitchStation(row.on);
    Process run = Tavhost(plant.Args(false, row.args));
    EXPECT_EQ(run.Wait(), row.exitCode) << row.args[0] << ": " << run.text();
    EXPECT_NE(run.text().find(row.text), std::string::npos) << row.text << " in\n" << run.text();
  }
}

#ifdef TAV_SNAP7_SERVER
// --plc reaches one S7 CPU with no file of the user's: tavhost writes the station file and the
// map itself. A write read back through the S7-style form shows both went to the same place.
TEST(Tavhost, QuickTargetReadsAndWritesWithoutFiles) {
  Snap7 snap7;
  ASSERT_TRUE(snap7.started);
  const std::string plc = "127.0.0.1:" + std::to_string(snap7.port);
  Process write = Tavhost({"--plc", plc, "--slot", "2", "write", "01DW0010004", "0x1234"});
  EXPECT_EQ(write.Wait(), 0) << write.text();
  Process read = Tavhost({"--plc", plc, "read", "DB1.DBW4", "--format", "decimal"});
  EXPECT_EQ(read.Wait(), 0) << read.text();
  EXPECT_NE(read.text().find("4660"), std::string::npos) << read.text();
}

// Through round trips of 50 and 200 ms: a longer --timeout never fails where a shorter one
// reads, the default reads over both, and a failure names the time-out the driver waited.
TEST(Tavhost, TimeoutIsMonotonicThroughADelayingProxy) {
  Snap7 snap7;
  ASSERT_TRUE(snap7.started);
  const Plant plant;
  for (const int roundTrip : {50, 200}) {
    DelayingProxy proxy(snap7.port, milliseconds(roundTrip));
    plant.MapStation(proxy.port());
    bool readBefore = false;
    for (const std::string timeout : {"1", "10", "50", "200", "1000", ""}) {
      std::vector<std::string> args = {"read", "01DW0010000"};
      if (!timeout.empty()) args.insert(args.end(), {"--timeout", timeout});
      Process read = Tavhost(plant.Args(true, args));
      const int exitCode = read.Wait();
      const std::string what = std::to_string(roundTrip) + " ms, --timeout " + timeout + ": ";
      if (readBefore || timeout.empty()) {
        EXPECT_EQ(exitCode, 0) << what << read.text();
      }
      readBefore = readBefore || exitCode == 0;
      if (exitCode != 0) {
        const std::string waited = std::to_string(std::max(std::stoi(timeout), 10));
        EXPECT_NE(read.text().find("the time-out of " + waited + " ms"), std::string::npos)
            << what << read.text();
      }
    }
  }
}
#else
TEST(Tavhost, QuickTargetReadsAndWritesWithoutFiles) {
  GTEST_SKIP() << "skipped: " << TAV_SNAP7_MISSING;
}
TEST(Tavhost, TimeoutIsMonotonicThroughADelayingProxy) {
  GTEST_SKIP() << "skipped: " << TAV_SNAP7_MISSING;
}
#endif

}  // namespace
