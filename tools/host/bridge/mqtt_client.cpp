#include "bridge/mqtt_client.h"

#include <fmt/core.h>
#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace tavhost::bridge {

namespace {

constexpr int kQos = 1;
constexpr unsigned kMessagesInFlight = 100;

void InitialiseLibraryOnce() {
  static const int initialised = mosquitto_lib_init();
  (void)initialised;
}

}  // namespace

MqttClient::MqttClient(BrokerOptions options, StatusTopic status,
                       std::vector<std::string> subscriptions, OnMessage onMessage)
    : options_(std::move(options)),
      status_(std::move(status)),
      subscriptions_(std::move(subscriptions)),
      onMessage_(std::move(onMessage)) {}

MqttClient::~MqttClient() {
  Stop(0);
  if (client_ != nullptr) mosquitto_destroy(client_);
}

std::string MqttClient::Start() {
  InitialiseLibraryOnce();
  // A clean session: the subscriptions are renewed on every connect.
  client_ =
      mosquitto_new(options_.clientId.empty() ? nullptr : options_.clientId.c_str(), true, this);
  if (client_ == nullptr) return "the MQTT client cannot be created (out of memory)";
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(client_, OnConnect);
  mosquitto_disconnect_callback_set(client_, OnDisconnect);
  mosquitto_message_callback_set(client_, OnArrival);
  mosquitto_publish_callback_set(client_, OnPublish);
  mosquitto_log_callback_set(client_, OnLog);
  // Values go out in bursts of a whole group: a hundred may await the broker's acknowledgement
  // at once (the library finds each acknowledged message by a search of those in flight).
  mosquitto_max_inflight_messages_set(client_, kMessagesInFlight);
  mosquitto_reconnect_delay_set(client_, static_cast<unsigned>(options_.reconnectFirstSeconds),
                                static_cast<unsigned>(options_.reconnectLongestSeconds), true);
  int code = SetWill(1);
  if (code != MOSQ_ERR_SUCCESS) {
    return fmt::format("the last will on {} is refused: {}", status_.topic,
                       mosquitto_strerror(code));
  }
  if (!options_.user.empty()) {
    code =
        mosquitto_username_pw_set(client_, options_.user.c_str(),
                                  options_.password.empty() ? nullptr : options_.password.c_str());
    if (code != MOSQ_ERR_SUCCESS) {
      return fmt::format("the user name is refused: {}", mosquitto_strerror(code));
    }
  }
  if (!options_.caFile.empty()) {
    code =
        mosquitto_tls_set(client_, options_.caFile.c_str(), nullptr,
                          options_.certFile.empty() ? nullptr : options_.certFile.c_str(),
                          options_.keyFile.empty() ? nullptr : options_.keyFile.c_str(), nullptr);
    if (code != MOSQ_ERR_SUCCESS) {
      return fmt::format("TLS cannot be set up with CA {}{}: {}", options_.caFile,
                         options_.certFile.empty() ? "" : ", certificate " + options_.certFile,
                         code == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(code));
    }
  }
  // The first connect may fail (no broker yet): the network thread keeps trying on the back-off.
  code = mosquitto_connect_async(client_, options_.host.c_str(), options_.port,
                                 options_.keepAliveSeconds);
  if (code != MOSQ_ERR_SUCCESS) {
    SetProblem(code == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(code));
    const std::lock_guard<std::mutex> lock(problemMutex_);
    Say("cannot connect: " + problem_);
  }
  code = mosquitto_loop_start(client_);
  if (code != MOSQ_ERR_SUCCESS) {
    return fmt::format("the MQTT network thread cannot start: {}", mosquitto_strerror(code));
  }
  started_ = true;
  return {};
}

int MqttClient::SetWill(uint64_t session) {
  const std::lock_guard<std::mutex> lock(willMutex_);
  will_ = status_.willOf ? status_.willOf(session) : status_.offline;
  return mosquitto_will_set(client_, status_.topic.c_str(), static_cast<int>(will_.size()),
                            will_.data(), kQos, status_.retained);
}

std::string MqttClient::CurrentWill() const {
  const std::lock_guard<std::mutex> lock(willMutex_);
  return will_;
}

bool MqttClient::Publish(const std::string& topic, const std::string& payload, bool retain,
                         int qos) {
  if (!connected_) return false;
  const size_t size = topic.size() + payload.size();
  {
    const std::lock_guard<std::mutex> lock(awaitingMutex_);
    if (awaiting_.size() >= options_.mostAwaiting ||
        awaitingBytes_ + size > options_.mostAwaitingBytes) {
      ++heldBack_;
      return false;
    }
  }
  int messageId = 0;
  if (mosquitto_publish(client_, &messageId, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), qos, retain) != MOSQ_ERR_SUCCESS) {
    return false;
  }
  Record(messageId, size);
  return true;
}

void MqttClient::Record(int messageId, size_t size) {
  const std::lock_guard<std::mutex> lock(awaitingMutex_);
  ++published_;
  if (early_.erase(messageId) > 0) {
    ++delivered_;
  } else {
    awaiting_[messageId] = size;
    awaitingBytes_ += size;
  }
}

Deliveries MqttClient::deliveries() const {
  const std::lock_guard<std::mutex> lock(awaitingMutex_);
  return {published_, delivered_, static_cast<int64_t>(awaiting_.size()), heldBack_};
}

