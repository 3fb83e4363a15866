// The sessions' messages: the S5 fetch/write header byte for byte against the layout of the
// protocol's documentation, S7 answers cut and corrupted, and the return codes' status words.
#include "plc_sessions/frames.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace tav::sessions {
namespace {

TEST(S5Header, RequestAndAnswerLayouts) {
  struct Row {
    S5Request request;
    Bytes header;
  };
  const Row rows[] = {
      // Fetch DB 10, data words 0 to 2.
      {{S5Opcode::kFetch, kS5OrgDataBlock, 10, 0, 3},
       {'S', '5', 0x10, 0x01, 0x03, 0x05, 0x03, 0x08, 0x01, 10, 0, 0, 0, 3, 0xFF, 0x02}},
      // Write flag bytes 300 and 301.
      {{S5Opcode::kWrite, kS5OrgFlags, 0, 300, 2},
       {'S', '5', 0x10, 0x01, 0x03, 0x03, 0x03, 0x08, 0x02, 0, 0x01, 0x2C, 0, 2, 0xFF, 0x02}},
      // Fetch DX 255 from word 0x1234, 0x0102 words.
      {{S5Opcode::kFetch, kS5OrgExtendedDataBlock, 255, 0x1234, 0x0102},
       {'S', '5', 0x10, 0x01, 0x03, 0x05, 0x03, 0x08, 0x0A, 255, 0x12, 0x34, 0x01, 0x02, 0xFF,
        0x02}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(S5RequestHeader(row.request), row.header);
    const std::optional<S5Request> parsed = ParseS5RequestHeader(row.header);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->start, row.request.start);
    EXPECT_EQ(parsed->length, row.request.length);
  }
  const Bytes ack{'S', '5', 0x10, 0x01, 0x03, 0x06, 0x0F, 0x03, 0x02, 0xFF, 0x07, 0, 0, 0, 0, 0};
  EXPECT_EQ(S5AnswerHeader({S5Opcode::kFetchAck, 2}), ack);
  Bytes broken = ack;
  broken[1] = '7';
  EXPECT_FALSE(ParseS5AnswerHeader(broken));
  EXPECT_FALSE(ParseS5AnswerHeader(ByteView(ack).first(15)));
}

// Every cut of a good answer, and every byte of it changed, parses without reading past it.
TEST(S7Answer, TruncatedAndCorruptedAnswersStayInside) {
  const Bytes answer{0x32, 0x03, 0,    0,    0,    9, 0,  2, 0, 8, 0,
                     0,    0x04, 0x01, 0xFF, 0x04, 0, 32, 1, 2, 3, 4};
  const std::optional<S7Answer> good = ParseS7Answer(answer);
  ASSERT_TRUE(good);
  EXPECT_EQ(good->reference, 9);
  EXPECT_EQ(good->data.size(), 4u);
  for (size_t cut = 0; cut < answer.size(); ++cut) {
    EXPECT_FALSE(ParseS7Answer(ByteView(answer).first(cut))) << cut;
  }
  for (size_t at = 0; at < answer.size(); ++at) {
    for (int value : {0x00, 0x7F, 0xFF}) {
      Bytes changed = answer;
      changed[at] = static_cast<uint8_t>(value);
      if (const std::optional<S7Answer> parsed = ParseS7Answer(changed)) {
        const uint8_t* end = changed.data() + changed.size();
        EXPECT_LE(parsed->data.data() + parsed->data.size(), end);
      }
    }
  }
}

TEST(Status, ReturnCodesMapOntoStatusWords) {
  const std::pair<uint8_t, uint16_t> s7[] = {{0xFF, 0},      {0x0A, 1},      {0x05, 2},
                                             {0x03, 0x0703}, {0x06, 0x0706}, {0x07, 0x0707},
                                             {0x01, 0x0701}};
  for (const auto& [code, status] : s7) EXPECT_EQ(StatusOfS7Item(code), status) << int{code};
  const std::pair<uint8_t, uint16_t> s5[] = {{0, 0}, {2, 1}, {3, 2}, {4, 0x0504}, {6, 0x0506}};
  for (const auto& [code, status] : s5) EXPECT_EQ(StatusOfS5Error(code), status) << int{code};
}

}  // namespace
}  // namespace tav::sessions
