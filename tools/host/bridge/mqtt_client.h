// The bridge's connection to its MQTT broker, over libmosquitto. The library runs the network on
// a thread of its own (mosquitto_loop_start): it connects, reconnects with a doubling back-off
// after the broker goes away, renews the subscriptions and publishes the bridge's `online` status
// on every connect, and hands each message that arrives to the callback given, on its thread.
// Publishing is safe from any thread; while the broker is away a publish is refused at once
// rather than queued, and so is one beyond what may await the broker's acknowledgement (a count
// and a byte bound), so a bridge whose broker stalls or is cut off holds no growing backlog,
// across reconnects too. Each change of the connection is logged when it happens, with the
// broker's refusal or the TLS check's error in words.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace tavhost::bridge {

struct BrokerOptions {
  std::string host = "localhost";
  int port = 1883;
  std::string clientId;  // empty: the library makes one up
  std::string caFile;    // non-empty: TLS, the broker's certificate checked against this CA
  std::string certFile;  // with keyFile: the bridge's own certificate
  std::string keyFile;
  std::string user;  // empty: no user name
  std::string password;
  int keepAliveSeconds = 30;
  int reconnectFirstSeconds = 1;
  int reconnectLongestSeconds = 30;
  // What may await the broker's acknowledgement at once.
  size_t mostAwaiting = 10'000;
  size_t mostAwaitingBytes = size_t{8} << 20;
};

// What became of the publishes: handed to the library, acknowledged by the broker, awaiting its
// acknowledgement, and refused because too many awaited it.
struct Deliveries {
  int64_t published = 0;
  int64_t delivered = 0;
  int64_t awaiting = 0;
  int64_t heldBack = 0;
};

// The status message, published retained at every connect, and the broker's last will saying
// `offline`. Sparkplug's edge node publishes nothing at connect (`online` none) and its will is
// an NDEATH of each session's own (`willOf`, not retained).
struct StatusTopic {
  std::string topic;
  std::optional<std::string> online = "online";
  std::string offline = "offline";
  bool retained = true;
  // When set: the will of the `session`th connection (counted from 1), in place of `offline`.
  std::function<std::string(uint64_t session)> willOf = {};
};

class MqttClient {
 public:
  // A message that arrived; `retained` when the broker delivered it from its store.
  using OnMessage = std::function<void(std::string topic, std::string payload, bool retained)>;

  MqttClient(BrokerOptions options, StatusTopic status, std::vector<std::string> subscriptions,
             OnMessage onMessage);
  ~MqttClient();
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Sets the client up and starts connecting in the background; the broker need not be there
  // yet. Returns why it cannot start (a TLS file that cannot be used, no thread), else empty.
  std::string Start();
  // Publishes at `qos` (1 by default); false when the broker is not connected, too much awaits
  // it, or the library refused.
  bool Publish(const std::string& topic, const std::string& payload, bool retain, int qos = 1);
  // Publishes the will's message itself, disconnects and stops the network thread; waits
  // up to `patienceMs` for the broker to have the status message.
  void Stop(int patienceMs = 2000);

  bool connected() const { return connected_; }
  // How many times the client has connected: a new number means the broker is back, and may
  // have lost what was published before (values are then published again).
  uint64_t connections() const { return connections_; }
  // The broker's state in words: "connected", "connecting", "reconnecting: why".
  std::string State() const;
  Deliveries deliveries() const;

 private:
  static void OnConnect(mosquitto* client, void* self, int code);
  static void OnDisconnect(mosquitto* client, void* self, int code);
  static void OnArrival(mosquitto* client, void* self, const mosquitto_message* message);
  static void OnPublish(mosquitto* client, void* self, int messageId);
  static void OnLog(mosquitto* client, void* self, int level, const char* text);
  void SetProblem(std::string problem);
  // Sets the will for the `session`th connection; the library's code.
  int SetWill(uint64_t session);
  std::string CurrentWill() const;
  // Counts a publish the library took, awaiting its acknowledgement.
  void Record(int messageId, size_t size);
  // Logs a change of the connection ("connected", "connection lost: why"), once per change.
  void Say(const std::string& change);

  BrokerOptions options_;
  StatusTopic status_;
  std::vector<std::string> subscriptions_;
  OnMessage onMessage_;
  mosquitto* client_ = nullptr;
  bool started_ = false;
  std::atomic<bool> connected_{false};
  std::atomic<uint64_t> connections_{0};
  std::atomic<int> lastAcknowledged_{0};
  mutable std::mutex problemMutex_;
  std::string problem_;   // why the last connection ended or failed
  std::string said_;      // the change last logged
  std::string tlsError_;  // the TLS library's last error, for the next change logged
  mutable std::mutex willMutex_;
  std::string will_;  // the will's payload for the current or next connection
  // Publishes awaiting the broker's acknowledgement, by message id, with their sizes; an
  // acknowledgement that came before its publish was recorded waits in `early_`.
  mutable std::mutex awaitingMutex_;
  std::unordered_map<int, size_t> awaiting_;
  std::set<int> early_;
  size_t awaitingBytes_ = 0;
  int64_t published_ = 0;
  int64_t delivered_ = 0;
  int64_t heldBack_ = 0;
};

}  // namespace tavhost::bridge
