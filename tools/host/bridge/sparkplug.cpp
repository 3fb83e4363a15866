#include "bridge/sparkplug.h"

#include <fmt/core.h>

#include <array>
#include <cmath>
#include <limits>

#include "bridge/sparkplug_proto.h"

namespace tavhost::bridge::sparkplug {

namespace {

using wire::Payload;

// Each kind's metric datatype, unsigned and signed.
struct KindType {
  ValueKind kind;
  DataType unsignedType;
  DataType signedType;
};
constexpr std::array<KindType, 6> kKindTypes = {{
    {ValueKind::kByte, DataType::kUInt8, DataType::kUInt8},
    {ValueKind::kWord, DataType::kUInt16, DataType::kInt16},
    {ValueKind::kDoubleWord, DataType::kUInt32, DataType::kInt32},
    {ValueKind::kFloat, DataType::kFloat, DataType::kFloat},
    {ValueKind::kBit, DataType::kBoolean, DataType::kBoolean},
    {ValueKind::kString, DataType::kString, DataType::kString},
}};

// Where each datatype's value travels, and the integers it holds.
enum class Field : uint8_t { kInt, kLong, kFloat, kBoolean, kString };
struct TypeInfo {
  DataType type;
  std::string_view name;
  Field field;
  int64_t low;
  int64_t high;
};
constexpr std::array<TypeInfo, 9> kTypes = {{
    {DataType::kInt16, "Int16", Field::kInt, -0x8000, 0x7FFF},
    {DataType::kInt32, "Int32", Field::kInt, -0x8000'0000LL, 0x7FFF'FFFF},
    {DataType::kInt64, "Int64", Field::kLong, std::numeric_limits<int64_t>::min(),
     std::numeric_limits<int64_t>::max()},
    {DataType::kUInt8, "UInt8", Field::kInt, 0, 0xFF},
    {DataType::kUInt16, "UInt16", Field::kInt, 0, 0xFFFF},
    {DataType::kUInt32, "UInt32", Field::kLong, 0, 0xFFFF'FFFFLL},
    {DataType::kFloat, "Float", Field::kFloat, 0, 0},
    {DataType::kBoolean, "Boolean", Field::kBoolean, 0, 1},
    {DataType::kString, "String", Field::kString, 0, 0},
}};

const TypeInfo& InfoOf(DataType type) {
  for (const TypeInfo& info : kTypes) {
    if (info.type == type) return info;
  }
  return kTypes.back();
}

constexpr std::array<std::string_view, 8> kVerbNames = {"NBIRTH", "NDATA", "NDEATH", "NCMD",
                                                        "DBIRTH", "DDATA", "DDEATH", "DCMD"};

uint64_t Milliseconds(std::chrono::system_clock::time_point time) {
  return static_cast<uint64_t>(
      std::chrono::floor<std::chrono::milliseconds>(time).time_since_epoch().count());
}

// A signed datatype's integer as the station's unsigned element holds it: 0xFFFE is -2.
int64_t AsSigned(uint64_t bits, const TypeInfo& info) {
  const uint64_t span = static_cast<uint64_t>(info.high) + 1;  // 2^(bits - 1)
  return bits >= span ? static_cast<int64_t>(bits) - static_cast<int64_t>(2 * span)
                      : static_cast<int64_t>(bits);
}

void SetValue(Payload::Metric& out, const TypeInfo& info, const Json& value) {
  switch (info.field) {
    case Field::kInt: {
      const auto bits = value.get<uint64_t>();
      // Signed datatypes travel as 32-bit two's complement: -2 as 0xFFFFFFFE.
      out.set_int_value(static_cast<uint32_t>(info.low < 0 ? AsSigned(bits, info) : bits));
      return;
    }
    case Field::kLong:
      out.set_long_value(value.get<uint64_t>());
      return;
    case Field::kFloat:
      out.set_float_value(value.get<float>());
      return;
    case Field::kBoolean:
      out.set_boolean_value(value.get<bool>());
      return;
    case Field::kString:
      out.set_string_value(value.get<std::string>());
      return;
  }
}

// The quality property of a metric whose read failed: OPC's "bad", 0.
void SetBadQuality(Payload::Metric& out) {
  Payload::PropertySet& properties = *out.mutable_properties();
  properties.add_keys("Quality");
  Payload::PropertyValue& quality = *properties.add_values();
  quality.set_type(static_cast<uint32_t>(DataType::kInt32));
  quality.set_int_value(0);
}

Json ValueOf(const Payload::Metric& metric) {
  switch (metric.value_case()) {
    case Payload::Metric::kIntValue:
      return metric.int_value();
    case Payload::Metric::kLongValue:
      return metric.long_value();
    case Payload::Metric::kFloatValue:
      return metric.float_value();
    case Payload::Metric::kDoubleValue:
      return metric.double_value();
    case Payload::Metric::kBooleanValue:
      return metric.boolean_value();
    case Payload::Metric::kStringValue:
      return metric.string_value();
    case Payload::Metric::kBytesValue:
    case Payload::Metric::VALUE_NOT_SET:
      break;
  }
  return nullptr;
}

}  // namespace

DataType MetricType(ValueKind kind, bool isSigned) {
  for (const KindType& entry : kKindTypes) {
    if (entry.kind == kind) return isSigned ? entry.signedType : entry.unsignedType;
  }
  return DataType::kString;
}

std::string_view DataTypeName(DataType type) {
  return InfoOf(type).name;
}

std::string_view VerbName(Verb verb) {
  return kVerbNames[static_cast<size_t>(verb)];
}

std::string NodeTopic(std::string_view group, Verb verb, std::string_view edge) {
  return fmt::format("{}/{}/{}/{}", kNamespace, group, VerbName(verb), edge);
}

std::string DeviceTopic(std::string_view group, Verb verb, std::string_view edge,
                        std::string_view device) {
  return fmt::format("{}/{}/{}/{}/{}", kNamespace, group, VerbName(verb), edge, device);
}

std::string StateTopic(std::string_view host) {
  return fmt::format("{}/STATE/{}", kNamespace, host);
}

std::string EncodePayload(std::chrono::system_clock::time_point time, std::optional<uint64_t> seq,
                          std::span<const OutMetric> metrics) {
  Payload payload;
  payload.set_timestamp(Milliseconds(time));
  if (seq) payload.set_seq(*seq);
  for (const OutMetric& metric : metrics) {
    Payload::Metric& out = *payload.add_metrics();
    if (!metric.name.empty()) out.set_name(metric.name);
    if (metric.alias) out.set_alias(*metric.alias);
    out.set_timestamp(Milliseconds(metric.time));
    out.set_datatype(static_cast<uint32_t>(metric.type));
    if (metric.value.is_null()) {
      out.set_is_null(true);
      SetBadQuality(out);
    } else {
      SetValue(out, InfoOf(metric.type), metric.value);
    }
  }
  return payload.SerializeAsString();
}

std::optional<std::vector<InMetric>> DecodeMetrics(std::string_view payload) {
  Payload decoded;
  if (!decoded.ParseFromArray(payload.data(), static_cast<int>(payload.size()))) {
    return std::nullopt;
  }
  std::vector<InMetric> metrics;
  for (const Payload::Metric& metric : decoded.metrics()) {
    InMetric in{metric.name(), std::nullopt, std::nullopt, ValueOf(metric)};
    if (metric.has_alias()) in.alias = metric.alias();
    if (metric.has_datatype()) in.datatype = metric.datatype();
    metrics.push_back(std::move(in));
  }
  return metrics;
}

std::optional<std::string> CommandValueText(const InMetric& metric, DataType type,
                                            std::string& problem) {
  const TypeInfo& info = InfoOf(type);
  if (metric.datatype && *metric.datatype != static_cast<uint32_t>(type)) {
    problem =
        fmt::format("the metric is {}, the command sends datatype {}", info.name, *metric.datatype);
    return std::nullopt;
  }
  const Json& value = metric.value;
  switch (info.field) {
    case Field::kString:
      if (value.is_string()) return value.get<std::string>();
      break;
    case Field::kBoolean:
      if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
      break;
    case Field::kFloat:
      if (value.is_number_float() && std::isfinite(value.get<double>())) {
        return fmt::format("{}", value.get<double>());
      }
      break;
    case Field::kInt:
    case Field::kLong: {
      if (!value.is_number_unsigned()) break;
      const uint64_t bits = value.get<uint64_t>();
      // Signed datatypes come as 32-bit two's complement in int_value.
      const int64_t number = info.low < 0 && info.field == Field::kInt
                                 ? AsSigned(bits, InfoOf(DataType::kInt32))
                                 : static_cast<int64_t>(bits);
      if (bits > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) || number < info.low ||
          number > info.high) {
        problem = fmt::format("{} is beyond {} ({} to {})", number, info.name, info.low, info.high);
        return std::nullopt;
      }
      return std::to_string(number);
    }
  }
  problem = fmt::format("the command sends no {} value", info.name);
  return std::nullopt;
}

HostState ReadHostState(std::string_view payload) {
  if (payload == "ONLINE") return {true, 0};
  const Json state = Json::parse(payload, nullptr, false);
  if (!state.is_object()) return {};
  const Json online = state.value("online", Json());
  const Json timestamp = state.value("timestamp", Json());
  return {online.is_boolean() && online.get<bool>(),
          timestamp.is_number_unsigned() ? timestamp.get<uint64_t>() : 0};
}

}  // namespace tavhost::bridge::sparkplug
