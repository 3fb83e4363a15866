#include "bridge/bridge_runtime.h"

#include <fmt/core.h>

#include <algorithm>

namespace tavhost::bridge {

namespace {

constexpr int32_t kNoConnection = 2;
constexpr std::string_view kSetSuffix = "/set";

std::string_view StationStatusWord(StationState state) {
  return state == StationState::kDown ? "offline" : "online";
}

}  // namespace

Bridge::Bridge(Host& host, BridgePlan plan)
    : host_(host), plan_(std::move(plan)), recovery_(host, "bridge") {
  inbox_.SetLifetime(plan_.writeLifetime);
  // With a primary host, the node waits for its STATE online.
  spb_.hostOnline = !plan_.sparkplug || plan_.sparkplug->primaryHost.empty();
}

std::string Bridge::StationName(int station) const {
  const auto named = plan_.stationNames.find(station);
  return named != plan_.stationNames.end() ? named->second : fmt::format("{:02}", station);
}

bool Bridge::Prepare(int& exitCode) {
  bool prepared = true;
  for (const GroupPlan& groupPlan : plan_.groups) {
    PolledGroup group{groupPlan.period, {}, {}, {}};
    std::vector<Tag> parsed;
    for (const TagPlan& tagPlan : groupPlan.tags) {
      std::optional<Tag> tag =
          PrepareTag(host_, "bridge", tagPlan.address, tagPlan.hostDataType, 1, exitCode);
      if (!tag) {
        prepared = false;
        continue;
      }
      BridgedTag bridged{tagPlan, {}, {}, *tag, {}, false, std::nullopt, {}, 0};
      const int station = tag->parsed.plcNumber;
      bridged.key = StationName(station) + "/" + tagPlan.name;
      bridged.topic = plan_.prefix + "/" + bridged.key;
      bridged.type = sparkplug::MetricType(tag->kind, tagPlan.isSigned);
      byKey_[bridged.key] = tags_.size();
      spb_.stationTags[station].push_back(tags_.size());
      spb_.stationOfDevice[StationName(station)] = station;
      spb_.byMetric[{station, tagPlan.metric}] = tags_.size();
      group.tags.push_back(tags_.size());
      tags_.push_back(std::move(bridged));
      parsed.push_back(std::move(*tag));
    }
    group.reads = PlanBlockReads(parsed);
    groups_.push_back(std::move(group));
  }
  if (!prepared && exitCode == kExitDone) exitCode = kExitUsage;
  // The groups' first polls spread over their periods, so that their reads and publishes do not
  // all fall into the same moment of every period.
  const auto now = Clock::now();
  for (size_t i = 0; i < groups_.size(); ++i) {
    groups_[i].due =
        now + groups_[i].period * static_cast<int64_t>(i) / static_cast<int64_t>(groups_.size());
  }
  statsDue_ = now + plan_.statsInterval;
  return prepared;
}

size_t Bridge::readsPerRound() const {
  size_t reads = 0;
  for (const PolledGroup& group : groups_) reads += group.reads.size();
  return reads;
}

void Bridge::RunOnce(std::chrono::milliseconds longest) {
  auto now = Clock::now();
  for (PolledGroup& group : groups_) {
    if (now < group.due) continue;
    Poll(group);
    group.due += group.period;
    // A group that fell behind (a slow station) starts its next period from now, not in a burst.
    if (group.due <= now) group.due = now + group.period;
  }
  if (plan_.sparkplug) SparkplugStep();
  RepublishAfterReconnect();
  now = Clock::now();
  if (now >= statsDue_) {
    fmt::print(stderr, "{}\n", StatisticsLine());
    std::fflush(stderr);
    statsDue_ += plan_.statsInterval;
    if (statsDue_ <= now) statsDue_ = now + plan_.statsInterval;
  }
  Clock::time_point deadline = std::min(statsDue_, now + longest);
  for (const PolledGroup& group : groups_) deadline = std::min(deadline, group.due);
  while (std::optional<InboundMessage> message = inbox_.Take(deadline)) {
    HandleMessage(*message);
    if (Clock::now() >= deadline) break;
  }
}

void Bridge::Poll(PolledGroup& group) {
  std::vector<uint8_t> values;
  for (const BlockRead& read : group.reads) {
    const std::optional<int32_t> result = recovery_.Read(read.block, values);
    const auto time = std::chrono::system_clock::now();
    const auto now = Clock::now();
    const bool good = result && *result == 0;
    if (result) ++counts_.reads;
    if (!good) ++counts_.failures;
    counts_.tagsPolled += static_cast<int64_t>(read.tags.size());
    for (size_t i = 0; i < read.tags.size(); ++i) {
      BridgedTag& tag = tags_[group.tags[read.tags[i]]];
      // A failed read keeps the last value, marked bad, with the time it was read: an old
      // value must not look new. Without one, the time is the failure's.
      Sample sample{tag.current.value, Quality::kBad,
                    tag.current.value.is_null() ? time : tag.current.time};
      if (good) {
        sample.value = PlcValue(ValuesToJson(tag.tag, ElementValues(read, i, tag.tag, values)));
        sample.quality = Quality::kGood;
        sample.time = time;
      }
      Take(tag, sample, now);
    }
    PublishStationStatus(read.block.parsed.plcNumber);
  }
}

void Bridge::Take(BridgedTag& tag, const Sample& sample, Clock::time_point now) {
  if (plan_.sparkplug) return SparkplugTake(tag, sample);
  tag.current = sample;
  tag.polled = true;
  // A value not yet on the broker's current connection (its publish was refused while the
  // broker was away or too much awaited it) is tried again at every poll.
  if (IsNews(tag.published, sample, tag.plan.deadband) ||
      now - tag.publishedAt >= plan_.heartbeat ||
      (client_ != nullptr && tag.connection != client_->connections())) {
    Publish(tag, now);
  }
}

void Bridge::Publish(BridgedTag& tag, Clock::time_point now) {
  if (client_ == nullptr) return;
  const uint64_t connection = client_->connections();
  if (!client_->Publish(tag.topic, Payload(tag.current), true)) return;
  tag.connection = connection;
  tag.published = tag.current;
  tag.publishedAt = now;
  ++counts_.publishes;
}

void Bridge::PublishStationStatus(int station) {
  const StationState state = recovery_.health().State(station);
  // Sparkplug says a station's state with its births and deaths (SparkplugStep).
  if (state == StationState::kUnknown || client_ == nullptr || plan_.sparkplug) return;
  const uint64_t connection = client_->connections();
  const auto known = stationStatuses_.find(station);
  if (known != stationStatuses_.end() && known->second.state == state &&
      known->second.connection == connection) {
    return;
  }
  const std::string topic = plan_.prefix + "/" + StationName(station) + "/status";
  if (client_->Publish(topic, std::string(StationStatusWord(state)), true)) {
    stationStatuses_[station] = {state, connection};
  }
}

void Bridge::RepublishAfterReconnect() {
  if (client_ == nullptr || !client_->connected() || client_->connections() == connectionsSeen_ ||
      plan_.sparkplug) {
    return;
  }
  connectionsSeen_ = client_->connections();
  // What went out on an earlier connection may be lost with the broker that took it.
  const auto now = Clock::now();
  for (BridgedTag& tag : tags_) {
    if (tag.polled && tag.connection != connectionsSeen_) Publish(tag, now);
  }
  for (const auto& [station, status] : stationStatuses_) PublishStationStatus(station);
}

void Bridge::Arrive(std::string topic, std::string payload, bool retained) {
  if (plan_.sparkplug) {
    // Commands and STATE are small: a larger payload, or one that finds the queue full, is
    // dropped here (Sparkplug has no answer to a command).
    if (payload.size() > sparkplug::kMostCommandBytes ||
        !inbox_.Put({std::move(topic), std::move(payload), retained, Clock::now(), false})) {
      ++turnedAway_;
    }
    return;
  }
  if (payload.empty() || !std::string_view(topic).ends_with(kSetSuffix)) return;
  const std::string_view base = std::string_view(topic).substr(0, topic.size() - kSetSuffix.size());
  if (payload.size() > kMostPayloadBytes) {
    std::string reason;
    (void)WriteValueText(payload, ValueKind::kWord, reason);  // says how large it is
    ++turnedAway_;
    return Answer(base, Refusal::kMalformed, reason);
  }
  const std::string answerTopic(base);
  if (!inbox_.Put({std::move(topic), std::move(payload), retained, Clock::now(), false})) {
    ++turnedAway_;
    Answer(answerTopic, Refusal::kBusy,
           "the bridge's queue of writes is full: it takes writes no faster than the stations");
  }
}

void Bridge::HandleMessage(const InboundMessage& message) {
  if (plan_.sparkplug) return SparkplugCommand(message);
  std::string_view topic = message.topic;
  const std::string start = plan_.prefix + "/";
  if (!topic.starts_with(start) || !topic.ends_with(kSetSuffix)) return;
  const std::string_view base = topic.substr(0, topic.size() - kSetSuffix.size());
  topic.remove_prefix(start.size());
  topic.remove_suffix(kSetSuffix.size());
  const auto found = byKey_.find(std::string(topic));
  Refusal refusal = Refusal::kNone;
  std::string reason;
  if (found == byKey_.end()) {
    refusal = Refusal::kUnknownTag;
    constexpr size_t kShownCharacters = 80;
    reason = fmt::format("the bridge has no tag {}{}", topic.substr(0, kShownCharacters),
                         topic.size() > kShownCharacters ? "..." : "");
  } else if (message.retained) {
    // A write is a command of its moment: one the broker kept and hands to every new
    // subscriber would be carried out again at every start of the bridge.
    refusal = Refusal::kRetained;
    reason = "a retained message is not written: publish writes without the retain flag";
    fmt::print(stderr,
               "tavhost bridge: {}: a retained message is not written (clear it with an empty "
               "retained message)\n",
               message.topic);
    std::fflush(stderr);
  } else if (message.expired) {
    refusal = Refusal::kExpired;
    reason = fmt::format("the write waited more than {} ms in the bridge's queue",
                         plan_.writeLifetime.count());
  } else {
    refusal = Write(tags_[found->second], message.payload, reason);
  }
  if (refusal == Refusal::kNone) {
    ++counts_.writes;
  } else {
    ++counts_.refusals;
  }
  Answer(base, refusal, reason);
}

Refusal Bridge::Write(BridgedTag& tag, const std::string& payload, std::string& reason) {
  if (!tag.plan.writable) {
    reason = fmt::format("{} is not marked writable in the bridge's file", tag.key);
    return Refusal::kNotWritable;
  }
  const std::optional<std::string> text = WriteValueText(payload, tag.tag.kind, reason);
  if (!text) return Refusal::kMalformed;
  return WriteText(tag, *text, reason);
}

Refusal Bridge::WriteText(BridgedTag& tag, const std::string& text, std::string& reason) {
  std::vector<uint8_t> values;
  if (!ParseValues(tag.tag, {text}, values, reason)) return Refusal::kOutOfRange;
  const std::optional<int32_t> result = recovery_.Write(tag.tag, values);
  PublishStationStatus(tag.tag.parsed.plcNumber);
  if (!result) {
    const int station = tag.tag.parsed.plcNumber;
    reason = fmt::format("station {:02} is down: {}", station, recovery_.health().Reason(station));
    return Refusal::kStationDown;
  }
  if (*result != 0) {
    ++counts_.failures;
    reason = fmt::format("the driver's write failed with {}: {}", *result,
                         TransferFailureText(host_, tag.tag, recovery_.lastTransfer()));
    return *result == kNoConnection ? Refusal::kStationDown : Refusal::kFailed;
  }
  // The value as the station now holds it, published at once rather than at the next poll.
  const std::optional<int32_t> readBack = recovery_.Read(tag.tag, values);
  // Whatever the deadband: the writer is told what the station holds now.
  if (readBack && *readBack == 0) {
    const Sample sample{PlcValue(ValuesToJson(tag.tag, values)), Quality::kGood,
                        std::chrono::system_clock::now()};
    if (plan_.sparkplug) {
      tag.published.reset();  // news whatever the deadband
      SparkplugTake(tag, sample);
      return Refusal::kNone;
    }
    tag.current = sample;
    tag.polled = true;
    Publish(tag, Clock::now());
  }
  return Refusal::kNone;
}

void Bridge::Answer(std::string_view topic, Refusal refusal, const std::string& reason) {
  if (client_ == nullptr) return;
  client_->Publish(std::string(topic) + "/result",
                   ResultPayload(refusal, reason, UtcTimestamp(std::chrono::system_clock::now())),
                   false);
}

std::string Bridge::StatisticsLine(bool stopped) const {
  const std::string broker = stopped              ? "disconnected"
                             : client_ != nullptr ? client_->State()
                                                  : "not started";
  const Deliveries deliveries = client_ != nullptr ? client_->deliveries() : Deliveries{};
  const int64_t refusals = counts_.refusals + turnedAway_;
  if (JsonOutput()) {
    Json line = {{"command", "bridge"},
                 {"statistics",
                  {{"tagsPolled", counts_.tagsPolled},
                   {"reads", counts_.reads},
                   {"publishes", counts_.publishes},
                   {"messages", deliveries.published},
                   {"delivered", deliveries.delivered},
                   {"awaitingBroker", deliveries.awaiting},
                   {"heldBack", deliveries.heldBack},
                   {"writes", counts_.writes},
                   {"refusedWrites", refusals},
                   {"failures", counts_.failures},
                   {"stationsDown", recovery_.health().DownCount()},
                   {"broker", broker}}}};
    if (stopped) line["stopped"] = true;
    return line.dump();
  }
  // Publishes are the tags' values; the messages are everything sent (answers and status
  // included), of which the broker acknowledged `delivered`; `held back` were not sent because
  // too many awaited the broker.
  return fmt::format(
      "tavhost bridge{}: {} tags polled in {} reads, {} publishes, {} of {} messages delivered "
      "({} awaiting the broker, {} held back), {} writes ({} refused), {} failures, {} stations "
      "down, broker {}",
      stopped ? " stopped" : "", counts_.tagsPolled, counts_.reads, counts_.publishes,
      deliveries.delivered, deliveries.published, deliveries.awaiting, deliveries.heldBack,
      counts_.writes, refusals, counts_.failures, recovery_.health().DownCount(), broker);
}

}  // namespace tavhost::bridge
