// The bridge's connection to its MQTT broker, over libmosquitto. The library runs the network on
// a thread of its own (mosquitto_loop_start): it connects, reconnects with a doubling back-off
// after the broker goes away, renews the subscriptions and publishes the bridge's `online` status
// on every connect, and hands each message that arrives to the callback given, on its thread.
// Publishing is safe from any thread; while the broker is away a publish is refused at once
// rather than queued, so a bridge cut off from its broker holds no growing backlog.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
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
};

// The retained status message, the broker's last will saying `offline`.
struct StatusTopic {
  std::string topic;
  std::string online = "online";
  std::string offline = "offline";
};

class MqttClient {
 public:
  using OnMessage = std::function<void(std::string topic, std::string payload)>;

  MqttClient(BrokerOptions options, StatusTopic status, std::vector<std::string> subscriptions,
             OnMessage onMessage);
  ~MqttClient();
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Sets the client up and starts connecting in the background; the broker need not be there
  // yet. Returns why it cannot start (a TLS file that cannot be used, no thread), else empty.
  std::string Start();
  // Publishes at QoS 1; false when the broker is not connected or the library refused.
  bool Publish(const std::string& topic, const std::string& payload, bool retain);
  // Publishes `offline` in place of the will, disconnects and stops the network thread; waits
  // up to `patienceMs` for the broker to have the status message.
  void Stop(int patienceMs = 2000);

  bool connected() const { return connected_; }
  // How many times the client has connected: a new number means the broker is back, and may
  // have lost what was published before (values are then published again).
  uint64_t connections() const { return connections_; }
  // The broker's state in words: "connected", "connecting", "reconnecting: why".
  std::string State() const;

 private:
  static void OnConnect(mosquitto* client, void* self, int code);
  static void OnDisconnect(mosquitto* client, void* self, int code);
  static void OnArrival(mosquitto* client, void* self, const mosquitto_message* message);
  static void OnPublish(mosquitto* client, void* self, int messageId);
  void SetProblem(std::string problem);

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
  std::string problem_;  // why the last connection ended or failed
};

}  // namespace tavhost::bridge
