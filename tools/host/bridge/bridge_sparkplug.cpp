// The bridge as a Sparkplug B edge node. Every MQTT session has its bdSeq, in its will (NDEATH)
// and in the NBIRTH that opens it with seq 0; a DBIRTH follows for each station that is up once
// its tags were read, with every metric's name, alias, datatype, value and time; then DDATA with
// the metrics that changed, by alias. `seq` runs over every message of the node and wraps from
// 255 to 0. A station that goes down gets DDEATH, and DBIRTH when it is back. NCMD's Node
// Control/Rebirth sends NBIRTH and every DBIRTH again; DCMD writes writable metrics through the
// driver, read back and sent in DDATA. With a primary host, births wait for its STATE online and
// are sent again when it comes back online; while it is offline the node sends nothing.
#include <fmt/core.h>

#include <algorithm>

#include "bridge/bridge_runtime.h"
#include "bridge/settings_text.h"

namespace tavhost::bridge {

namespace {

using sparkplug::Verb;

sparkplug::OutMetric BirthSequenceMetric(uint64_t session) {
  return {std::string(sparkplug::kBirthSequenceMetric), std::nullopt, sparkplug::DataType::kInt64,
          sparkplug::BirthSequenceOf(session), std::chrono::system_clock::now()};
}

}  // namespace

StatusTopic Bridge::Status() const {
  if (!plan_.sparkplug) return {plan_.prefix + "/status"};
  StatusTopic status;
  status.topic = sparkplug::NodeTopic(plan_.sparkplug->group, Verb::kNDeath, plan_.sparkplug->edge);
  status.online.reset();
  status.retained = false;
  status.willOf = [this](uint64_t session) { return WillOf(session); };
  return status;
}

std::vector<std::string> Bridge::Subscriptions() const {
  if (!plan_.sparkplug) return {plan_.prefix + "/+/+/set"};
  const SparkplugPlan& node = *plan_.sparkplug;
  std::vector<std::string> topics = {
      sparkplug::NodeTopic(node.group, Verb::kNCmd, node.edge),
      sparkplug::DeviceTopic(node.group, Verb::kDCmd, node.edge, "+")};
  if (!node.primaryHost.empty()) topics.push_back(sparkplug::StateTopic(node.primaryHost));
  return topics;
}

std::string Bridge::WillOf(uint64_t session) const {
  const sparkplug::OutMetric metric = BirthSequenceMetric(session);
  return sparkplug::EncodePayload(std::chrono::system_clock::now(), std::nullopt, {&metric, 1});
}

void Bridge::SparkplugLog(const std::string& text) const {
  fmt::print(stderr, "tavhost bridge: Sparkplug: {}\n", text);
  std::fflush(stderr);
}

void Bridge::SparkplugTake(BridgedTag& tag, const Sample& sample) {
  tag.current = sample;
  tag.polled = true;
  if (IsNews(tag.published, sample, tag.plan.deadband)) tag.pending = true;
}

sparkplug::OutMetric Bridge::MetricOf(const BridgedTag& tag, size_t index, bool birth) const {
  // Aliases count from 1: 0 is Node Control/Rebirth's.
  return {birth ? tag.plan.metric : std::string(), index + 1, tag.type,
          tag.current.quality == Quality::kGood ? tag.current.value : Json(), tag.current.time};
}

bool Bridge::SparkplugPublish(const std::string& topic,
                              std::span<const sparkplug::OutMetric> metrics) {
  const std::string payload =
      sparkplug::EncodePayload(std::chrono::system_clock::now(), spb_.seq.value(), metrics);
  if (!client_->Publish(topic, payload, false, 0)) return false;
  spb_.seq.Advance();
  ++counts_.publishes;
  return true;
}

bool Bridge::NodeBirth(uint64_t connection) {
  spb_.seq.Reset();
  const sparkplug::OutMetric metrics[] = {
      BirthSequenceMetric(connection),
      {std::string(sparkplug::kRebirthMetric), sparkplug::kRebirthAlias,
       sparkplug::DataType::kBoolean, false, std::chrono::system_clock::now()}};
  const SparkplugPlan& node = *plan_.sparkplug;
  if (!SparkplugPublish(sparkplug::NodeTopic(node.group, Verb::kNBirth, node.edge), metrics)) {
    return false;
  }
  spb_.bornOn = connection;
  for (auto& [station, born] : spb_.deviceBorn) born = false;
  return true;
}

bool Bridge::DeviceMessage(int station, Verb verb) {
  const bool birth = verb == Verb::kDBirth;
  std::vector<sparkplug::OutMetric> metrics;
  std::vector<size_t> sent;
  if (verb != Verb::kDDeath) {
    for (const size_t index : spb_.stationTags[station]) {
      if (!birth && !tags_[index].pending) continue;
      metrics.push_back(MetricOf(tags_[index], index, birth));
      sent.push_back(index);
    }
    if (metrics.empty()) return true;
  }
  const SparkplugPlan& node = *plan_.sparkplug;
  if (!SparkplugPublish(sparkplug::DeviceTopic(node.group, verb, node.edge, StationName(station)),
                        metrics)) {
    return false;
  }
  for (const size_t index : sent) {
    tags_[index].pending = false;
    tags_[index].published = tags_[index].current;
  }
  return true;
}

void Bridge::SparkplugStep() {
  if (client_ == nullptr || !client_->connected() || !spb_.hostOnline) return;
  const uint64_t connection = client_->connections();
  if (spb_.bornOn != connection && !NodeBirth(connection)) return;
  for (const auto& [station, tags] : spb_.stationTags) {
    const StationState state = recovery_.health().State(station);
    bool& born = spb_.deviceBorn[station];
    if (born && state == StationState::kDown) {
      if (DeviceMessage(station, Verb::kDDeath)) born = false;
    } else if (!born && state == StationState::kUp) {
      const bool read = std::all_of(tags.begin(), tags.end(),
                                    [this](size_t index) { return tags_[index].polled; });
      if (read && DeviceMessage(station, Verb::kDBirth)) born = true;
    } else if (born) {
      DeviceMessage(station, Verb::kDData);
    }
  }
}

void Bridge::SparkplugCommand(const InboundMessage& message) {
  const SparkplugPlan& node = *plan_.sparkplug;
  if (!node.primaryHost.empty() && message.topic == sparkplug::StateTopic(node.primaryHost)) {
    const sparkplug::HostState state = sparkplug::ReadHostState(message.payload);
    // A STATE older than the last one (a retained message of an earlier session) is not news.
    if (state.timestamp < spb_.hostStateTime) {
      return SparkplugLog(
          fmt::format("primary host {}: a STATE older than the last one is left "
                      "out",
                      node.primaryHost));
    }
    spb_.hostStateTime = state.timestamp;
    const bool online = state.online;
    if (online != spb_.hostOnline) {
      SparkplugLog(fmt::format("primary host {} is {}", node.primaryHost,
                               online ? "online: births follow" : "offline: the node waits"));
    }
    // Births again when the host comes back; none while it is away.
    if (online != spb_.hostOnline) spb_.bornOn = 0;
    spb_.hostOnline = online;
    return SparkplugStep();
  }
  if (message.retained || message.expired) {
    return SparkplugLog(fmt::format("{}: a {} command is not carried out", message.topic,
                                    message.retained ? "retained" : "late"));
  }
  const std::optional<std::vector<sparkplug::InMetric>> metrics =
      sparkplug::DecodeMetrics(message.payload);
  if (!metrics) {
    return SparkplugLog(fmt::format("{}: the payload is no Sparkplug B payload", message.topic));
  }
  if (message.topic == sparkplug::NodeTopic(node.group, Verb::kNCmd, node.edge)) {
    for (const sparkplug::InMetric& metric : *metrics) {
      const bool rebirth = metric.name == sparkplug::kRebirthMetric ||
                           (metric.name.empty() && metric.alias == sparkplug::kRebirthAlias);
      if (rebirth && metric.value == true) {
        SparkplugLog("rebirth asked for: NBIRTH and every DBIRTH again");
        spb_.bornOn = 0;
      } else {
        SparkplugLog(fmt::format("NCMD: no node metric {} to set", Quoted(metric.name)));
      }
    }
    return SparkplugStep();
  }
  const std::string start = sparkplug::DeviceTopic(node.group, Verb::kDCmd, node.edge, "");
  const auto device = spb_.stationOfDevice.find(
      message.topic.starts_with(start) ? message.topic.substr(start.size()) : std::string());
  if (device == spb_.stationOfDevice.end()) {
    return SparkplugLog(fmt::format("{}: no such device", message.topic));
  }
  DeviceCommand(device->second, *metrics);
  SparkplugStep();
}

void Bridge::DeviceCommand(int station, const std::vector<sparkplug::InMetric>& metrics) {
  for (const sparkplug::InMetric& metric : metrics) {
    size_t index = tags_.size();
    if (!metric.name.empty()) {
      const auto named = spb_.byMetric.find({station, metric.name});
      if (named != spb_.byMetric.end()) index = named->second;
    } else if (metric.alias && *metric.alias >= 1 && *metric.alias <= tags_.size() &&
               tags_[*metric.alias - 1].tag.parsed.plcNumber == station) {
      index = *metric.alias - 1;
    }
    std::string reason;
    Refusal refusal = Refusal::kUnknownTag;
    if (index == tags_.size()) {
      reason = fmt::format("no metric {} (alias {})", Quoted(metric.name),
                           metric.alias ? std::to_string(*metric.alias) : "none");
    } else if (BridgedTag& tag = tags_[index]; !tag.plan.writable) {
      refusal = Refusal::kNotWritable;
      reason = fmt::format("{} is not marked writable in the bridge's file", tag.plan.metric);
    } else if (const std::optional<std::string> text =
                   sparkplug::CommandValueText(metric, tag.type, reason)) {
      refusal = WriteText(tag, *text, reason);
    } else {
      refusal = Refusal::kMalformed;
    }
    if (refusal == Refusal::kNone) {
      ++counts_.writes;
      continue;
    }
    ++counts_.refusals;
    SparkplugLog(
        fmt::format("DCMD to {}: {}: {}", StationName(station), RefusalName(refusal), reason));
  }
}

}  // namespace tavhost::bridge
