#include "bridge/write_request.h"

#include <fmt/core.h>

#include <algorithm>
#include <array>

namespace tavhost::bridge {

namespace {

constexpr std::array<std::string_view, 10> kRefusalNames = {
    "ok",     "not writable", "malformed", "out of range", "station down",
    "failed", "unknown tag",  "retained",  "busy",         "expired"};

// How deep the payload's arrays and objects nest, counted without parsing it (brackets inside
// strings do not count); stops counting once beyond `deepest`.
int NestingDepth(std::string_view payload, int deepest) {
  int depth = 0;
  int most = 0;
  bool inString = false;
  for (size_t at = 0; at < payload.size() && most <= deepest; ++at) {
    const char c = payload[at];
    if (inString) {
      if (c == '\\') {
        ++at;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      most = std::max(most, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return most;
}

// The JSON type a write to each kind takes, in words.
std::string_view ExpectedType(ValueKind kind) {
  switch (kind) {
    case ValueKind::kString:
      return "a JSON string";
    case ValueKind::kBit:
      return "true, false, 0 or 1";
    case ValueKind::kByte:
    case ValueKind::kWord:
    case ValueKind::kDoubleWord:
    case ValueKind::kFloat:
      break;
  }
  return "a JSON number";
}

}  // namespace

std::string_view RefusalName(Refusal refusal) {
  return kRefusalNames[static_cast<size_t>(refusal)];
}

std::optional<std::string> WriteValueText(std::string_view payload, ValueKind kind,
                                          std::string& problem) {
  if (payload.size() > kMostPayloadBytes) {
    problem = fmt::format("the payload has {} bytes; a write takes at most {}", payload.size(),
                          kMostPayloadBytes);
    return std::nullopt;
  }
  if (NestingDepth(payload, kDeepestPayload) > kDeepestPayload) {
    problem = fmt::format("the payload nests deeper than {} levels", kDeepestPayload);
    return std::nullopt;
  }
  Json value = Json::parse(payload, nullptr, false);
  if (value.is_discarded()) {
    problem = "the payload is not JSON";
    return std::nullopt;
  }
  if (value.is_object()) {
    if (value.size() != 1 || !value.contains("value")) {
      problem = R"(an object payload has one member, "value")";
      return std::nullopt;
    }
    value = value["value"];
  }
  const bool bit = kind == ValueKind::kBit;
  if (kind == ValueKind::kString && value.is_string()) return value.get<std::string>();
  if (bit && value.is_boolean()) return value.get<bool>() ? "1" : "0";
  if (kind != ValueKind::kString && value.is_number()) return value.dump();
  std::string shown = value.dump();
  constexpr size_t kShownCharacters = 40;
  if (shown.size() > kShownCharacters) shown = shown.substr(0, kShownCharacters) + "...";
  problem = fmt::format("the tag takes {}, not {}", ExpectedType(kind), shown);
  return std::nullopt;
}

std::string ResultPayload(Refusal refusal, std::string_view reason, std::string_view timestamp) {
  Json document = {{"result", RefusalName(refusal)}};
  if (refusal != Refusal::kNone) document["reason"] = reason;
  document["ts"] = timestamp;
  return document.dump();
}

}  // namespace tavhost::bridge
