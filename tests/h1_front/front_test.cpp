#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "h1_front/connection_table.h"
#include "h1_front/records.h"

namespace tav::front {
namespace {

TEST(Tsaps, PaddedForTheWireAndUnpaddedForComparing) {
  struct Row {
    std::string field;  // what the record holds
    uint8_t length;
    bool text;
    std::string wire, unpadded;
  };
  const std::string full(kTsapFieldBytes, 'T');
  const Row rows[] = {
      {std::string("TSAP\0\0\0\0", 8), 8, true, "TSAP    ", "TSAP"},
      {std::string("\x03\x02", 2), 2, false, "\x03\x02", "\x03\x02"},
      {std::string("AB\0 ", 4), 4, false, std::string("AB\0 ", 4), "AB"},
      {full, 200, true, full, full},  // a length beyond the field: the field
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.wire);
    ConnectRecord record{};
    std::memcpy(record.localTsap, row.field.data(), row.field.size());
    record.localTsapLength = row.length;
    const std::vector<uint8_t> wire = WireTsap(LocalTsap(record), row.text);
    EXPECT_EQ(std::string(wire.begin(), wire.end()), row.wire);
    EXPECT_EQ(UnpaddedTsap(LocalTsap(record)), row.unpadded);
  }
}

TEST(ConnectionTable, IdentifiersCountOnPastTheReleasedAndWrapAfter65535) {
  ConnectionTable<int> table;
  for (uint16_t id = 1; id != 0; ++id) {
    ASSERT_EQ(table.FreeIdentifier(), id);
    table.Add(id, 0);
  }
  EXPECT_EQ(table.FreeIdentifier(), 0);  // every identifier in use
  ASSERT_TRUE(table.Release(7) && table.Release(3));
  EXPECT_EQ(table.Find(3), nullptr);
  EXPECT_EQ(table.FreeIdentifier(), 3);  // on from 65,535 through 1
  table.Add(3, 0);
  EXPECT_EQ(table.FreeIdentifier(), 7);
  EXPECT_NE(table.Find(0x10003), nullptr);  // the low 16 bits name the connection
}

TEST(ReceiveArguments, RefusedOrStatusWordCleared) {
  uint16_t status = 0xFFFF;
  uint8_t buffer = 0;
  EXPECT_EQ(TakeReadArguments(1, nullptr, &status), h1::kBadArgument);
  EXPECT_EQ(TakeReadArguments(1, &buffer, nullptr), h1::kBadArgument);
  EXPECT_EQ(status, 0xFFFF);
  EXPECT_EQ(TakeReadArguments(0, nullptr, &status), h1::kOk);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace tav::front
