#include "bridge/write_request.h"

#include <fmt/core.h>

#include <array>

namespace tavhost::bridge {

namespace {

constexpr std::array<std::string_view, 6> kRefusalNames = {
    "ok", "not writable", "malformed", "out of range", "station down", "failed"};

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
