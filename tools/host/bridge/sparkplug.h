// Sparkplug B as the bridge speaks it: an edge node (the bridge) whose devices are its stations
// and whose metrics are its tags. Here: the topics, each tag kind's metric datatype, the message
// sequence numbers, and the payloads encoded in and decoded from Sparkplug B's protobuf schema
// (sparkplug_b.proto, compiled at build time). The session itself (births, data, deaths,
// commands) runs in the bridge's loop (bridge_sparkplug.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/output.h"
#include "tags/tag.h"

namespace tavhost::bridge::sparkplug {

// The datatypes of Sparkplug B's metrics that the bridge uses, with their numbers on the wire.
enum class DataType : uint32_t {
  kInt16 = 2,
  kInt32 = 3,
  kInt64 = 4,
  kUInt8 = 5,
  kUInt16 = 6,
  kUInt32 = 7,
  kFloat = 9,
  kBoolean = 11,
  kString = 12,
};

// A tag's metric datatype: byte UInt8, word UInt16 (Int16 when signed), double word UInt32
// (Int32 when signed), float Float, bit Boolean, string String.
DataType MetricType(ValueKind kind, bool isSigned);
std::string_view DataTypeName(DataType type);

// The message types of a node and of its devices.
enum class Verb : uint8_t { kNBirth, kNData, kNDeath, kNCmd, kDBirth, kDData, kDDeath, kDCmd };
std::string_view VerbName(Verb verb);

inline constexpr std::string_view kNamespace = "spBv1.0";
// spBv1.0/GROUP/VERB/EDGE for a node's messages, spBv1.0/GROUP/VERB/EDGE/DEVICE for a device's.
std::string NodeTopic(std::string_view group, Verb verb, std::string_view edge);
std::string DeviceTopic(std::string_view group, Verb verb, std::string_view edge,
                        std::string_view device);
// spBv1.0/STATE/HOST: where a primary host says whether it is online.
std::string StateTopic(std::string_view host);

// The node's metrics of its own.
inline constexpr std::string_view kBirthSequenceMetric = "bdSeq";
inline constexpr std::string_view kRebirthMetric = "Node Control/Rebirth";
inline constexpr uint64_t kRebirthAlias = 0;  // the tags' aliases count from 1

// The longest command or STATE payload the bridge takes.
inline constexpr size_t kMostCommandBytes = 65'536;

// A sequence number of 0 to 255 that wraps to 0: `seq` over the node's messages, and bdSeq over
// its MQTT sessions.
class Sequence {
 public:
  // The number the next message takes; Advance once it went out, so that a message the client
  // refused leaves no gap.
  uint64_t value() const { return next_; }
  void Advance() { next_ = (next_ + 1) % kLength; }
  void Reset() { next_ = 0; }
  static constexpr uint64_t kLength = 256;

 private:
  uint64_t next_ = 0;
};

// The bdSeq of the `session`th MQTT session (counted from 1): 0, 1, …, 255, 0, …
inline uint64_t BirthSequenceOf(uint64_t session) {
  return session == 0 ? 0 : (session - 1) % Sequence::kLength;
}

// One metric of a payload the bridge sends. A null value is sent with is_null and the quality
// property saying bad; `name` empty: the metric goes by its alias alone (data after a birth).
struct OutMetric {
  std::string name;
  std::optional<uint64_t> alias;
  DataType type = DataType::kUInt16;
  Json value;  // as PlcValue gives it: an unsigned integer, a number, a bool or a string
  std::chrono::system_clock::time_point time{};
};

// A payload with its time, its seq (none for NDEATH) and its metrics, in protobuf's wire form.
std::string EncodePayload(std::chrono::system_clock::time_point time, std::optional<uint64_t> seq,
                          std::span<const OutMetric> metrics);

// One metric of a payload as it arrived: a command's (NCMD or DCMD).
struct InMetric {
  std::string name;
  std::optional<uint64_t> alias;
  std::optional<uint32_t> datatype;
  Json value;  // the value field that was set, null when none was; integers as sent on the wire
};

// The metrics of a payload (a command, or data for a reader of the bridge's); none when the
// payload is no Sparkplug B payload.
std::optional<std::vector<InMetric>> DecodeMetrics(std::string_view payload);

// A command's value for a metric of `type`, as the text ParseValues takes; none with `problem`
// set when the command sends another datatype than the metric's or a value beyond it.
std::optional<std::string> CommandValueText(const InMetric& metric, DataType type,
                                            std::string& problem);

// What a primary host's STATE says: whether it is online, and when it said so (Sparkplug 3.0's
// JSON {"online": true, "timestamp": MS}); the older texts ONLINE and OFFLINE carry no time (0).
struct HostState {
  bool online = false;
  uint64_t timestamp = 0;
};
HostState ReadHostState(std::string_view payload);

}  // namespace tavhost::bridge::sparkplug
