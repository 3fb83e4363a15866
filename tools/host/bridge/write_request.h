// A write that arrives on a tag's `set` topic: its payload read as the value a tag of its kind
// takes (a bare JSON number, true/false or string, or {"value": …}), and the answer published on
// the tag's `result` topic.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tags/tag.h"
#include "tags/values.h"

namespace tavhost::bridge {

// Why a write was not done; kNone when it was.
enum class Refusal : uint8_t {
  kNone,
  kNotWritable,  // the bridge's file does not mark the tag writable
  kMalformed,    // the payload is no value of the tag's kind
  kOutOfRange,   // a value of the kind that the tag's element cannot hold
  kStationDown,  // the station is down and its reconnect not yet due
  kFailed,       // the driver's transfer failed
  kUnknownTag,   // no tag of the bridge's has this topic (or its name is a reserved one)
  kRetained,     // delivered from the broker's store: a command of an earlier moment
  kBusy,         // the bridge's queue of writes is full
  kExpired,      // the write waited in the queue longer than a write may
};

// The longest payload a write takes, and how deep its JSON may nest ({"value": …} is one
// level): anything larger is refused before it is parsed.
inline constexpr size_t kMostPayloadBytes = 4096;
inline constexpr int kDeepestPayload = 2;

// The word on the result topic: "ok", "not writable", "malformed", ...
std::string_view RefusalName(Refusal refusal);

// The value in `payload` as the text that ParseValues takes for a tag of `kind`; none with
// `problem` set when the payload is malformed (not JSON, another JSON type than the kind takes,
// an object without "value" or with other members, longer than kMostPayloadBytes or nested
// deeper than kDeepestPayload). The problem quotes at most 40 characters of the payload.
std::optional<std::string> WriteValueText(std::string_view payload, ValueKind kind,
                                          std::string& problem);

// {"result": "ok"} or {"result": "malformed", "reason": "…"}, with the time of the answer.
std::string ResultPayload(Refusal refusal, std::string_view reason, std::string_view timestamp);

}  // namespace tavhost::bridge
