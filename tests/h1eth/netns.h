// Test networks of network namespaces joined by veth pairs, made for one test process and removed
// with it: frames go only between namespaces the test made, never over the machine's interfaces.
//
// Two namespaces ("driver" and "station") joined by one veth pair, or three with a relay
// namespace between two veth pairs. Names carry the process id, so parallel test processes do
// not meet. Each veth end is called by the role at the other end's side ("h1"), so a program in
// a namespace opens interface "h1"; the relay's two ends are "h1a" (towards the driver) and
// "h1b" (towards the station). The namespaces go when the object goes, and on SIGINT, SIGTERM
// and SIGHUP as well.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace tav::h1eth::test {

inline constexpr const char* kLinkName = "h1";
inline constexpr const char* kRelayDriverSide = "h1a";
inline constexpr const char* kRelayStationSide = "h1b";

class TestNetwork {
 public:
  enum class Shape { kPair, kWithRelay };
  explicit TestNetwork(Shape shape = Shape::kPair);
  ~TestNetwork();
  TestNetwork(const TestNetwork&) = delete;
  TestNetwork& operator=(const TestNetwork&) = delete;

  // Empty when the network is up; otherwise why not (not root, `ip netns` failed): the tests
  // skip with it.
  const std::string& unavailable() const { return unavailable_; }
  const std::string& driver() const { return names_[0]; }
  const std::string& station() const { return names_[1]; }
  const std::string& relay() const { return names_[2]; }

  // Starts `argv` inside namespace `name` (`ip netns exec`), its output to `log` (appended)
  // when given; returns the child's pid, or -1.
  pid_t Spawn(const std::string& name, const std::vector<std::string>& argv,
              const std::string& log = "") const;
  // `ip -n NAME link set DEV up/down`.
  bool SetLink(const std::string& name, const char* device, bool up) const;

 private:
  bool Add(const std::string& name);
  bool Join(const std::string& a, const char* aEnd, const std::string& b, const char* bEnd);

  std::string unavailable_;
  std::vector<std::string> names_;
};

// Runs `work` with the calling thread inside namespace `name`, then returns it to the namespace it
// was in. Sockets opened meanwhile stay in `name`, and threads started meanwhile stay there too.
bool InNamespace(const std::string& name, const std::function<void()>& work);

// Moves the calling thread into namespace `name` until the object goes.
class EnteredNamespace {
 public:
  explicit EnteredNamespace(const std::string& name);
  ~EnteredNamespace();
  EnteredNamespace(const EnteredNamespace&) = delete;
  EnteredNamespace& operator=(const EnteredNamespace&) = delete;
  bool entered() const { return entered_; }

 private:
  int previous_ = -1;
  bool entered_ = false;
};

// Runs a program to its end; its exit status, or -1.
int RunProgram(const std::vector<std::string>& argv, bool quiet = true);
// Sends SIGTERM to a spawned program and reaps it (SIGKILL after 2 s).
void StopProgram(pid_t pid);
// Waits until a spawned program's log holds `line` (a whole line: "ready", "relaying"); false
// after 10 s.
bool AwaitLine(const std::string& log, const std::string& line);

}  // namespace tav::h1eth::test
