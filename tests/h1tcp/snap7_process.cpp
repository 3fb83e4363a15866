#include "snap7_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "peer.h"

extern char** environ;

namespace tav::h1tcp::test {

Snap7Server::Snap7Server(int pdu, size_t servers, bool events) {
#ifdef TAV_SNAP7_UNAVAILABLE
  (void)pdu;
  (void)servers;
  (void)events;
  unavailable_ = TAV_SNAP7_UNAVAILABLE;
#else
  // Free ports: the system picks them for sockets of ours, which let them go at once.
  std::vector<int> probes;
  std::string portList;
  for (size_t i = 0; i < servers; ++i) {
    uint16_t port = 0;
    probes.push_back(ListenOnFreePort(port));
    ports_.push_back(port);
    if (i > 0) portList += ',';
    portList += std::to_string(port);
  }
  for (int probe : probes) ::close(probe);
  int toServer[2];
  int fromServer[2];
  if (pipe2(toServer, O_CLOEXEC) != 0 || pipe2(fromServer, O_CLOEXEC) != 0) {
    unavailable_ = "no pipes";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toServer[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromServer[1], 1);
  std::vector<std::string> words;
  std::istringstream emulator(TAV_TEST_EMULATOR);
  for (std::string word; emulator >> word;) words.push_back(word);
  words.push_back(TAV_SNAP7_SERVER);
  words.push_back(portList);
  words.push_back(std::to_string(pdu));
  if (!events) words.push_back("quiet");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toServer[0]);
  ::close(fromServer[1]);
  input_ = toServer[1];
  output_ = fromServer[0];
  if (spawned != 0) {
    pid_ = -1;
    unavailable_ = "cannot start " + std::string(TAV_SNAP7_SERVER);
    return;
  }
  if (!AwaitLine("started")) unavailable_ = "Snap7's server did not start on port " + portList;
#endif
}

Snap7Server::~Snap7Server() {
  if (input_ >= 0) {
    // A server already gone cannot read it; the wait below ends it either way.
    [[maybe_unused]] const ssize_t written = ::write(input_, "quit\n", 5);
    ::close(input_);
  }
  if (pid_ > 0) {
    int status = 0;
    for (int waited = 0; waited < 5000; waited += 10) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  if (output_ >= 0) ::close(output_);
}

void Snap7Server::Pump(int milliseconds) {
  pollfd entry{output_, POLLIN, 0};
  while (output_ >= 0 && ::poll(&entry, 1, milliseconds) > 0) {
    char chunk[4096];
    const ssize_t count = ::read(output_, chunk, sizeof chunk);
    if (count <= 0) return;
    pending_.append(chunk, static_cast<size_t>(count));
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      lines_.push_back(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
    milliseconds = 0;
  }
}

bool Snap7Server::AwaitLine(const char* prefix) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  size_t seen = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    Pump(50);
    for (; seen < lines_.size(); ++seen) {
      if (lines_[seen].starts_with(prefix)) {
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<ptrdiff_t>(seen) + 1);
        return true;
      }
    }
  }
  return false;
}

bool Snap7Server::Command(const char* command, const char* answer) {
  const std::string line = std::string(command) + "\n";
  if (::write(input_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
  return AwaitLine(answer);
}

std::vector<std::string> Snap7Server::Events(size_t expected) {
  // The server logs an exchange after it answered it: wait a little for the lines expected.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  do {
    Pump(20);
  } while (lines_.size() < expected && std::chrono::steady_clock::now() < deadline);
  std::vector<std::string> events = std::move(lines_);
  lines_.clear();
  return events;
}

}  // namespace tav::h1tcp::test
