// What the bridge publishes and when, and how it reads a write's payload, row by row.
#include <gtest/gtest.h>

#include "bridge/publication.h"
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
  };
  for (const auto& row : kRows) {
    std::string problem;
    EXPECT_EQ(WriteValueText(row.payload, row.kind, problem), row.text) << row.payload;
    EXPECT_EQ(problem.empty(), row.text.has_value()) << row.payload << ": " << problem;
  }
  std::string problem;
  EXPECT_FALSE(WriteValueText("\"" + std::string(1000, 'x') + "\"", ValueKind::kWord, problem));
  EXPECT_LT(problem.size(), 100U) << "a long payload is cut in the reason";
}

TEST(BridgeWrite, ResultNamesTheRefusalAndGivesItsReason) {
  EXPECT_EQ(ResultPayload(Refusal::kNone, "", "T"), R"({"result":"ok","ts":"T"})");
  EXPECT_EQ(ResultPayload(Refusal::kNotWritable, "why", "T"),
            R"({"result":"not writable","reason":"why","ts":"T"})");
  EXPECT_EQ(RefusalName(Refusal::kStationDown), "station down");
}

}  // namespace
}  // namespace tavhost::bridge
