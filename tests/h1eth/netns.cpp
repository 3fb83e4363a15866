#include "netns.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace tav::h1eth::test {
namespace {

// What the signal handler removes: the namespaces of the networks alive, as fixed buffers, and
// the ip program by its full path (the handler may call fork and execve only).
constexpr size_t kMaxNamespaces = 12;
char gIpProgram[64] = "";
std::array<std::array<char, 32>, kMaxNamespaces> gNamespaces{};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGABRT};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction gPrevious[kSignalCount];

void RemoveAllNamespaces() {
  for (auto& name : gNamespaces) {
    if (name[0] == '\0') continue;
    const pid_t child = fork();
    if (child == 0) {
      char netns[] = "netns";
      char del[] = "del";
      char* argv[] = {gIpProgram, netns, del, name.data(), nullptr};
      char* envp[] = {nullptr};
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execve(gIpProgram, argv, envp);
      _exit(127);
    }
    if (child > 0) waitpid(child, nullptr, 0);
    name[0] = '\0';
  }
}

void OnSignal(int signal) {
  RemoveAllNamespaces();
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == signal) sigaction(signal, &gPrevious[i], nullptr);
  }
  raise(signal);
}

void Remember(const std::string& name, bool add) {
  static bool installed = false;
  if (!installed) {
    installed = true;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &action, &gPrevious[i]);
  }
  for (auto& slot : gNamespaces) {
    if (add && slot[0] == '\0') {
      std::snprintf(slot.data(), slot.size(), "%s", name.c_str());
      return;
    }
    if (!add && name == slot.data()) {
      slot[0] = '\0';
      return;
    }
  }
}

bool FindIp() {
  if (gIpProgram[0] != '\0') return true;
  for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (access(path, X_OK) == 0) {
      std::snprintf(gIpProgram, sizeof gIpProgram, "%s", path);
      return true;
    }
  }
  return false;
}

std::vector<char*> Arguments(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Namespaces a test process left when it was killed outright: "tav<pid>drv" and the like whose
// process is gone.
void RemoveOrphans() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/run/netns", error)) {
    const std::string name = entry.path().filename().string();
    size_t end = 3;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
    if (!name.starts_with("tav") || end == 3 || name.size() != end + 3) continue;
    const pid_t owner = static_cast<pid_t>(std::stol(name.substr(3, end - 3)));
    if (kill(owner, 0) != 0 && errno == ESRCH) RunProgram({gIpProgram, "netns", "del", name});
  }
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, bool quiet) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (quiet) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
    }
    std::vector<char*> arguments = Arguments(argv);
    execvp(arguments[0], arguments.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void StopProgram(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool AwaitLine(const std::string& log, const std::string& line) {
  for (int i = 0; i < 1000; ++i) {
    std::ifstream in(log);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    if (("\n" + text).find("\n" + line + "\n") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TestNetwork::TestNetwork(Shape shape) {
  if (geteuid() != 0) {
    unavailable_ = "not root: network namespaces need CAP_SYS_ADMIN";
    return;
  }
  if (!FindIp()) {
    unavailable_ = "no ip program (iproute2)";
    return;
  }
  RemoveOrphans();
  const std::string stem = "tav" + std::to_string(getpid());
  for (const char* role : {"drv", "sta", "rly"}) {
    if (shape == Shape::kPair && std::strcmp(role, "rly") == 0) break;
    if (!Add(stem + role)) return;
  }
  const bool joined = shape == Shape::kPair
                          ? Join(driver(), kLinkName, station(), kLinkName)
                          : Join(driver(), kLinkName, relay(), kRelayDriverSide) &&
                                Join(relay(), kRelayStationSide, station(), kLinkName);
  if (!joined) return;
  for (const std::string& name : names_) {
    if (!SetLink(name, "lo", true)) unavailable_ = "ip link set lo up failed in " + name;
  }
}

TestNetwork::~TestNetwork() {
  for (const std::string& name : names_) {
    RunProgram({gIpProgram, "netns", "del", name});
    Remember(name, false);
  }
}

bool TestNetwork::Add(const std::string& name) {
  RunProgram({gIpProgram, "netns", "del", name});  // one a crashed run of this pid left
  if (RunProgram({gIpProgram, "netns", "add", name}) != 0) {
    unavailable_ = "ip netns add " + name + " failed";
    return false;
  }
  names_.push_back(name);
  Remember(name, true);
  // No IPv6 on the test's links: its neighbour discovery would add frames of its own.
  if (RunProgram({gIpProgram, "netns", "exec", name, "sysctl", "-qw",
                  "net.ipv6.conf.all.disable_ipv6=1", "net.ipv6.conf.default.disable_ipv6=1"}) !=
      0) {
    unavailable_ = "sysctl in " + name + " failed";
    return false;
  }
  return true;
}

// The pair is made inside the two namespaces at once: no end ever appears among the machine's own
// interfaces.
bool TestNetwork::Join(const std::string& a, const char* aEnd, const std::string& b,
                       const char* bEnd) {
  if (RunProgram({gIpProgram, "link", "add", aEnd, "netns", a, "type", "veth", "peer", "name", bEnd,
                  "netns", b}) != 0) {
    unavailable_ = "ip link add ... type veth failed (no veth support?)";
    return false;
  }
  if (!SetLink(a, aEnd, true) || !SetLink(b, bEnd, true)) {
    unavailable_ = "ip link set up failed on the veth pair";
    return false;
  }
  return true;
}

bool TestNetwork::SetLink(const std::string& name, const char* device, bool up) const {
  return RunProgram({gIpProgram, "-n", name, "link", "set", device, up ? "up" : "down"}) == 0;
}

pid_t TestNetwork::Spawn(const std::string& name, const std::vector<std::string>& argv,
                         const std::string& log) const {
  std::vector<std::string> command = {gIpProgram, "netns", "exec", name};
  command.insert(command.end(), argv.begin(), argv.end());
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child != 0) return child;
  // The program ends with the test process, even when that one crashes.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(1);
  if (!log.empty()) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
  }
  std::vector<char*> arguments = Arguments(command);
  execv(arguments[0], arguments.data());
  _exit(127);
}

bool InNamespace(const std::string& name, const std::function<void()>& work) {
  EnteredNamespace entered(name);
  if (!entered.entered()) return false;
  work();
  return true;
}

EnteredNamespace::EnteredNamespace(const std::string& name) {
  previous_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  entered_ = previous_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
  if (target >= 0) close(target);
}

EnteredNamespace::~EnteredNamespace() {
  if (entered_) setns(previous_, CLONE_NEWNET);
  if (previous_ >= 0) close(previous_);
}

}  // namespace tav::h1eth::test