void MqttClient::Stop(int patienceMs) {
  if (!started_) return;
  started_ = false;
  if (connected_) {
    int messageId = 0;
    const std::string offline = CurrentWill();
    if (mosquitto_publish(client_, &messageId, status_.topic.c_str(),
                          static_cast<int>(offline.size()), offline.data(), kQos,
                          status_.retained) == MOSQ_ERR_SUCCESS) {
      Record(messageId, status_.topic.size() + offline.size());
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    while (connected_ && lastAcknowledged_ != messageId &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  connected_ = false;
}

std::string MqttClient::State() const {
  if (connected_) return "connected";
  const std::lock_guard<std::mutex> lock(problemMutex_);
  if (connections_ == 0) return problem_.empty() ? "connecting" : "connecting: " + problem_;
  return problem_.empty() ? "reconnecting" : "reconnecting: " + problem_;
}

void MqttClient::SetProblem(std::string problem) {
  const std::lock_guard<std::mutex> lock(problemMutex_);
  problem_ = std::move(problem);
}

void MqttClient::Say(const std::string& change) {
  if (change == said_) return;
  said_ = change;
  fmt::print(stderr, "tavhost bridge: broker {}:{} {}\n", options_.host, options_.port, change);
  std::fflush(stderr);
}

void MqttClient::OnConnect(mosquitto* client, void* self, int code) {
  auto& bridge = *static_cast<MqttClient*>(self);
  if (code != 0) {
    // The CONNACK's return code in words: a wrong password, a client id refused, ...
    bridge.SetProblem(
        fmt::format("the broker refused the connection: {}", mosquitto_connack_string(code)));
    const std::lock_guard<std::mutex> lock(bridge.problemMutex_);
    bridge.Say(bridge.problem_);
    return;
  }
  for (const std::string& pattern : bridge.subscriptions_) {
    mosquitto_subscribe(client, nullptr, pattern.c_str(), kQos);
  }
  int messageId = 0;
  const std::optional<std::string>& online = bridge.status_.online;
  if (online && mosquitto_publish(client, &messageId, bridge.status_.topic.c_str(),
                                  static_cast<int>(online->size()), online->data(), kQos,
                                  true) == MOSQ_ERR_SUCCESS) {
    bridge.Record(messageId, bridge.status_.topic.size() + online->size());
  }
  bridge.SetProblem({});
  ++bridge.connections_;
  bridge.connected_ = true;
  const std::lock_guard<std::mutex> lock(bridge.problemMutex_);
  bridge.tlsError_.clear();
  bridge.Say("connected");
}

void MqttClient::OnDisconnect(mosquitto* /*client*/, void* self, int code) {
  auto& bridge = *static_cast<MqttClient*>(self);
  bridge.connected_ = false;
  if (code == 0) return;  // the bridge's own disconnect
  // The next connection is a session of its own, with a will of its own (Sparkplug's bdSeq).
  if (bridge.status_.willOf) bridge.SetWill(bridge.connections_ + 1);
  bridge.SetProblem(fmt::format("connection lost ({})", mosquitto_strerror(code)));
  const std::lock_guard<std::mutex> lock(bridge.problemMutex_);
  bridge.Say(bridge.tlsError_.empty() ? bridge.problem_
                                      : bridge.problem_ + ": TLS: " + bridge.tlsError_);
}

// libmosquitto says why a TLS handshake failed (the certificate check's error, a name that does
// not match) only in its log: the error becomes the connection's problem, logged at once.
void MqttClient::OnLog(mosquitto* /*client*/, void* self, int level, const char* text) {
  constexpr std::string_view kTlsError = "OpenSSL Error";
  if (level != MOSQ_LOG_ERR || text == nullptr || !std::string_view(text).starts_with(kTlsError)) {
    return;
  }
  auto& bridge = *static_cast<MqttClient*>(self);
  std::string error(text);
  if (const size_t colon = error.find("]: "); colon != std::string::npos) {
    error.erase(0, colon + 3);
  }
  bridge.SetProblem("TLS: " + error);
  const std::lock_guard<std::mutex> lock(bridge.problemMutex_);
  bridge.tlsError_ = error;
  bridge.Say("cannot connect: TLS: " + error);
}

void MqttClient::OnArrival(mosquitto* /*client*/, void* self, const mosquitto_message* message) {
  auto& bridge = *static_cast<MqttClient*>(self);
  bridge.onMessage_(message->topic,
                    std::string(static_cast<const char*>(message->payload),
                                static_cast<size_t>(message->payloadlen)),
                    message->retain);
}

void MqttClient::OnPublish(mosquitto* /*client*/, void* self, int messageId) {
  auto& bridge = *static_cast<MqttClient*>(self);
  bridge.lastAcknowledged_ = messageId;
  const std::lock_guard<std::mutex> lock(bridge.awaitingMutex_);
  const auto found = bridge.awaiting_.find(messageId);
  if (found == bridge.awaiting_.end()) {
    // Acknowledged before Publish recorded it: Record finds it here.
    if (bridge.early_.size() < bridge.options_.mostAwaiting) bridge.early_.insert(messageId);
    return;
  }
  bridge.awaitingBytes_ -= found->second;
  bridge.awaiting_.erase(found);
  ++bridge.delivered_;
}

}  // namespace tavhost::bridge
