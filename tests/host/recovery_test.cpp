// tavhost as a host that outlives its stations: watch recovers when a simulated station is
// switched off and on while it runs (through the simulation file, which tavhost follows) and
// when Snap7's server stops and starts again on the same port; init's health check; and
// --timeout's bounds and its monotonicity through a TCP proxy that delays every byte.
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
#include <atomic>
#include <chrono>
#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Generous: the tests share the machine with others.
constexpr auto kDeadline = std::chrono::seconds(30);

// A program run in the background with its standard output and error collected as they come.
class Process {
 public:
  explicit Process(std::vector<std::string> argv) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  ~Process() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Finish();
    }
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
  }

  const std::string& out() const { return texts_[0]; }
  const std::string& err() const { return texts_[1]; }

  // Collects output until `done` holds or the deadline passes; returns whether it held.
  template <typename Condition>
  bool Await(Condition done) {
    const auto deadline = Clock::now() + kDeadline;
    while (!done()) {
      if (Clock::now() >= deadline || !Pump(100)) return done();
    }
    return true;
  }
  bool AwaitErr(const std::string& text, size_t from = 0) {
    return Await([&] { return err().find(text, from) != std::string::npos; });
  }
  bool AwaitOut(const std::string& text, size_t from = 0) {
    return Await([&] { return out().find(text, from) != std::string::npos; });
  }
  // Ctrl-C, then the exit code once the output has ended.
  int Interrupt() {
    if (pid_ > 0) kill(pid_, SIGINT);
    while (Pump(100)) {
    }
    return Finish();
  }
  // The exit code once the output has ended.
  int Wait() {
    while (Pump(100)) {
    }
    return Finish();
  }

 private:
  // Reads what is there within `ms`; false once both pipes are closed.
  bool Pump(int ms) {
    pollfd polled[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) return false;
    if (poll(polled, 2, ms) < 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds_[i] < 0 || (polled[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      char buffer[65536];
      const ssize_t got = read(fds_[i], buffer, sizeof buffer);
      if (got <= 0) {
        close(fds_[i]);
        fds_[i] = -1;
      } else {
        texts_[i].append(buffer, static_cast<size_t>(got));
      }
    }
    return true;
  }
  int Finish() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};
  std::string texts_[2];
};

