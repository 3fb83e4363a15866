#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "vocabulary/byte_order.h"
#include "transfer_test.h"

namespace tav::test {
namespace {

// The host's 4-byte value cell: a 16-bit element in bytes 2 and 3, a 32-bit one from byte 0.
struct Cell {
  uint8_t bytes[4];

  static Cell Of(uint16_t low, uint16_t high) {
    Cell cell{};
    StoreLe16(cell.bytes, low);
    StoreLe16(cell.bytes + 2, high);
    return cell;
  }
  uint16_t Low() const { return LoadLe16(bytes); }
  uint16_t High() const { return LoadLe16(bytes + 2); }
  uint32_t Whole() const { return LoadLe32(bytes); }
};

class TagTest : public TransferTest {};

TEST_F(TagTest, ReadsOneElementIntoItsPlaceInTheValueCell) {
  struct Row {
    const char* name;
    uint8_t plcType;
    uint32_t code;
    Bytes station;
    uint32_t cell;    // the cell afterwards, as one little-endian value; it held 0xAAAABBBB
    uint16_t length;  // of the one element's request
  };
  const Row rows[] = {
      {"S7 word in bytes 2 and 3", 7, kAreaDataWord, {0x12, 0x34}, 0x1234'BBBB, 2},
      {"S5 word", 5, kAreaDataWord, {0x34, 0x12}, 0x1234'BBBB, 1},
      {"byte, zero-extended", 7, kAreaDataByte, {0x81}, 0x0081'BBBB, 1},
      {"flag word", 7, kAreaFlagWords, {0x12, 0x34}, 0x1234'BBBB, 2},
      {"S7 double word from byte 0", 7, kAreaDataDouble, {0x12, 0x34, 0x56, 0x78}, 0x1234'5678, 4},
      {"S5 odd double word", 5, kAreaDataDoubleOdd, {0x34, 0x12, 0x78, 0x56}, 0x1234'5678, 2},
      {"S7 float", 7, kAreaDataFloatOdd, {0x3F, 0x80, 0x00, 0x00}, 0x3F80'0000, 4},
      {"type 5 string of 4 from byte 0", 5, kAreaString, {'B', 'A', 'D', 'C'}, 0x4443'4241, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    AnswerRead(row.station);
    Cell cell = Cell::Of(0xBBBB, 0xAAAA);
    const uint32_t at = row.code == kAreaString ? StringAddress(1, 0, 4) : DataBlockAddress(1, 0);
    TransferBlock block = Block(kPlc, row.code, at, 50, &cell);
    const TransferBlock before = block;

    ASSERT_EQ(Run(CommandCode::kReadTag, &block), 0);

    EXPECT_EQ(cell.Whole(), row.cell);
    EXPECT_EQ(block.count, 1) << "the count is set to 1";
    EXPECT_EQ(block.data, before.data);
    EXPECT_EQ(block.bitNumber, kNoBitNumber);
    const auto requests = RequestsOf(H1Op::kSendReadRequest);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].length, row.length) << "exactly one element";
  }
}

struct BitRow {
  const char* name;
  uint8_t plcType;
  uint32_t code;
  Bytes station;
  uint32_t bitNumber;
  uint16_t bit;
};

TEST_F(TagTest, ReadsABitAsZeroOrOneInBytes2And3) {
  const BitRow rows[] = {
      {"bit 0 of 0x8001", 7, kAreaDataWord, {0x80, 0x01}, 0, 1},
      {"bit 15 of 0x8001", 7, kAreaDataWord, {0x80, 0x01}, 15, 1},
      {"bit 1 of 0x8001", 7, kAreaDataWord, {0x80, 0x01}, 1, 0},
      {"bit 4 of 0x1200", 7, kAreaDataWordOdd, {0x12, 0x00}, 4, 0},
      {"bit 4 of 0x1210", 7, kAreaDataWord, {0x12, 0x10}, 4, 1},
      {"S5 bit 12 of 0x1000", 5, kAreaDataWord, {0x00, 0x10}, 12, 1},
      {"byte bit 7", 7, kAreaDataByte, {0x80}, 7, 1},
      {"flag byte bit 7", 7, kAreaFlagBytes, {0x80}, 7, 1},
      {"float bit 31", 7, kAreaDataFloat, {0x80, 0, 0, 0}, 31, 1},
      {"odd double word, bit 4 of 0x00000010", 7, kAreaDataDoubleOdd, {0, 0, 0, 0x10}, 4, 1},
      {"odd double word, bit 4 of 0x00100000", 7, kAreaDataDoubleOdd, {0, 0x10, 0, 0}, 4, 0},
      {"odd double word, bit 20 of 0x00100000", 7, kAreaDataDoubleOdd, {0, 0x10, 0, 0}, 20, 1},
      {"S5 odd double word, bit 0", 5, kAreaDataDoubleOdd, {0, 0, 1, 0}, 0, 1},
  };
  for (const BitRow& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    AnswerRead(row.station);
    Cell cell = Cell::Of(0xBBBB, 0xAAAA);
    TransferBlock block = Block(kPlc, row.code, DataBlockAddress(1, 0), 1, &cell, row.bitNumber);

    ASSERT_EQ(Run(CommandCode::kReadTag, &block), 0);

    EXPECT_EQ(cell.High(), row.bit);
    EXPECT_EQ(cell.Low(), 0xBBBB) << "bytes 0 and 1 are the host's";
    EXPECT_EQ(block.bitNumber, row.bitNumber);
  }
}

TEST_F(TagTest, AFailedReadLeavesTheValueCellAsItWas) {
  for (uint32_t bitNumber : {kNoBitNumber, 4u}) {
    SCOPED_TRACE(bitNumber);
    Fresh();
    Connect(kPlc, kPlcTypeS7);
    H1().Answer(H1Op::kReceiveReadData, {.result = 0, .statusWord = 1, .data = {0x00, 0x00}});
    Cell cell = Cell::Of(0xBBBB, 0x0010);  // a previous 1 at bit 4
    TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 1, &cell, bitNumber);

    EXPECT_EQ(Run(CommandCode::kReadTag, &block), 1);

    EXPECT_EQ(cell.Whole(), 0x0010'BBBBu);
    EXPECT_EQ(fake::LogTexts(), std::vector<std::string>{"TavSH1: Read Tag TAG1 Failed, rc=0,1"});
  }
}

TEST_F(TagTest, WritesOneElementFromItsPlaceInTheValueCell) {
  struct Row {
    const char* name;
    uint8_t plcType;
    uint32_t code;
    uint32_t cell;
    Bytes sent;
  };
  const Row rows[] = {
      {"S7 word from bytes 2 and 3", 7, kAreaDataWord, 0x1234'BBBB, {0x12, 0x34}},
      {"S5 word", 5, kAreaDataWord, 0x1234'BBBB, {0x34, 0x12}},
      {"byte", 7, kAreaDataByte, 0x0181'BBBB, {0x81}},
      {"S7 double word", 7, kAreaDataDouble, 0x1234'5678, {0x12, 0x34, 0x56, 0x78}},
      {"S5 float 1.0", 5, kAreaDataFloat, 0x3F80'0000, {0x40, 0x01, 0x00, 0x00}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    Cell cell{};
    StoreLe32(cell.bytes, row.cell);
    TransferBlock block = Block(kPlc, row.code, DataBlockAddress(1, 0), 7, &cell);
    const TransferBlock before = block;

    ASSERT_EQ(Run(CommandCode::kWriteTag, &block), 0);

    EXPECT_EQ(SentBytes(row.sent.size()), row.sent);
    EXPECT_EQ(cell.Whole(), row.cell);
    EXPECT_EQ(block.count, 1);
    EXPECT_EQ(block.data, before.data);
    EXPECT_EQ(H1().CountOf(H1Op::kSendReadRequest), 0) << "no read without a bit";
  }
}

struct BitWriteRow {
  const char* name;
  uint8_t plcType;
  uint32_t code;
  Bytes station;  // the element before
  uint32_t bitNumber;
  uint16_t hostWord;  // bytes 2 and 3 of the value cell
  Bytes sent;         // the element written back
};

TEST_F(TagTest, WritesABitByReadingChangingAndWritingTheElement) {
  const BitWriteRow rows[] = {
      {"set bit 4 of 0x1200", 7, kAreaDataWord, {0x12, 0x00}, 4, 1, {0x12, 0x10}},
      {"clear bit 4 of 0x1210", 7, kAreaDataWord, {0x12, 0x10}, 4, 0, {0x12, 0x00}},
      {"only bit 0 of the host word counts",
       7,
       kAreaDataWord,
       {0x12, 0x10},
       4,
       0xFFFE,
       {0x12, 0x00}},
      {"set bit 15", 7, kAreaDataWordOdd, {0x00, 0x00}, 15, 1, {0x80, 0x00}},
      {"S5 word, host order", 5, kAreaDataWord, {0x00, 0x12}, 0, 1, {0x01, 0x12}},
      {"byte 0x80, bit 0", 7, kAreaDataByte, {0x80}, 0, 1, {0x81}},
      {"S5 input word", 5, kAreaInputWords, {0x12, 0x00}, 8, 0, {0x12, 0x00}},
      {"odd double word, bit 4: the same bit a read sees",
       7,
       kAreaDataDoubleOdd,
       {0x12, 0x34, 0x56, 0x00},
       4,
       1,
       {0x12, 0x34, 0x56, 0x10}},
      {"S5 odd double word, bit 0",
       5,
       kAreaDataDoubleOdd,
       {0x34, 0x12, 0x00, 0x00},
       0,
       1,
       {0x34, 0x12, 0x01, 0x00}},
  };
  for (const BitWriteRow& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, row.plcType);
    AnswerRead(row.station);
    Cell cell = Cell::Of(0xBBBB, row.hostWord);
    TransferBlock block = Block(kPlc, row.code, DataBlockAddress(1, 0), 3, &cell, row.bitNumber);
    const TransferBlock before = block;

    ASSERT_EQ(Run(CommandCode::kWriteTag, &block), 0);

    EXPECT_EQ(H1().Sequence(),
              (std::vector<H1Op>{H1Op::kSendReadRequest, H1Op::kReceiveReadData,
                                 H1Op::kSendWriteRequest, H1Op::kReceiveWriteAcknowledge}));
    EXPECT_EQ(SentBytes(row.sent.size()), row.sent);
    const auto reads = RequestsOf(H1Op::kSendReadRequest);
    const auto writes = RequestsOf(H1Op::kSendWriteRequest);
    ASSERT_EQ(reads.size(), 1u);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(reads[0].start, writes[0].start);
    EXPECT_EQ(reads[0].length, writes[0].length);
    // The value cell and the TransferBlock are as the host left them, but for the count.
    EXPECT_EQ(cell.High(), row.hostWord);
    EXPECT_EQ(cell.Low(), 0xBBBB);
    EXPECT_EQ(block.bitNumber, before.bitNumber);
    EXPECT_EQ(block.data, before.data);
    EXPECT_EQ(block.count, 1);
  }
}

TEST_F(TagTest, ABitWriteWhoseReadFailsSendsNothing) {
  struct Row {
    const char* name;
    bool connected;
    int32_t result;
  };
  // The line of a failed read names the write the host asked for.
  for (const Row& row : {Row{"not connected", false, 2}, Row{"read refused", true, 1}}) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, kPlcTypeS7).readConnection = row.connected ? kReadConnection : 0;
    H1().Answer(H1Op::kReceiveReadData, {.result = 4});
    Cell cell = Cell::Of(0xBBBB, 1);
    TransferBlock block = Block(kPlc, kAreaDataWord, DataBlockAddress(1, 0), 1, &cell, 3);

    EXPECT_EQ(Run(CommandCode::kWriteTag, &block), row.result);

    EXPECT_EQ(H1().CountOf(H1Op::kSendWriteRequest), 0);
    EXPECT_EQ(cell.Whole(), 0x0001'BBBBu);
    EXPECT_EQ(block.bitNumber, 3u);
    EXPECT_EQ(fake::LogTexts(),
              row.connected ? std::vector<std::string>{"TavSH1: Write Tag TAG1 Failed, rc=4,0"}
                            : std::vector<std::string>{});
  }
}

TEST_F(TagTest, RefusesWhatNoElementCanCarry) {
  struct Row {
    const char* name;
    CommandCode command;
    uint32_t code;
    uint32_t bitNumber;
    bool nullData;
    const char* log;
  };
  const Row rows[] = {
      {"read without a value cell", CommandCode::kReadTag, kAreaDataWord, kNoBitNumber, true,
       "TavSH1: Read Tag TAG1 Refused, no data array"},
      {"write without a value cell", CommandCode::kWriteTag, kAreaDataWord, 4, true,
       "TavSH1: Write Tag TAG1 Refused, no data array"},
      {"a bit of a string, read", CommandCode::kReadTag, kAreaString, 0, false,
       "TavSH1: Read Tag TAG1 Refused, bit of a string"},
      {"a bit of a string, write", CommandCode::kWriteTag, kAreaString, 3, false,
       "TavSH1: Write Tag TAG1 Refused, bit of a string"},
      {"unknown kind", CommandCode::kReadTag, 'Z', kNoBitNumber, false,
       "TavSH1: Read Tag TAG1 Refused, unknown area type"},
      {"unknown kind, bit write", CommandCode::kWriteTag, 'Z', 2, false,
       "TavSH1: Write Tag TAG1 Refused, unknown area type"},
      // A bit beyond the element: the parser lets bits 8 to 15 through on I/Q/M bytes.
      {"flag byte bit 8, read", CommandCode::kReadTag, kAreaFlagBytes, 8, false,
       "TavSH1: Read Tag TAG1 Refused, bit beyond the element"},
      {"input byte bit 15, write", CommandCode::kWriteTag, kAreaInputBytes, 15, false,
       "TavSH1: Write Tag TAG1 Refused, bit beyond the element"},
      {"data byte bit 8, write", CommandCode::kWriteTag, kAreaDataByte, 8, false,
       "TavSH1: Write Tag TAG1 Refused, bit beyond the element"},
      {"word bit 16, read", CommandCode::kReadTag, kAreaDataWord, 16, false,
       "TavSH1: Read Tag TAG1 Refused, bit beyond the element"},
      {"word bit 200, write", CommandCode::kWriteTag, kAreaOutputWords, 200, false,
       "TavSH1: Write Tag TAG1 Refused, bit beyond the element"},
      {"double word bit 32, read", CommandCode::kReadTag, kAreaDataDoubleOdd, 32, false,
       "TavSH1: Read Tag TAG1 Refused, bit beyond the element"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    Connect(kPlc, kPlcTypeS7);
    Cell cell = Cell::Of(0xBBBB, 0xAAAA);
    TransferBlock block = Block(kPlc, row.code, StringAddress(1, 0, 4), 1,
                                row.nullData ? nullptr : &cell, row.bitNumber);

    EXPECT_EQ(Run(row.command, &block), 1);

    EXPECT_TRUE(H1().Calls().empty());
    EXPECT_EQ(cell.Whole(), 0xAAAA'BBBBu);
    EXPECT_EQ(fake::LogTexts(), std::vector<std::string>{row.log});
  }
  EXPECT_EQ(Run(CommandCode::kReadTag, nullptr), 1);
  EXPECT_EQ(Run(CommandCode::kWriteTag, nullptr), 1);
}

}  // namespace
}  // namespace tav::test
