// What the bridge's tests run beside it: a mosquitto broker of their own on a free loopback port
// (with TLS and a password file when asked), a libmosquitto client that subscribes and publishes,
// and tavhost itself in the background, its output in a file.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tav::testing {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A folder of the test's own, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "tavhost-bridge-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code error;
    fs::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ / name) << text;
    return Path(name);
  }

 private:
  fs::path path_;
};

// A program in the background, standard output and error into `logFile`; its standard input
// empty, or a pipe held open while it runs (`holdInput`).
class Background {
 public:
  Background(std::vector<std::string> argv, const std::string& logFile, bool holdInput = false) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int input[2] = {-1, -1};
    if (holdInput && pipe2(input, O_CLOEXEC) == 0) {
      posix_spawn_file_actions_adddup2(&actions, input[0], 0);
      input_ = input[1];
    } else {
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (input[0] >= 0) close(input[0]);
  }
  ~Background() {
    Stop(SIGKILL);
    if (input_ >= 0) close(input_);
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Sends `signal` and waits for the end; the exit code, or 128 + the signal that ended it.
  int Stop(int signal) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits until `done` holds, looking every 20 ms; false after `patience`.
inline bool Eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds patience = std::chrono::seconds(15)) {
  const auto until = Clock::now() + patience;
  while (!done()) {
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline int FreeLoopbackPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}

inline bool Accepts(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool accepted = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(s);
  return accepted;
}

// The broker's TLS files and the one user it admits.
struct BrokerSecurity {
  std::string caFile, certFile, keyFile, passwordFile;
};

// mosquitto on 127.0.0.1:port(), configured by a file the test writes; run as root it is told
// to stay root, or it would switch to the mosquitto user and lose the test's files.
class Broker {
 public:
  explicit Broker(const TempFolder& folder, std::optional<BrokerSecurity> security = {})
      : folder_(folder), port_(FreeLoopbackPort()) {
    std::string config = "listener " + std::to_string(port_) + " 127.0.0.1\n";
    if (security) {
      config += "cafile " + security->caFile + "\ncertfile " + security->certFile + "\nkeyfile " +
                security->keyFile + "\npassword_file " + security->passwordFile +
                "\nallow_anonymous false\n";
    } else {
      config += "allow_anonymous true\n";
    }
    config += "persistence false\nmax_queued_messages 0\n";
    if (geteuid() == 0) config += "user root\n";
    configFile_ = folder_.Write("mosquitto.conf", config);
    Start();
  }
  int port() const { return port_; }
  bool Start() {
    process_.emplace(std::vector<std::string>{MOSQUITTO_BROKER, "-c", configFile_},
                     folder_.Path("mosquitto.log"));
    return Eventually([this] { return Accepts(port_); }, std::chrono::seconds(10));
  }
  void Stop() {
    if (process_) process_->Stop(SIGTERM);
    process_.reset();
  }
  std::string log() const { return ReadText(folder_.Path("mosquitto.log")); }

 private:
  const TempFolder& folder_;
  int port_;
  std::string configFile_;
  std::optional<Background> process_;
};

struct Message {
  std::string topic;
  std::string payload;
  bool retained = false;
};

struct ClientSecurity {
  std::string caFile, user, password;
};

// A libmosquitto client of the test's: subscribes to `pattern` and keeps every message.
class Subscriber {
 public:
  Subscriber(int port, const std::string& pattern, std::optional<ClientSecurity> security = {})
      : pattern_(pattern) {
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_connect_callback_set(client_, [](mosquitto* client, void* self, int code) {
      if (code == 0) {
        mosquitto_subscribe(client, nullptr, static_cast<Subscriber*>(self)->pattern_.c_str(), 1);
      }
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<Subscriber*>(self)->subscribed_ = true;
    });
    mosquitto_message_callback_set(
        client_, [](mosquitto*, void* self, const mosquitto_message* message) {
          auto& subscriber = *static_cast<Subscriber*>(self);
          Message kept{message->topic,
                       std::string(static_cast<const char*>(message->payload),
                                   static_cast<size_t>(message->payloadlen)),
                       message->retain};
          const std::lock_guard<std::mutex> lock(subscriber.mutex_);
          if (subscriber.each_) {
            subscriber.each_(kept);
          } else {
            subscriber.messages_.push_back(std::move(kept));
          }
        });
    if (security) {
      mosquitto_tls_set(client_, security->caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
      mosquitto_username_pw_set(client_, security->user.c_str(), security->password.c_str());
    }
    mosquitto_connect(client_, "localhost", port, 30);
    mosquitto_loop_start(client_);
    Eventually([this] { return subscribed_.load(); }, std::chrono::seconds(10));
  }
  ~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;

  bool subscribed() const { return subscribed_; }
  // Hands every message from now on to `each` instead of keeping it.
  void OnEach(std::function<void(const Message&)> each) {
    const std::lock_guard<std::mutex> lock(mutex_);
    each_ = std::move(each);
  }
  void Publish(const std::string& topic, const std::string& payload, bool retain = false) {
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                      payload.data(), 1, retain);
  }
  std::vector<Message> Messages() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // The messages on `topic`, in order.
  std::vector<Message> On(const std::string& topic) const {
    std::vector<Message> found;
    for (const Message& message : Messages()) {
      if (message.topic == topic) found.push_back(message);
    }
    return found;
  }
  // The newest message on `topic` once one satisfies `wanted` (any message by default).
  std::optional<Message> Await(
      const std::string& topic,
      const std::function<bool(const Message&)>& wanted = [](const Message&) { return true; },
      std::chrono::milliseconds patience = std::chrono::seconds(15)) const {
    std::optional<Message> found;
    Eventually(
        [&] {
          const std::vector<Message> on = On(topic);
          for (auto m = on.rbegin(); m != on.rend(); ++m) {
            if (wanted(*m)) {
              found = *m;
              return true;
            }
          }
          return false;
        },
        patience);
    return found;
  }

 private:
  std::string pattern_;
  mosquitto* client_ = nullptr;
  std::atomic<bool> subscribed_{false};
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  std::function<void(const Message&)> each_;
};

}  // namespace tav::testing
