// What the bridge publishes and when, and how it reads a write's payload, row by row.
#include <gtest/gtest.h>

#include "bridge/inbox.h"
#include "bridge/publication.h"
#include "bridge/sparkplug.h"
#include "bridge/write_request.h"

namespace tavhost::bridge {
namespace {

using std::chrono::milliseconds;

Sample Good(Json value) {
  return {std::move(value), Quality::kGood, {}};
}

TEST(BridgePublication, NewsIsAQualityChangeOrAValueChangeBeyondTheDeadband) {
  const struct {
    std::optional<Sample> published;
    Sample next;
    double deadband;
    bool news;
  } kRows[] = {
      {std::nullopt, Good(1), 0, true},  // nothing published yet
      {Good(1), Good(1), 0, false},
      {Good(1), Good(2), 0, true},
      {Good(21.5), Good(21.9), 0.5, false},
      {Good(21.5), Good(22.0), 0.5, false},  // a change of exactly the deadband is within it
      {Good(21.5), Good(22.1), 0.5, true},
      {Good(21.5), Good(20.9), 0.5, true},
      {Good(21.5), Sample{21.5, Quality::kBad, {}}, 0.5, true},
      {Sample{21.5, Quality::kBad, {}}, Good(21.5), 0.5, true},
      {Good("ON"), Good("OFF"), 0.5, true},
      {Good(true), Good(false), 5, true},  // a bit is no number: any change
      {Good(Json()), Good(0), 0, true},
  };
  for (const auto& row : kRows) {
    EXPECT_EQ(IsNews(row.published, row.next, row.deadband), row.news)
        << (row.published ? row.published->value.dump() : "-") << " -> " << row.next.value.dump();
  }
}

TEST(BridgePublication, AStringLosesThePlcsTrailingNulsAndKeepsItsBlanks) {
  using namespace std::string_literals;
  // Blanks and a NUL inside are the PLC's text.
  const std::pair<Json, Json> kRows[] = {
      {"MILL NO 1\0"s, "MILL NO 1"}, {"MILL  \0\0\0"s, "MILL  "}, {"A\0B\0"s, "A\0B"s}};
  for (const auto& [value, published] : kRows) {
    EXPECT_EQ(PlcValue(Json::array({value})), published) << value;
  }
}

TEST(BridgePublication, PayloadCarriesValueUtcTimeWithMillisecondsAndQuality) {
  const std::chrono::system_clock::time_point time{milliseconds(1'796'774'401'007)};
  EXPECT_EQ(UtcTimestamp(time), "2026-12-09T00:00:01.007Z");
  EXPECT_EQ(Payload({21.5, Quality::kGood, time}),
            R"({"value":21.5,"ts":"2026-12-09T00:00:01.007Z","quality":"good"})");
  EXPECT_EQ(Payload({Json(), Quality::kBad, time}),
            R"({"value":null,"ts":"2026-12-09T00:00:01.007Z","quality":"bad"})");
}

TEST(BridgeWrite, PayloadsGiveTheValueTheTagsKindTakesOrSayWhyNot) {
  const struct {
    std::string payload;
    ValueKind kind;
    std::optional<std::string> text;  // none: malformed
  } kRows[] = {
      {"1234", ValueKind::kWord, "1234"},
      {"-5", ValueKind::kByte, "-5"},
      {R"({"value": 7})", ValueKind::kDoubleWord, "7"},
      {"21.5", ValueKind::kFloat, "21.5"},
      {"1e3", ValueKind::kFloat, "1000.0"},
      {"12.5", ValueKind::kWord, "12.5"},  // a number: ParseValues says it is no integer
      {"true", ValueKind::kBit, "1"},
      {R"({"value": false})", ValueKind::kBit, "0"},
      {"1", ValueKind::kBit, "1"},
      {R"("HELLO")", ValueKind::kString, "HELLO"},
      {R"("12")", ValueKind::kWord, std::nullopt},
      {"true", ValueKind::kWord, std::nullopt},
      {"12", ValueKind::kString, std::nullopt},
      {"twelve", ValueKind::kWord, std::nullopt},
      {"", ValueKind::kWord, std::nullopt},
      {"null", ValueKind::kWord, std::nullopt},
      {"[1]", ValueKind::kWord, std::nullopt},
      {R"({"value": 1, "extra": 2})", ValueKind::kWord, std::nullopt},
      {R"({"v": 1})", ValueKind::kWord, std::nullopt},
      // Bounded before parsing: brackets in a string do not nest, nor do they when too deep.
      {R"({"value": "[[[[]"})", ValueKind::kString, "[[[[]"},
      {R"({"value": "\"[[["})", ValueKind::kString, "\"[[["},
      {R"({"value": [[1]]})", ValueKind::kWord, std::nullopt},
      {std::string(2'000, '[') + std::string(2'000, ']'), ValueKind::kWord, std::nullopt},
      {"\"" + std::string(kMostPayloadBytes, 'x') + "\"", ValueKind::kString, std::nullopt},
  };
  for (const auto& row : kRows) {
    std::string problem;
    EXPECT_EQ(WriteValueText(row.payload, row.kind, problem), row.text) << row.payload;
    EXPECT_EQ(problem.empty(), row.text.has_value()) << row.payload << ": " << problem;
  }
  std::string problem;
  EXPECT_FALSE(WriteValueText("\"" + std::string(1000, 'x') + "\"", ValueKind::kWord, problem));
  EXPECT_LT(problem.size(), 100U) << "a long payload is cut in the reason";
  EXPECT_FALSE(
      WriteValueText(std::string(2'000, '[') + std::string(2'000, ']'), ValueKind::kWord, problem));
  EXPECT_EQ(problem, "the payload nests deeper than 2 levels");
  EXPECT_FALSE(WriteValueText(std::string(60'000, '['), ValueKind::kWord, problem));
  EXPECT_EQ(problem, "the payload has 60000 bytes; a write takes at most 4096");
}

// The write queue: bounded by count and bytes; a write that waited too long comes out expired.
TEST(BridgeInbox, IsBoundedByCountAndBytesAndAgesItsWrites) {
  const auto now = std::chrono::steady_clock::now();
  const auto soon = now + milliseconds(50);
  const struct {
    std::vector<size_t> payloads;  // sizes put, in order
    std::vector<bool> queued;
  } kRows[] = {
      {{10, 10, 10}, {true, true, false}},  // two messages at most
      {{60, 50, 1}, {true, false, true}},   // 100 bytes at most, topics ("t") included
      {{99}, {true}},
      {{100}, {false}},
  };
  for (const auto& row : kRows) {
    Inbox inbox({2, 100, milliseconds(1000)});
    for (size_t i = 0; i < row.payloads.size(); ++i) {
      EXPECT_EQ(inbox.Put({"t", std::string(row.payloads[i], 'x'), false, now, false}),
                row.queued[i])
          << "message " << i << " of " << row.payloads.size();
    }
  }
  Inbox inbox({10, 1000, milliseconds(1000)});
  ASSERT_TRUE(inbox.Put({"old", "1", false, now - milliseconds(1500), false}));
  ASSERT_TRUE(inbox.Put({"new", "1", true, now, false}));
  const std::optional<InboundMessage> old = inbox.Take(soon), young = inbox.Take(soon);
  ASSERT_TRUE(old && young);
  EXPECT_TRUE(old->expired && !young->expired);
  EXPECT_FALSE(inbox.Take(soon)) << "empty";
}

TEST(BridgeWrite, ResultNamesTheRefusalAndGivesItsReason) {
  EXPECT_EQ(ResultPayload(Refusal::kNone, "", "T"), R"({"result":"ok","ts":"T"})");
  EXPECT_EQ(ResultPayload(Refusal::kNotWritable, "why", "T"),
            R"({"result":"not writable","reason":"why","ts":"T"})");
  EXPECT_EQ(RefusalName(Refusal::kStationDown), "station down");
  EXPECT_EQ(RefusalName(Refusal::kExpired), "expired");
}

// Each kind's datatype; its value encoded and decoded again as a command carries it (signed
// types as 32-bit two's complement), and the text a write of it takes.
TEST(BridgeSparkplug, EachKindHasItsDatatypeAndItsValueTravelsBackAsAWrite) {
  using enum sparkplug::DataType;
  // The value as the station's element holds it, and as the text a write takes.
  const struct {
    ValueKind kind;
    bool isSigned;
    sparkplug::DataType type;
    Json value;
    std::string text;
  } kRows[] = {
      {ValueKind::kByte, false, kUInt8, 200, "200"},
      {ValueKind::kWord, false, kUInt16, 0xFFFE, "65534"},
      {ValueKind::kWord, true, kInt16, 0xFFFE, "-2"},
      {ValueKind::kDoubleWord, false, kUInt32, 0xFFFF'FFFEU, "4294967294"},
      {ValueKind::kDoubleWord, true, kInt32, 0xFFFF'FFFEU, "-2"},
      {ValueKind::kFloat, false, kFloat, 2.5, "2.5"},
      {ValueKind::kBit, false, kBoolean, true, "1"},
      {ValueKind::kString, false, kString, "LINE 1", "LINE 1"},
  };
  for (const auto& row : kRows) {
    EXPECT_EQ(sparkplug::MetricType(row.kind, row.isSigned), row.type) << row.text;
    const sparkplug::OutMetric metric{"g/t", 7, row.type, row.value, {}};
    const auto decoded = sparkplug::DecodeMetrics(sparkplug::EncodePayload({}, 3, {&metric, 1}));
    ASSERT_TRUE(decoded && decoded->size() == 1) << row.text;
    std::string problem;
    EXPECT_EQ(sparkplug::CommandValueText(decoded->front(), row.type, problem), row.text)
        << sparkplug::DataTypeName(row.type) << ": " << problem;
  }
  // Refused: beyond the metric's datatype (32768 for an Int16 is 0x00008000, not 0xFFFF8000),
  // another datatype than the metric's, no value of the datatype sent.
  const std::pair<sparkplug::InMetric, sparkplug::DataType> kRefused[] = {
      {{"m", {}, 6, 70'000U}, kUInt16}, {{"m", {}, 2, 0x8000U}, kInt16},
      {{"m", {}, 12, "12"}, kUInt16},   {{"m", {}, 7, 5U}, kUInt16},
      {{"m", {}, 12, 12U}, kString},    {{"m", {}, 11, "true"}, kBoolean},
      {{"m", {}, {}, Json()}, kFloat},
  };
  for (const auto& [metric, type] : kRefused) {
    std::string problem;
    EXPECT_TRUE(!sparkplug::CommandValueText(metric, type, problem) && !problem.empty())
        << metric.value;
  }
  EXPECT_FALSE(sparkplug::DecodeMetrics("\xFF\xFF not protobuf"));
}

// seq over the node's messages and bdSeq over its sessions: 0 to 255, then 0 again; STATE.
TEST(BridgeSparkplug, SequencesRunFrom0To255AndWrap) {
  sparkplug::Sequence seq;
  for (uint64_t i = 0; i < 600; ++i, seq.Advance()) ASSERT_EQ(seq.value(), i % 256);
  const std::pair<uint64_t, uint64_t> kSessions[] = {{1, 0}, {2, 1}, {256, 255}, {257, 0}};
  for (const auto& [session, bdSeq] : kSessions) {
    EXPECT_EQ(sparkplug::BirthSequenceOf(session), bdSeq) << session;
  }
  const std::tuple<std::string_view, bool, uint64_t> kStates[] = {
      {R"({"online": true, "timestamp": 1796774401007})", true, 1796774401007},
      {"ONLINE", true, 0},
      {R"({"online": "yes", "timestamp": -1})", false, 0}};
  for (const auto& [payload, online, timestamp] : kStates) {
    const sparkplug::HostState state = sparkplug::ReadHostState(payload);
    EXPECT_EQ(std::pair(state.online, state.timestamp), std::pair(online, timestamp)) << payload;
  }
}

}  // namespace
}  // namespace tavhost::bridge
