#include "config/plc_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/driver_test.h"

namespace tav {
namespace {

using fake::DriverTest;

class ResetPlcTableTest : public DriverTest {};

TEST_F(ResetPlcTableTest, EveryEntryBecomesAnUnconfiguredS7StationInSlot2) {
  std::memset(&instance(), 0x5A, sizeof(DriverInstance));
  for (PlcEntry& entry : instance().plcTable) entry.ethernetAddress[15] = '\0';

  EXPECT_TRUE(ResetPlcTable(instance()));

  for (int n = 0; n < kStationCount; ++n) {
    SCOPED_TRACE(n);
    const PlcEntry& entry = station(n);
    EXPECT_EQ(entry.plcType, 7);
    EXPECT_EQ(entry.reserved1, 0);
    EXPECT_EQ(entry.readConnection, 0);
    EXPECT_EQ(entry.writeConnection, 0);
    EXPECT_EQ(entry.reserved2, 2);
    EXPECT_EQ(entry.slot, 2);
    EXPECT_STREQ(entry.ethernetAddress, "");
    EXPECT_FALSE(IsConfigured(entry));
    EXPECT_EQ(entry.ltsap[0], 1);
    EXPECT_EQ(entry.ltsap[1], 1);
    EXPECT_EQ(entry.rtsap[0], 3);
    EXPECT_EQ(entry.rtsap[1], 2);
  }
}

TEST_F(ResetPlcTableTest, LeavesTheHeadTheTsapTailsAndTheWriteTsapAlone) {
  std::memset(&instance(), 0x5A, sizeof(DriverInstance));
  PlcEntry& s5 = station(12);
  std::strcpy(s5.ethernetAddress, "080006010203");
  std::strcpy(s5.ltsap, "KORVAL  ");
  std::strcpy(s5.rtsap, "KORREAD ");
  std::strcpy(s5.wtsap, "KORWRITE");
  s5.plcType = 5;
  s5.readConnection = 7;
  s5.writeConnection = 8;
  const DriverInstance before = instance();

  ResetPlcTable(instance());

  // Everything before the PlcTable, the transfer buffer included, is untouched.
  EXPECT_EQ(std::memcmp(&before, &instance(), offsetof(DriverInstance, plcTable)), 0);
  EXPECT_EQ(std::memcmp(before.padding, instance().padding, sizeof before.padding), 0);
  EXPECT_EQ(s5.readConnection, 0);
  EXPECT_EQ(s5.writeConnection, 0);
  EXPECT_STREQ(s5.ethernetAddress, "");
  EXPECT_STREQ(s5.ltsap + 2, "RVAL  ");
  EXPECT_STREQ(s5.rtsap + 2, "RREAD ");
  EXPECT_STREQ(s5.wtsap, "KORWRITE");
  for (int n = 0; n < kStationCount; ++n) {
    EXPECT_EQ(station(n).padding, before.plcTable[n].padding);
  }
  EXPECT_TRUE(fake::LogLines().empty());
  EXPECT_TRUE(fake::H1().Calls().empty()) << "a reset releases no connection";
}

class LogStationTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    ResetPlcTable(instance());
  }
};

TEST_F(LogStationTest, S5StationShowsItsThreeTsaps) {
  PlcEntry& entry = station(1);
  entry.plcType = 5;
  std::strcpy(entry.ethernetAddress, "080006010203");
  std::strcpy(entry.ltsap, "KORVAL  ");
  std::strcpy(entry.rtsap, "KORREAD ");
  std::strcpy(entry.wtsap, "KORWRITE");

  LogStation(instance(), 1);

  const std::vector<std::string> expected = {
      "TavSH1: =========================================",
      "TavSH1: PLC # 1 Type     = 5",
      "TavSH1: PLC # 1 EA Addr  = 080006010203",
      "TavSH1: PLC # 1 LTSAP    = <KORVAL  >",
      "TavSH1: PLC # 1 RTSAP    = <KORREAD >",
      "TavSH1: PLC # 1 WTSAP    = <KORWRITE>",
      "TavSH1: =========================================",
  };
  EXPECT_EQ(fake::LogTexts(), expected);
  for (const fake::LogLine& line : fake::LogLines()) EXPECT_EQ(line.level, 32);
  EXPECT_EQ(fake::LogLines()[3].format, "TavSH1: PLC # %d LTSAP    = <%s>");
}

struct SlotCase {
  uint8_t plcType;
  uint8_t slot;
  const char* slotLine;
};

class LogStationSlotTest : public LogStationTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(LogStationSlotTest, OtherTypesShowTheSlotInLowerCaseHexadecimal) {
  const SlotCase& c = GetParam();
  PlcEntry& entry = station(4);
  entry.plcType = c.plcType;
  entry.slot = c.slot;
  std::strcpy(entry.ethernetAddress, "0A0B0C010203");

  LogStation(instance(), 4);

  const std::vector<std::string> expected = {
      "TavSH1: =========================================",
      "TavSH1: PLC # 4 Type     = " + std::to_string(c.plcType),
      "TavSH1: PLC # 4 EA Addr  = 0A0B0C010203",
      c.slotLine,
      "TavSH1: =========================================",
  };
  EXPECT_EQ(fake::LogTexts(), expected);
  EXPECT_EQ(fake::LogLines()[3].format, "TavSH1: PLC # %d Slot     = %x");
}

INSTANTIATE_TEST_SUITE_P(Types, LogStationSlotTest,
                         ::testing::Values(SlotCase{7, 2, "TavSH1: PLC # 4 Slot     = 2"},
                                           SlotCase{7, 16, "TavSH1: PLC # 4 Slot     = 10"},
                                           SlotCase{7, 255, "TavSH1: PLC # 4 Slot     = ff"},
                                           SlotCase{6, 171, "TavSH1: PLC # 4 Slot     = ab"}));

TEST_F(LogStationTest, CutsEveryTsapToEightCharactersWhateverTheType) {
  for (uint8_t type : {uint8_t{5}, uint8_t{7}}) {
    SCOPED_TRACE(int{type});
    PlcEntry& entry = station(9);
    entry.plcType = type;
    std::strcpy(entry.ltsap, "LOCAL-TSAP-LONG");
    std::strcpy(entry.rtsap, "123456789");
    std::strcpy(entry.wtsap, "WRITETSAPX");

    LogStation(instance(), 9);

    EXPECT_STREQ(entry.ltsap, "LOCAL-TS");
    EXPECT_STREQ(entry.rtsap, "12345678");
    EXPECT_STREQ(entry.wtsap, "WRITETSA");
  }
  EXPECT_EQ(fake::LogTexts()[3], "TavSH1: PLC # 9 LTSAP    = <LOCAL-TS>");
}

}  // namespace
}  // namespace tav
