// What the bridge publishes for a tag, and when: a JSON document {"value", "ts", "quality"} on
// the tag's topic, retained; sent when the quality changes, when the value changes by more than
// the tag's deadband (numbers; any change of a text or a bit), and again at every heartbeat.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "cli/output.h"

namespace tavhost::bridge {

enum class Quality : uint8_t { kGood, kBad };

// One tag's value as the bridge last saw it: null until a read succeeded.
struct Sample {
  Json value;
  Quality quality = Quality::kBad;
  std::chrono::system_clock::time_point time{};
};

// Whether `next` is news to subscribers who last saw `published` (none: nothing yet).
bool IsNews(const std::optional<Sample>& published, const Sample& next, double deadband);

// The payload: {"value": …, "ts": "2026-12-08T23:50:01.125Z", "quality": "good"}.
std::string Payload(const Sample& sample);

// A value as the bridge publishes it, from the first element ValuesToJson gives: a string
// without the NULs a PLC pads it with at its end (blanks stay: they are the PLC's text).
Json PlcValue(const Json& values);

// UTC with milliseconds, ISO 8601.
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

}  // namespace tavhost::bridge
