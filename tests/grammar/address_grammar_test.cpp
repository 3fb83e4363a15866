// The address grammar on its own: the rule each address breaks and where, and the translation of
// the familiar forms. The driver's outputs and log line are tested through commands 3 and 4 in
// tests/address.
#include "grammar/address_grammar.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "abi/driver_instance.h"
#include "grammar/familiar_address.h"

namespace tav {
namespace {

// Station 01 is an S7 station, 03 an S5 station, 05 type 6; the others are not configured.
std::optional<uint8_t> TypeOf(const void*, int32_t station) {
  switch (station) {
    case 1:
      return kPlcTypeS7;
    case 3:
      return kPlcTypeS5;
    case 5:
      return uint8_t{6};
    default:
      return std::nullopt;
  }
}
constexpr StationTypes kStations{nullptr, TypeOf};

AddressVerdict Read(std::string_view text, AddressCommand command, int32_t hostType,
                    int32_t count = 1) {
  const std::string bounded(text);
  char normalised[kAddressLength];
  NormaliseAddress(bounded.c_str(), normalised);
  AddressBlock block{};
  block.hostDataType = hostType;
  block.elementCount = count;
  return ReadAddressText(normalised, command, kStations, block);
}

struct RuleCase {
  const char* text;
  int32_t hostType;
  AddressRule rule;
  uint8_t position;
  uint8_t width;
  AddressCommand command = AddressCommand::kParse;
  int32_t count = 1;
};

constexpr auto kCheck = AddressCommand::kCheck;

// One row per rule, in the grammar's order: each is reachable and points where it should.
const RuleCase kRuleCases[] = {
    {"01DW0010004", 0, AddressRule::kNone, 0, 0},
    {"01DW001000", 0, AddressRule::kCharacter, 10, 1},
    {"01IB00048", 0, AddressRule::kCharacter, 8, 1},
    {"99DW0010000", 0, AddressRule::kStationRange, 0, 2},
    {"07DW0010000", 0, AddressRule::kStationNotConfigured, 0, 2},
    {"01XW0010000", 0, AddressRule::kS7ExtendedBlock, 2, 1},
    {"01SB256000010", 7, AddressRule::kStringBlock, 4, 3},
    {"01SW010000010", 7, AddressRule::kStringDataType, 3, 1},
    {"01SB010000010", 0, AddressRule::kStringHostType, 2, 1},
    {"01SB010000081", 7, AddressRule::kStringLength, 11, 2},
    {"03DW2560000", 0, AddressRule::kS5Block, 4, 3},
    {"01DD0100009", 4, AddressRule::kS7OddOffset, 7, 4},
    {"03MW0005", 0, AddressRule::kOddWordOffset, 4, 4},
    {"03DB0100012", 0, AddressRule::kS5Byte, 3, 1},
    {"01DF0100008", 0, AddressRule::kFloatHostType, 3, 1},
    {"01DD0100008", 3, AddressRule::kDoubleWordHostType, 3, 1},
    {"01MB0004", 6, AddressRule::kBitDigits, 8, 2},
    {"01DW001000416", 6, AddressRule::kBitRange, 11, 2},
    {"01DB001000408", 6, AddressRule::kByteBitRange, 11, 2},
    {"01IW000403", 0, AddressRule::kBitWithoutBitType, 8, 1},
    {"01SB010000010", 7, AddressRule::kCheckString, 2, 1, kCheck},
    {"01DW0010004", 0, AddressRule::kCheckCount, 0, 0, kCheck, 1001},
    // Command 4 reads neither host data type nor bit digits.
    {"01DF0100008", 0, AddressRule::kNone, 0, 0, kCheck, 1000},
    {"05XD0100003", 0, AddressRule::kNone, 0, 0},
};

TEST(AddressGrammar, NamesTheRuleAnAddressBreaksAndWhere) {
  bool reached[kAddressRuleCount] = {};
  for (const RuleCase& c : kRuleCases) {
    SCOPED_TRACE(c.text);
    const AddressVerdict verdict = Read(c.text, c.command, c.hostType, c.count);
    EXPECT_EQ(verdict.rule, c.rule);
    EXPECT_EQ(verdict.position, c.position);
    EXPECT_EQ(verdict.width, c.width);
    reached[static_cast<size_t>(verdict.rule)] = true;
  }
  for (size_t rule = 0; rule < kAddressRuleCount; ++rule) EXPECT_TRUE(reached[rule]) << rule;
}

struct TranslationCase {
  const char* familiar;
  const char* thirteen;  // empty: refused
  FamiliarRule rule = FamiliarRule::kNone;
  bool asFloat = false;
};

const TranslationCase kTranslations[] = {
    {"DB10.DBW4", "01DW0100004"},
    {"db10.dbx4.3", "01DB010000403"},
    {"DB10.DBB2", "01DB0100002"},
    {"DB10.DBD8", "01DD0100008"},
    {"DB10.DBD8", "01DF0100008", FamiliarRule::kNone, true},
    {"DB999.DBW9998", "01DW9999998"},
    {"MW10", "01MW0010"},
    {"MB3", "01MB0003"},
    {"M10.3", "01MB001003"},
    {"IB0", "01IB0000"},
    {"IW2", "01IW0002"},
    {"I0.1", "01IB000001"},
    {"QW20", "01QW0020"},
    {"QB1", "01QB0001"},
    {"q1.0", "01QB000100"},
    {"01:DB1.DBW0", "01DW0010000"},
    {"03:MW4", "03MW0004"},  // the areas count bytes on every station type
    {"99:MW4", "99MW0004"},  // the grammar refuses the station, not the translation
    {"1:MW2", "", FamiliarRule::kStation},
    {"AB:MW2", "", FamiliarRule::kStation},
    {"DB10.DBQ4", "", FamiliarRule::kForm},
    {"DB10DBW4", "", FamiliarRule::kForm},
    {"MW10x", "", FamiliarRule::kForm},
    {"M10.", "", FamiliarRule::kForm},
    {"DB1000.DBW0", "", FamiliarRule::kBlockRange},
    {"MW10000", "", FamiliarRule::kOffsetRange},
    {"DB1.DBW99999999999", "", FamiliarRule::kOffsetRange},
    {"DB10.DBX4", "", FamiliarRule::kBitMissing},
    {"M10", "", FamiliarRule::kBitMissing},
    {"DB10.DBX4.8", "", FamiliarRule::kBitRange},
    {"DB10.DBW4.1", "", FamiliarRule::kBitNotAllowed},
    {"MD4", "", FamiliarRule::kAreaDoubleWord},
    {"ID0", "", FamiliarRule::kAreaDoubleWord},
    {"03:DB10.DBW4", "", FamiliarRule::kWordBlockStation},
    {"05:DB10.DBW4", "", FamiliarRule::kWordBlockStation},
};

TEST(FamiliarAddress, TranslatesIntoTheThirteenCharacterForm) {
  for (const TranslationCase& c : kTranslations) {
    SCOPED_TRACE(c.familiar);
    EXPECT_TRUE(IsFamiliarAddress(c.familiar));
    const FamiliarTranslation t = TranslateFamiliarAddress(c.familiar, c.asFloat, kStations);
    EXPECT_EQ(t.rule, c.rule);
    EXPECT_EQ(t.address(), c.thirteen);
    if (!t.translated()) continue;
    // A translation is no familiar form itself, and the grammar takes it as the tag it names
    // (station 99 apart).
    EXPECT_FALSE(IsFamiliarAddress(t.address()));
    const std::string_view text = t.address();
    const int32_t hostType = text.size() == 13 || text.size() == 10 ? kHostTypeBit
                             : c.asFloat                            ? kHostTypeFloat
                             : text[3] == 'D'                       ? kHostTypeInteger
                                                                    : 0;
    const AddressRule rule = Read(text, AddressCommand::kParse, hostType).rule;
    EXPECT_EQ(rule, text.starts_with("99") ? AddressRule::kStationRange : AddressRule::kNone);
  }
}

TEST(FamiliarAddress, LeavesTheThirteenCharacterFormAlone) {
  for (const char* text : {"01DW0010004", "", "01", "hello world", "DW0010004", "D10.DBW4", "MW"}) {
    EXPECT_FALSE(IsFamiliarAddress(text)) << text;
  }
}

}  // namespace
}  // namespace tav
