// The running bridge: one thread that calls TavMain polls each group of tags on its period in
// block reads, publishes what is news, and between polls takes the writes that libmosquitto's
// thread queued; stations that drop are reconnected as `watch` reconnects them, and a broker that
// comes back gets every current value again.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/block_plan.h"
#include "bridge/inbox.h"
#include "bridge/mqtt_client.h"
#include "bridge/publication.h"
#include "bridge/sparkplug.h"
#include "bridge/write_request.h"
#include "runtime/host.h"
#include "stations/recovery.h"
#include "tags/tag.h"
#include "tags/values.h"

namespace tavhost::bridge {

// One tag as the bridge's file gives it.
struct TagPlan {
  std::string address;       // the 13-character form
  int32_t hostDataType = 0;  // what command 3 is given for it
  std::string name;
  double deadband = 0;
  bool writable = false;
  std::string metric;  // its Sparkplug metric's name: GROUP/NAME
  bool isSigned = false;
};

struct GroupPlan {
  std::chrono::milliseconds period{1000};
  std::vector<TagPlan> tags;
};

// How long a write may wait in the queue before it is answered "expired" instead of done.
inline constexpr std::chrono::milliseconds kWriteLifetime{10'000};

// Sparkplug B in place of JSON: the bridge is edge node `edge` of `group`, each station a device.
struct SparkplugPlan {
  std::string group;
  std::string edge;
  std::string primaryHost;  // non-empty: births wait for its STATE online
};

struct BridgePlan {
  std::string prefix;                       // topics are PREFIX/STATION/NAME
  std::map<int, std::string> stationNames;  // a station without one is named by its number, "01"
  std::chrono::milliseconds heartbeat{60'000};
  std::chrono::milliseconds statsInterval{60'000};
  std::chrono::milliseconds writeLifetime = kWriteLifetime;
  std::vector<GroupPlan> groups;
  std::optional<SparkplugPlan> sparkplug;
};

// What the statistics line counts.
struct BridgeCounts {
  int64_t tagsPolled = 0;
  int64_t reads = 0;  // block reads and single reads that ran
  int64_t publishes = 0;
  int64_t writes = 0;    // writes done
  int64_t refusals = 0;  // writes refused
  int64_t failures = 0;  // reads that failed or were skipped while their station was down
};

class Bridge {
 public:
  Bridge(Host& host, BridgePlan plan);
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Parses every tag's address (command 3); false, with each problem reported, when any is
  // refused.
  bool Prepare(int& exitCode);
  // What goes to the broker's client: the status topic (Sparkplug: the NDEATH will) and the
  // subscriptions for writes (Sparkplug: NCMD, DCMD and the primary host's STATE).
  StatusTopic Status() const;
  std::vector<std::string> Subscriptions() const;
  // The client the bridge publishes through and answers on; before the client starts.
  void Attach(MqttClient& client) { client_ = &client; }
  // A message from the broker, on libmosquitto's thread: an empty payload (a retained message
  // cleared) is no write; one too large, or one that finds the queue full, is answered at once;
  // the others wait in the queue for the bridge's thread.
  void Arrive(std::string topic, std::string payload, bool retained);

  // Runs until `stop` says so; publishes through `client`.
  template <typename Stop>
  void Run(MqttClient& client, Stop stop) {
    client_ = &client;
    while (!stop()) RunOnce(std::chrono::milliseconds(100));
  }
  // One pass: polls the groups that are due, republishes after the broker came back, prints the
  // statistics when due, then handles writes until the next is due or `longest` has passed.
  void RunOnce(std::chrono::milliseconds longest);

  const BridgeCounts& counts() const { return counts_; }
  size_t tagCount() const { return tags_.size(); }
  size_t readsPerRound() const;
  // The statistics line: as text, or as one JSON document with --json; `stopped` for the last
  // one, after the broker's client stopped.
  std::string StatisticsLine(bool stopped = false) const;

 private:
  using Clock = std::chrono::steady_clock;
  struct BridgedTag {
    TagPlan plan;
    std::string key;  // STATION/NAME
    std::string topic;
    Tag tag;
    Sample current;
    bool polled = false;
    std::optional<Sample> published;
    Clock::time_point publishedAt{};
    uint64_t connection = 0;  // the broker connection it was last published on
    sparkplug::DataType type = sparkplug::DataType::kUInt16;  // its Sparkplug metric's
    bool pending = false;                                     // Sparkplug: news not yet in a DDATA
  };
  struct PolledGroup {
    std::chrono::milliseconds period;
    std::vector<size_t> tags;      // into tags_
    std::vector<BlockRead> reads;  // their indices into `tags`
    Clock::time_point due{};
  };

  std::string StationName(int station) const;
  void Poll(PolledGroup& group);
  void Take(BridgedTag& tag, const Sample& sample, Clock::time_point now);
  void Publish(BridgedTag& tag, Clock::time_point now);
  // Publishes the station's status when it changed, or was last published on an earlier broker
  // connection.
  void PublishStationStatus(int station);
  void RepublishAfterReconnect();
  void HandleMessage(const InboundMessage& message);
  // Publishes the answer to a write on TOPIC/result, where TOPIC is the write's less "/set".
  void Answer(std::string_view topic, Refusal refusal, const std::string& reason);
  Refusal Write(BridgedTag& tag, const std::string& payload, std::string& reason);
  // A write of `text` (as ParseValues takes it), read back and published.
  Refusal WriteText(BridgedTag& tag, const std::string& text, std::string& reason);

  // Sparkplug B (bridge_sparkplug.cpp).
  void SparkplugTake(BridgedTag& tag, const Sample& sample);
  // Whatever is due: NBIRTH on a new connection (once the primary host is online), a station's
  // DBIRTH once it is up and its tags were read, DDEATH when it went down, DDATA with the news.
  void SparkplugStep();
  bool NodeBirth(uint64_t connection);
  bool DeviceMessage(int station, sparkplug::Verb verb);
  bool SparkplugPublish(const std::string& topic, std::span<const sparkplug::OutMetric> metrics);
  sparkplug::OutMetric MetricOf(const BridgedTag& tag, size_t index, bool birth) const;
  std::string WillOf(uint64_t session) const;
  void SparkplugCommand(const InboundMessage& message);
  void DeviceCommand(int station, const std::vector<sparkplug::InMetric>& metrics);
  void SparkplugLog(const std::string& text) const;

  Host& host_;
  BridgePlan plan_;
  StationRecovery recovery_;
  Inbox inbox_;
  MqttClient* client_ = nullptr;
  std::vector<BridgedTag> tags_;
  std::map<std::string, size_t> byKey_;
  std::vector<PolledGroup> groups_;
  struct StationStatus {
    StationState state;
    uint64_t connection;  // the broker connection it was published on
  };
  std::map<int, StationStatus> stationStatuses_;  // as last published
  uint64_t connectionsSeen_ = 0;
  std::atomic<int64_t> turnedAway_{0};  // writes answered on arrival: too large, queue full
  Clock::time_point statsDue_{};
  BridgeCounts counts_;
  struct SparkplugSession {
    sparkplug::Sequence seq;
    uint64_t bornOn = 0;         // the connection NBIRTH went out on; 0: the node is not born
    bool hostOnline = true;      // with a primary host: as its last STATE said (offline at first)
    uint64_t hostStateTime = 0;  // the timestamp of that STATE
    std::map<int, std::vector<size_t>> stationTags;  // into tags_
    std::map<int, bool> deviceBorn;
    std::map<std::string, int> stationOfDevice;
    std::map<std::pair<int, std::string>, size_t> byMetric;  // station and metric name
  };
  SparkplugSession spb_;
};

}  // namespace tavhost::bridge
