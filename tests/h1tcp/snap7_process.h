// Snap7's S7 server, run as a program of its own (snap7_server) on 127.0.0.1, for the
// end-to-end tests and the TCP benchmark: an implementation of S7 communication independent of
// ours.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tav::h1tcp::test {

// One server program on free ports, one station per port; unavailable() says why it is not
// there. Without `events` the server keeps its exchanges to itself (a benchmark reads no log).
class Snap7Server {
 public:
  explicit Snap7Server(int pdu = 480, size_t servers = 1, bool events = true);
  ~Snap7Server();
  Snap7Server(const Snap7Server&) = delete;
  Snap7Server& operator=(const Snap7Server&) = delete;

  const std::string& unavailable() const { return unavailable_; }
  uint16_t port() const { return ports_.empty() ? 0 : ports_.front(); }
  const std::vector<uint16_t>& ports() const { return ports_; }
  bool Stop() { return Command("stop", "stopped"); }
  bool Start() { return Command("start", "started"); }
  // The lines the server printed since the last call ("read DB 1 0 462 0"...), once there are
  // `expected` of them or 2 s passed.
  std::vector<std::string> Events(size_t expected = 0);

 private:
  bool Command(const char* command, const char* answer);
  // Lines until one starts with `prefix`; false after 10 s.
  bool AwaitLine(const char* prefix);
  void Pump(int milliseconds);

  std::string unavailable_;
  std::vector<uint16_t> ports_;
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
  std::vector<std::string> lines_;
};

}  // namespace tav::h1tcp::test