std::vector<std::string> TavhostArgv(const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  std::istringstream launcher(TAVHOST_LAUNCHER);
  for (std::string part; std::getline(launcher, part, '|');) argv.push_back(part);
  argv.push_back(TAVHOST_PATH);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

void WriteFile(const fs::path& path, const std::string& text) {
  // Through a rename, as an editor saves: tavhost never reads half a file.
  const fs::path part = path.string() + ".part";
  std::ofstream(part, std::ios::binary) << text;
  fs::rename(part, path);
}

// A folder with a station file naming station 1 (S7) and, for the simulated network, a
// simulation file whose station 1 is switched on or off.
class Plant {
 public:
  Plant() {
    std::string pattern = (fs::temp_directory_path() / "tavhost-recovery-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    WriteFile(stationFile(), "1=7,0A0B0C010201,2\n");
  }
  ~Plant() {
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  fs::path stationFile() const { return folder_ / "tavSH121.int"; }
  fs::path simulation() const { return folder_ / "plant.toml"; }
  fs::path map() const { return folder_ / "plant.map"; }

  void SwitchStation(bool on) const {
    WriteFile(simulation(), std::string("[[station]]\nname = \"press line\"\naddress = "
                                        "\"0A0B0C010201\"\ntype = 7\nslot = 2\nreachable = ") +
                                (on ? "true" : "false") +
                                "\n[[station.db]]\nnumber = 1\nsize = 16\nvalues = [{ at = 0, "
                                "word = 0x1234 }]\n");
  }
  void MapStation(uint16_t port) const {
    WriteFile(map(), "0A0B0C010201 = 127.0.0.1:" + std::to_string(port) + ", s7\n");
  }

 private:
  fs::path folder_;
};

// A port on the loopback interface that nothing listens on right now.
uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

#ifdef TAV_SNAP7_SERVER
// Snap7's S7 server on one loopback port; "stop" and "start" on its standard input take it off
// the network and back (its memory stays), each answered with a line.
class Snap7 {
 public:
  Snap7() : port_(FreePort()) {
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0) return;
    // The server reads its commands from a pipe: the Process helper gives it /dev/null, so it
    // is started here with the pipe as its standard input.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    std::vector<std::string> argv = {TAV_SNAP7_SERVER, std::to_string(port_), "480", "quiet"};
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    input_ = input[1];
    output_ = output[0];
    started_ = AwaitLine("started");
  }
  ~Snap7() {
    if (input_ >= 0) {
      (void)!write(input_, "quit\n", 5);
      close(input_);
    }
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    if (output_ >= 0) close(output_);
  }
  bool started() const { return started_; }
  uint16_t port() const { return port_; }
  bool Stop() { return Command("stop\n", "stopped"); }
  bool Start() { return Command("start\n", "started"); }

 private:
  bool Command(const std::string& command, const std::string& answer) {
    if (write(input_, command.data(), command.size()) != static_cast<ssize_t>(command.size())) {
      return false;
    }
    return AwaitLine(answer);
  }
  bool AwaitLine(const std::string& prefix) {
    const auto deadline = Clock::now() + kDeadline;
    while (Clock::now() < deadline) {
      for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (line.starts_with(prefix)) return true;
      }
      pollfd polled{output_, POLLIN, 0};
      if (poll(&polled, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t got = read(output_, buffer, sizeof buffer);
      if (got <= 0) return false;
      pending_.append(buffer, static_cast<size_t>(got));
    }
    return false;
  }

  uint16_t port_;
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
  bool started_ = false;
};

// A TCP proxy on the loopback interface that holds every chunk for half the round trip in
// each direction, as a slow network does (this kernel has no netem to do it).
class DelayingProxy {
 public:
  DelayingProxy(uint16_t upstream, milliseconds roundTrip)
      : upstream_(upstream), oneWay_(roundTrip / 2) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 8);
    socklen_t size = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~DelayingProxy() {
    stop_ = true;
    thread_.join();
    for (Pair& pair : pairs_) {
      close(pair.fds[0]);
      close(pair.fds[1]);
    }
    close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  struct Chunk {
    Clock::time_point due;
    std::string bytes;
  };
  // fds[0] the client's side, fds[1] the server's; queues[i] holds what goes out on fds[i].
  struct Pair {
    int fds[2];
    std::deque<Chunk> queues[2];
    bool closed = false;
  };

  void Accept() {
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(upstream_);
    // The connection itself takes a round trip too.
    std::this_thread::sleep_for(oneWay_ * 2);
    if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(server);
      close(client);
      return;
    }
    pairs_.push_back(Pair{{client, server}, {}, false});
  }

  void Run() {
    while (!stop_) {
      std::vector<pollfd> polled{{listener_, POLLIN, 0}};
      for (const Pair& pair : pairs_) {
        for (int fd : pair.fds) polled.push_back({pair.closed ? -1 : fd, POLLIN, 0});
      }
      auto wait = milliseconds(20);
      const auto now = Clock::now();
      for (const Pair& pair : pairs_) {
        for (const auto& queue : pair.queues) {
          if (!queue.empty()) {
            wait = std::min(wait, std::chrono::ceil<milliseconds>(queue.front().due - now));
          }
        }
      }
      poll(polled.data(), polled.size(), static_cast<int>(std::max(wait, milliseconds(0)).count()));
      if (polled[0].revents & POLLIN) Accept();
      for (size_t p = 0; p < pairs_.size() && 1 + 2 * p < polled.size(); ++p) {
        Pair& pair = pairs_[p];
        for (int side = 0; side < 2; ++side) {
          if ((polled[1 + 2 * p + side].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
          char buffer[65536];
          const ssize_t got = read(pair.fds[side], buffer, sizeof buffer);
          if (got <= 0) {
            pair.closed = true;  // either end gone: the other follows once its bytes are out
            continue;
          }
          pair.queues[1 - side].push_back(
              {Clock::now() + oneWay_, std::string(buffer, static_cast<size_t>(got))});
        }
      }
      Deliver();
    }
  }

  void Deliver() {
    const auto now = Clock::now();
    for (Pair& pair : pairs_) {
      for (int side = 0; side < 2; ++side) {
        auto& queue = pair.queues[side];
        while (!queue.empty() && queue.front().due <= now) {
          (void)!send(pair.fds[side], queue.front().bytes.data(), queue.front().bytes.size(),
                      MSG_NOSIGNAL);
          queue.pop_front();
        }
      }
      if (pair.closed && pair.queues[0].empty() && pair.queues[1].empty()) {
        shutdown(pair.fds[0], SHUT_RDWR);
        shutdown(pair.fds[1], SHUT_RDWR);
      }
    }
  }

  uint16_t upstream_;
  milliseconds oneWay_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<Pair> pairs_;
  std::thread thread_;
};
#endif

// watch on the simulated network while the test switches station 1 off and on through the
// simulation file: each step's line must follow on standard error (or output).
struct SwitchRow {
  std::string name;
  bool onAtStart;
  // Switch the station on (true) or off (false), then await the text on standard error.
  std::vector<std::pair<bool, std::string>> steps;
};

class SimulatedStationSwitched : public ::testing::TestWithParam<SwitchRow> {};

TEST_P(SimulatedStationSwitched, WatchFollows) {
  const SwitchRow& row = GetParam();
  const Plant plant;
  plant.SwitchStation(row.onAtStart);
  Process watch(
      TavhostArgv({"--network", plant.simulation().string(), "watch", "01DW0010000", "--interval",
                   "50", "--timeout", "100", "--station-file", plant.stationFile().string()}));
  ASSERT_TRUE(watch.AwaitOut(row.onAtStart ? "result 0 failures 0 station up"
                                           : "result 2 failures 1 station down"))
      << watch.out() << watch.err();
  for (const auto& [on, text] : row.steps) {
    const size_t from = watch.err().size();
    plant.SwitchStation(on);
    ASSERT_TRUE(watch.AwaitErr(text, from)) << text << "\n" << watch.err();
  }
  // Values flow again.
  const size_t from = watch.out().size();
  ASSERT_TRUE(watch.AwaitOut("result 0", from)) << watch.out();
  EXPECT_EQ(watch.Interrupt(), 0) << watch.err();
}

INSTANTIATE_TEST_SUITE_P(
    Tavhost, SimulatedStationSwitched,
    ::testing::Values(
        SwitchRow{"OffAndOn",
                  true,
                  {{false,
                    "tavhost watch: station 01 is down: the simulated station \"press line\" is "
                    "switched off; reconnecting (command 2) in 0.5 s"},
                   {true, "tavhost watch: station 01 is back up after "}}},
        SwitchRow{"DownAtStart", false, {{true, "tavhost watch: station 01 is back up after "}}}),
    [](const ::testing::TestParamInfo<SwitchRow>& param) { return param.param.name; });

// init reports each station; --require-all turns a station that is down into exit code 5.
TEST(TavhostInit, RequireAllFailsOnAStationThatIsDown) {
  const Plant plant;
  struct Row {
    bool on;
    std::vector<std::string> extra;
    int exitCode;
    std::string line;
  };
  const std::vector<Row> rows = {
      {true, {"--require-all"}, 0, "station 01: up\n"},
      {false, {}, 0, "station 01: down: the simulated station \"press line\" is switched off\n"},
      {false, {"--require-all"}, 5, "station 01: down: "},
  };
  for (const Row& row : rows) {
    plant.SwitchStation(row.on);
    std::vector<std::string> args = {
        "--network",      plant.simulation().string(), "init", "--timeout", "50",
        "--station-file", plant.stationFile().string()};
    args.insert(args.end(), row.extra.begin(), row.extra.end());
    Process init(TavhostArgv(args));
    EXPECT_EQ(init.Wait(), row.exitCode) << init.err();
    EXPECT_NE(init.out().find(row.line), std::string::npos) << init.out();
  }
}

// --timeout takes whole milliseconds within its bounds and says what is wrong otherwise.
TEST(TavhostTimeout, IsBounded) {
  const Plant plant;
  plant.SwitchStation(true);
  struct Row {
    std::string timeout;
    int exitCode;
    std::string text;  // on standard error
  };
  const std::vector<Row> rows = {
      {"2147483647", 2, "--timeout: 2147483647 ms is too long: at most 60000 ms"},
      {"99999999999999999999", 2, "ms is too long: at most 60000 ms"},
      {"0", 2, "--timeout: 0 ms is too short: at least 1 ms"},
      {"-5", 2, "--timeout: -5 ms is too short"},
      {"1.5", 2, "--timeout: '1.5' is no whole number of milliseconds"},
      {"60000", 0, ""},
      {"1", 0, ""},
  };
  for (const Row& row : rows) {
    Process read(
        TavhostArgv({"--network", plant.simulation().string(), "read", "01DW0010000", "--timeout",
                     row.timeout, "--station-file", plant.stationFile().string()}));
    EXPECT_EQ(read.Wait(), row.exitCode) << row.timeout << ": " << read.err();
    EXPECT_NE(read.err().find(row.text), std::string::npos) << row.timeout << ": " << read.err();
  }
}

#ifdef TAV_SNAP7_SERVER
// watch over TCP rides out Snap7's server going away and coming back on the same port.
TEST(TavhostOverTcp, WatchRecoversWhenTheServerRestarts) {
  Snap7 server;
  ASSERT_TRUE(server.started());
  const Plant plant;
  plant.MapStation(server.port());
  Process watch(
      TavhostArgv({"--tcp-map", plant.map().string(), "watch", "01DW0010000", "--interval", "50",
                   "--timeout", "200", "--station-file", plant.stationFile().string()}));
  ASSERT_TRUE(watch.AwaitOut("result 0 failures 0 station up")) << watch.out() << watch.err();
  ASSERT_TRUE(server.Stop());
  ASSERT_TRUE(watch.AwaitErr("tavhost watch: station 01 is down: ")) << watch.err();
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(watch.AwaitErr("tavhost watch: station 01 is back up after ")) << watch.err();
  const size_t from = watch.out().size();
  ASSERT_TRUE(watch.AwaitOut("result 0", from)) << watch.out();
  EXPECT_EQ(watch.Interrupt(), 0) << watch.err();
}

// Through round trips of 50 and 200 ms: a longer --timeout never fails where a shorter one
// reads, the default reads over both, and a failure names the time-out it ran into.
TEST(TavhostOverTcp, TimeoutIsMonotonicThroughADelayingProxy) {
  Snap7 server;
  ASSERT_TRUE(server.started());
  const Plant plant;
  for (const int roundTrip : {50, 200}) {
    DelayingProxy proxy(server.port(), milliseconds(roundTrip));
    plant.MapStation(proxy.port());
    bool readBefore = false;
    for (const std::string timeout : {"1", "10", "50", "200", "1000", ""}) {
      std::vector<std::string> args = {"--tcp-map",      plant.map().string(),
                                       "read",           "01DW0010000",
                                       "--station-file", plant.stationFile().string()};
      if (!timeout.empty()) args.insert(args.end(), {"--timeout", timeout});
      Process read(TavhostArgv(args));
      const int exitCode = read.Wait();
      const std::string what = std::to_string(roundTrip) + " ms, --timeout " + timeout + ": ";
      if (readBefore || timeout.empty()) {
        EXPECT_EQ(exitCode, 0) << what << read.err();
      }
      if (exitCode == 0) {
        readBefore = true;
      } else {
        // What the driver waited: below 10 ms, 10.
        const std::string waited = std::to_string(std::max(std::stoi(timeout), 10));
        EXPECT_NE(read.err().find("the time-out of " + waited + " ms"), std::string::npos)
            << what << read.err();
      }
    }
  }
}
#endif

}  // namespace
