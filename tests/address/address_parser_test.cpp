#include "address/address_parser.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "abi/address_block.h"
#include "config/plc_table.h"
#include "support/driver_test.h"

namespace tav {
namespace {

constexpr CommandCode kParse = CommandCode::kParseAddress;
constexpr CommandCode kCheck = CommandCode::kCheckAddress;
constexpr int32_t kValid = 0;
constexpr int32_t kInvalid = 1;
// The row holds for every host data type.
constexpr int32_t kAnyHostType = INT32_MIN;
constexpr uint32_t kUntouched = 0xA5A5A5A5;
constexpr char kBlockTypeMessage[] = "TavSH1: S7 PLC does not support Block type X";

struct AddressCase {
  const char* text;
  int32_t hostType;
  int32_t result;
  uint32_t code = 0;
  uint32_t block = 0;
  uint32_t offset = 0;
  uint32_t bit = kNoBitNumber;
  uint32_t width = 16;
  uint32_t length = 0;
  CommandCode command = kParse;
  int32_t count = 1;
  bool logged = false;
  const char* note = "";

  AddressCase Bit(uint32_t b) const { return With(&AddressCase::bit, b); }
  AddressCase Wide() const { return With(&AddressCase::width, 32u); }
  AddressCase Length(uint32_t n) const { return With(&AddressCase::length, n); }
  AddressCase Checked(int32_t n = 1) const {
    AddressCase c = With(&AddressCase::command, kCheck);
    c.count = n;
    return c;
  }
  AddressCase Logged() const { return With(&AddressCase::logged, true); }
  AddressCase Note(const char* n) const { return With(&AddressCase::note, n); }

  template <typename T>
  AddressCase With(T AddressCase::*field, T value) const {
    AddressCase c = *this;
    c.*field = value;
    return c;
  }
};

AddressCase Valid(const char* text, int32_t hostType, uint32_t code, uint32_t block,
                  uint32_t offset) {
  return {text, hostType, kValid, code, block, offset};
}
// An I/Q/M address: no block number.
AddressCase ValidArea(const char* text, int32_t hostType, uint32_t code, uint32_t offset) {
  return Valid(text, hostType, code, 0, offset);
}
AddressCase Invalid(const char* text, int32_t hostType) {
  return {text, hostType, kInvalid};
}

std::ostream& operator<<(std::ostream& out, const AddressCase& c) {
  out << '"';
  for (const char* p = c.text; *p != '\0'; ++p) {
    if (*p >= ' ' && *p <= '~') {
      out << *p;
    } else {
      out << "\\x" << std::hex << (*p & 0xFF) << std::dec;
    }
  }
  out << "\" host type ";
  if (c.hostType == kAnyHostType) {
    out << "any";
  } else {
    out << c.hostType;
  }
  out << " command " << c.command << " count " << c.count;
  if (*c.note != '\0') out << " (" << c.note << ")";
  return out;
}

// Station 01 is an S7 station, 02 an S5 station, 03 a station of type 6 and 98 another S7
// station; every other entry (00 and 05 among them) is reset and not configured.
class AddressTest : public fake::DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    ResetPlcTable(instance());
    Configure(1, kPlcTypeS7);
    Configure(2, kPlcTypeS5);
    Configure(3, 6);
    Configure(98, kPlcTypeS7);
  }

  void Configure(int number, uint8_t type) {
    station(number).plcType = type;
    std::strcpy(station(number).ethernetAddress, "080006010203");
  }

  static AddressBlock Block(const char* text, int32_t hostType, int32_t count = 1) {
    AddressBlock block;
    std::memset(&block, 0xA5, sizeof block);
    block.addressText = text;
    block.hostDataType = hostType;
    block.elementCount = count;
    return block;
  }

  // Runs the case once per host data type it names and checks every output of a valid address,
  // the one log line where there is one, and that neither the text nor the instance changed.
  void Expect(const AddressCase& c) {
    std::vector<int32_t> hostTypes = {c.hostType};
    if (c.hostType == kAnyHostType) hostTypes = {INT32_MIN, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 99};
    const std::string text = c.text;
    const std::vector<uint8_t> before(reinterpret_cast<const uint8_t*>(&instance()),
                                      reinterpret_cast<const uint8_t*>(&instance() + 1));
    for (int32_t hostType : hostTypes) {
      SCOPED_TRACE("host data type " + std::to_string(hostType));
      fake::ClearLog();
      AddressBlock block = Block(c.text, hostType, c.count);

      ASSERT_EQ(Run(c.command, &block), c.result);

      EXPECT_EQ(c.text, text);
      EXPECT_EQ(std::memcmp(before.data(), &instance(), before.size()), 0);
      EXPECT_EQ(block.hostField, kUntouched);
      if (c.logged) {
        ASSERT_EQ(fake::LogLines().size(), 1u);
        EXPECT_EQ(fake::LogLines()[0].level, 0);
        EXPECT_EQ(fake::LogLines()[0].format, kBlockTypeMessage);
        EXPECT_EQ(fake::LogLines()[0].text, kBlockTypeMessage);
      } else {
        EXPECT_TRUE(fake::LogLines().empty());
      }
      if (c.result != kValid) continue;
      EXPECT_EQ(block.plcNumber, std::stoi(text.substr(0, 2)));
      EXPECT_EQ(block.areaTypeCode, c.code);
      EXPECT_EQ(block.packedAddress & kPackedOffsetMask, c.offset);
      if (c.length == 0) {
        EXPECT_EQ(block.packedAddress >> kPackedBlockShift, c.block);
      } else {
        EXPECT_EQ(block.packedAddress >> kPackedBlockShift & 0xFF, c.block);
        EXPECT_EQ(block.packedAddress >> kPackedLengthShift, c.length);
      }
      EXPECT_EQ(block.bitNumber, c.bit);
      EXPECT_EQ(block.elementWidth, c.width);
    }
  }
};

class AddressTableTest : public AddressTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(AddressTableTest, GivesTheResultAndTheDescription) {
  Expect(GetParam());
}

// Station 01 S7, 02 S5, 05 not configured.
const AddressCase kWorkedExamples[] = {
    Valid("01DB0100012", 1, 0x0042, 10, 12),
    Valid("01db0100012", 1, 0x0042, 10, 12).Note("lower case is accepted"),
    Invalid("02DB0100012", 1).Note("S5 data blocks have no byte addresses"),
    Valid("01DW0010004", 1, 0x0000, 1, 2).Note("byte 4 is word 2"),
    Valid("01DW0010005", 1, 0x0001, 1, 2).Note("odd byte 5"),
    Valid("02DW0010005", 1, 0x0000, 1, 5).Note("word 5"),
    Valid("01DF0200008", 3, 0x0046, 20, 2).Wide(),
    Valid("01DF0200010", 3, 0x0066, 20, 2).Wide().Note("byte 10 = 4x2+2"),
    Invalid("01DF0200009", 3).Note("odd S7 byte offset for a float"),
    Valid("02DF0200008", 3, 0x0046, 20, 4).Wide(),
    Valid("02DF0200009", 3, 0x0066, 20, 4).Wide().Note("odd S5 word"),
    Invalid("01DF0200008", 4).Note("a float address needs host data type 3"),
    Valid("01DD0200008", 4, 0x0044, 20, 2).Wide(),
    Invalid("01DD0200008", 3).Note("'D' needs host data type 4 or 5"),
    Valid("01DD0200010", 3, 0x0064, 20, 2).Wide().Note("the host-type rule names 'D' only"),
    Invalid("02DW2560000", 1).Note("S5 block number above 255"),
    Valid("01DW2560000", 1, 0x0000, 256, 0),
    Invalid("01XW0010000", 1).Logged(),
    Valid("02XW0010000", 1, 0x5800, 1, 0),
    Valid("02XD0010003", 4, 0x5864, 1, 1).Wide(),
    Invalid("02XB0010000", 1).Note("byte address in an S5 data block"),
    ValidArea("02IW0004", 1, 0x5749, 4),
    ValidArea("01IW0004", 1, 0x5749, 2),
    Invalid("01IW0005", 1).Note("odd word offset"),
    ValidArea("01QB0005", 1, 0x4251, 5),
    ValidArea("01MW0002", 1, 0x574D, 1),
    Valid("01DW001000407", 6, 0x0000, 1, 2).Bit(7),
    Invalid("01DW0010004", 6).Note("a bit tag needs two bit digits"),
    Invalid("01DW001000416", 6).Note("bit above 15"),
    Invalid("01DB001000408", 6).Note("bit above 7 in a data-block byte"),
    ValidArea("01MB001003", 6, 0x424D, 10).Bit(3),
    ValidArea("01MB001015", 6, 0x424D, 10).Bit(15),
    Invalid("01MB0010 3", 6).Note("blank among the bit digits"),
    Invalid("01DW001000407", 1).Note("bit digits on a tag that is not a bit tag"),
    Valid("01DW0010004 7", 1, 0x0000, 1, 2).Note("position 12 is not examined"),
    ValidArea("01MB0010 3", 1, 0x424D, 10).Note("position 9 is not examined"),
    Valid("01SB010002010", 7, 0x0053, 10, 20).Length(10),
    Valid("01SB0100020 5", 7, 0x0053, 10, 20).Length(5),
    Valid("01SB010002080", 7, 0x0053, 10, 20).Length(80),
    Invalid("01SB010002081", 7).Note("length above 80"),
    Invalid("01SB010002000", 7).Note("length 0"),
    Invalid("01SB010002010", 1).Note("a string address needs host data type 7"),
    Invalid("01SW010002010", 7).Note("a string takes data type B"),
    Invalid("02SB300002010", 7).Note("S5 block number above 255"),
    Invalid("05DW0010000", 1).Note("station 05 is not configured"),
    Invalid("01DW001000", 1).Note("position 10 must be a digit"),
    Valid("01DW001000407", kAnyHostType, 0x0000, 1, 2).Checked().Note("bit digits are not read"),
    Valid("01DF0200008", kAnyHostType, 0x0046, 20, 2).Wide().Checked(),
    Invalid("01SB010002010", 7).Checked().Note("command 4 rejects string addresses"),
    Valid("01DW0010004", kAnyHostType, 0x0000, 1, 2).Checked(1000),
    Invalid("01DW0010004", kAnyHostType).Checked(1001),
};
INSTANTIATE_TEST_SUITE_P(WorkedExamples, AddressTableTest, ::testing::ValuesIn(kWorkedExamples));

const AddressCase kTextForms[] = {
    ValidArea("01MW0002     ", 1, 0x574D, 1).Note("typed blanks equal filled ones"),
    Valid("01DW0010004  XYZ", 1, 0x0000, 1, 2).Note("only the first 13 characters count"),
    Valid("01DW00100040799", 6, 0x0000, 1, 2).Bit(7),
    Valid("01SB0100020109", 7, 0x0053, 10, 20).Length(10),
    Invalid("", 1),
    Invalid("             ", 1),
    Invalid("1DW0010004", 1),
    Invalid(" 1DW0010004", 1),
    Invalid("01DW0010004\xB7", 1).Note("a byte above 127 is no blank"),
    Invalid("01DW001000\t", 1),
    ValidArea("01mb001003", 6, 0x424D, 10).Bit(3),
    Valid("02xw0010000", 1, 0x5800, 1, 0),
    Valid("01sb010002010", 7, 0x0053, 10, 20).Length(10),
    Invalid("01DW0010004ab", 6).Note("letters are no bit digits"),
    Invalid("01Dw001000a", 1),
};
INSTANTIATE_TEST_SUITE_P(TextForms, AddressTableTest, ::testing::ValuesIn(kTextForms));

const AddressCase kStations[] = {
    Valid("98DW0010000", 1, 0x0000, 1, 0),
    Invalid("99DW0010000", 1),
    Invalid("00DW0010000", 1),
    Invalid("99DW0010000", 1).Checked(),
    Invalid("05XW0010000", 1).Note("an unconfigured S7 station is rejected silently"),
    Invalid("99XW0010000", 1),
    Invalid("01XW001000", 1).Note("the character check comes before the message"),
    Invalid("01XD0010000", 4).Checked().Logged(),
    Invalid("01XB0010000", 1).Logged(),
};
INSTANTIATE_TEST_SUITE_P(Stations, AddressTableTest, ::testing::ValuesIn(kStations));

const AddressCase kBlockLimits[] = {
    Valid("02DW2550000", 1, 0x0000, 255, 0),
    Valid("01DW9990000", 1, 0x0000, 999, 0),
    Valid("03DW9990000", 1, 0x0000, 999, 0),
    Valid("03XW9999999", 1, 0x5800, 999, 9999),
    Invalid("02XW2560000", 1),
    Valid("02SB255002010", 7, 0x0053, 255, 20).Length(10),
    Invalid("02SB256002010", 7),
    Valid("01SB255002010", 7, 0x0053, 255, 20).Length(10),
    Invalid("01SB256002010", 7).Note("a string's block number has 8 bits"),
    Invalid("03SB256002010", 7).Note("a string's block number has 8 bits"),
};
INSTANTIATE_TEST_SUITE_P(BlockLimits, AddressTableTest, ::testing::ValuesIn(kBlockLimits));

const AddressCase kOffsets[] = {
    Valid("01DD0200010", 4, 0x0064, 20, 2).Wide(),
    Invalid("01DD0200009", 4),
    Valid("02DD0200008", 4, 0x0044, 20, 4).Wide(),
    Valid("02DD0200009", 4, 0x0064, 20, 4).Wide(),
    Valid("02DD0200009", 1, 0x0064, 20, 4).Wide().Note("'d' passes with any host type"),
    Invalid("02DD0200008", 1),
    Invalid("01DF0200010", 4).Note("'f' needs host data type 3"),
    Valid("01DB0009999", 1, 0x0042, 0, 9999),
    Valid("01DW0019999", 1, 0x0001, 1, 4999),
    Valid("02DW0019999", 1, 0x0000, 1, 9999),
    Valid("02XF0010002", 3, 0x5846, 1, 1).Wide(),
    Valid("02XF0010003", 3, 0x5866, 1, 1).Wide(),
    Valid("02XW0010005", 1, 0x5800, 1, 5),
    Invalid("02IW0005", 1),
    Valid("02DF2559999", 3, 0x0066, 255, 4999).Wide(),
    ValidArea("01IB9999", 1, 0x4249, 9999),
    ValidArea("01MW9998", 1, 0x574D, 4999),
    ValidArea("02MW9998", 1, 0x574D, 9998),
};
INSTANTIATE_TEST_SUITE_P(Offsets, AddressTableTest, ::testing::ValuesIn(kOffsets));

// A station of type 6 takes the S5 offsets without the S5 limits.
const AddressCase kTypeSix[] = {
    Valid("03DW0010005", 1, 0x0000, 1, 5),
    Valid("03DD0200009", 4, 0x0064, 20, 4).Wide(),
    Valid("03DF0200010", 3, 0x0046, 20, 5).Wide(),
    Valid("03DB0100012", 1, 0x0042, 10, 12),
    Valid("03XB0100012", 1, 0x5842, 10, 12),
    Valid("03XD3000008", 5, 0x5844, 300, 4).Wide(),
    ValidArea("03IW0004", 1, 0x5749, 4),
    Invalid("03IW0003", 1),
    Invalid("03DB001000408", 6),
    Valid("03SB010002010", 7, 0x0053, 10, 20).Length(10),
};
INSTANTIATE_TEST_SUITE_P(TypeSix, AddressTableTest, ::testing::ValuesIn(kTypeSix));

const AddressCase kBitNumbers[] = {
    Valid("01DW001000400", 6, 0x0000, 1, 2).Bit(0),
    Valid("01DW001000415", 6, 0x0000, 1, 2).Bit(15),
    Valid("01DB001000407", 6, 0x0042, 1, 4).Bit(7),
    Valid("02XW001000015", 6, 0x5800, 1, 0).Bit(15),
    Valid("01DD020001007", 6, 0x0064, 20, 2).Wide().Bit(7).Note("'d' passes with any host type"),
    Invalid("01DD020000807", 6),
    Invalid("01DF020000807", 6),
    ValidArea("01IB001015", 6, 0x4249, 10).Bit(15),
    ValidArea("01IW001015", 6, 0x5749, 5).Bit(15),
    Invalid("01IB001016", 6),
    Invalid("01MB001079", 6),
    Invalid("01MB001080", 6).Note("position 8 holds 0 to 7 or a blank"),
    Invalid("01DW0010004 7", 6),
    Invalid("01DW00100047", 6),
    Invalid("01MB00103", 6),
    Invalid("01DW00100040 ", 1),
    Invalid("01MB00103", 1),
    ValidArea("01MB0010 9", 1, 0x424D, 10),
    Valid("01DW0010004 0", 5, 0x0000, 1, 2),
};
INSTANTIATE_TEST_SUITE_P(BitNumbers, AddressTableTest, ::testing::ValuesIn(kBitNumbers));

const AddressCase kStrings[] = {
    Valid("01SB01000205 ", 7, 0x0053, 10, 20).Length(5),
    Valid("01SB01000205", 7, 0x0053, 10, 20).Length(5),
    Valid("01SB010002005", 7, 0x0053, 10, 20).Length(5),
    Valid("01SB010002001", 7, 0x0053, 10, 20).Length(1),
    Valid("01SB010999980", 7, 0x0053, 10, 9999).Length(80),
    Valid("02SB010002010", 7, 0x0053, 10, 20).Length(10).Note("S5 word offset as typed"),
    Invalid("01SB0100020", 7).Note("no length"),
    Invalid("01SB0100020 0", 7),
    Invalid("01SD010002010", 7),
    Invalid("01SB010002010", 6),
    Invalid("01SB010002010", 1).Checked().Note("host data type 7 in check mode too"),
};
INSTANTIATE_TEST_SUITE_P(Strings, AddressTableTest, ::testing::ValuesIn(kStrings));

const AddressCase kCheckMode[] = {
    Valid("01DW001000499", kAnyHostType, 0x0000, 1, 2).Checked(),
    Valid("01DB001000499", kAnyHostType, 0x0042, 1, 4).Checked(),
    ValidArea("01MB001079", kAnyHostType, 0x424D, 10).Checked(),
    Invalid("01MB001080", kAnyHostType).Checked().Note("position 8 holds 0 to 7 or a blank"),
    Valid("01DD0200008", kAnyHostType, 0x0044, 20, 2).Wide().Checked(),
    Valid("02XW0010000", kAnyHostType, 0x5800, 1, 0).Checked(),
    Invalid("01DF0200009", kAnyHostType).Checked(),
    Invalid("02DB0100012", kAnyHostType).Checked(),
    Valid("01DW0010004", 1, 0x0000, 1, 2).Checked(0),
    Valid("01DW0010004", 1, 0x0000, 1, 2).Checked(-1),
    Valid("01DW0010004", 1, 0x0000, 1, 2).Checked(INT32_MIN),
    Invalid("01DW0010004", 1).Checked(INT32_MAX),
    Invalid("01DW001000", 1).Checked(),
};
INSTANTIATE_TEST_SUITE_P(CheckMode, AddressTableTest, ::testing::ValuesIn(kCheckMode));

TEST_F(AddressTest, NullRecordsAreRejectedAndNothingIsWritten) {
  for (CommandCode command : {kParse, kCheck}) {
    SCOPED_TRACE(command);
    AddressBlock block = Block("01DW0010004", 1);
    const AddressBlock before = block;
    Request noInstance = MakeRequest(nullptr, command, &block);
    EXPECT_EQ(TavMain(&noInstance), kInvalid);
    EXPECT_EQ(std::memcmp(&block, &before, sizeof block), 0);
    EXPECT_EQ(Run(command, nullptr), kInvalid);

    block.addressText = nullptr;
    EXPECT_EQ(Run(command, &block), kInvalid) << "a null text is an empty text";
    EXPECT_EQ(block.plcNumber, static_cast<int32_t>(kUntouched));
  }
}

TEST_F(AddressTest, RejectionsKeepTheOutputsNotYetReached) {
  struct Case {
    const char* text;
    bool headerWritten;  // PLC number, bit number and width
  };
  for (const Case& c : {Case{"01DW001000", false}, Case{"", false}, Case{"99DW0010000", true},
                        Case{"05DW0010000", true}, Case{"01XW0010000", true}}) {
    SCOPED_TRACE(c.text);
    AddressBlock block = Block(c.text, 1);
    ASSERT_EQ(Run(kParse, &block), kInvalid);
    if (c.headerWritten) {
      EXPECT_EQ(block.plcNumber, std::stoi(std::string(c.text, 2)));
      EXPECT_EQ(block.bitNumber, kNoBitNumber);
      EXPECT_EQ(block.elementWidth, 16u);
    } else {
      EXPECT_EQ(block.plcNumber, static_cast<int32_t>(kUntouched));
      EXPECT_EQ(block.bitNumber, kUntouched);
      EXPECT_EQ(block.elementWidth, kUntouched);
    }
    EXPECT_EQ(block.areaTypeCode, kUntouched);
    EXPECT_EQ(block.packedAddress, kUntouched);
  }
}

TEST_F(AddressTest, StationZeroIsValidOnceConfigured) {
  Configure(0, kPlcTypeS7);
  AddressBlock block = Block("00DW0010000", 1);
  EXPECT_EQ(Run(kParse, &block), kValid);
  EXPECT_EQ(block.plcNumber, 0);
}

TEST_F(AddressTest, TheStationTypeCountsAtTheTimeOfTheCall) {
  AddressBlock block = Block("03XW0010000", 1);
  EXPECT_EQ(Run(kParse, &block), kValid);
  station(3).plcType = kPlcTypeS7;
  EXPECT_EQ(Run(kParse, &block), kInvalid);
  EXPECT_EQ(fake::LogLines().size(), 1u);
}

TEST_F(AddressTest, EveryXAddressOnAnS7StationLogsOneLine) {
  AddressBlock block = Block("01XW0010000", 1);
  for (int call = 1; call <= 3; ++call) EXPECT_EQ(Run(kParse, &block), kInvalid);
  ASSERT_EQ(fake::LogLines().size(), 3u);
  for (const fake::LogLine& line : fake::LogLines()) {
    EXPECT_EQ(line.level, 0);
    EXPECT_EQ(line.text, kBlockTypeMessage);
  }
}

TEST_F(AddressTest, ReadsNoFurtherThanThirteenCharactersOrTheTerminator) {
  // Exactly sized heap copies: AddressSanitizer reports any read past them.
  const std::string unterminated = "01DW001000407";
  auto text = std::make_unique<char[]>(unterminated.size());
  std::memcpy(text.get(), unterminated.data(), unterminated.size());
  AddressBlock block = Block(text.get(), 6);
  EXPECT_EQ(Run(kParse, &block), kValid);
  EXPECT_EQ(block.bitNumber, 7u);

  struct Case {
    const char* text;
    int32_t result;
  };
  for (const Case& c : {Case{"01MW0002", kValid}, Case{"0", kInvalid}, Case{"", kInvalid}}) {
    SCOPED_TRACE(c.text);
    auto copy = std::make_unique<char[]>(std::strlen(c.text) + 1);
    std::strcpy(copy.get(), c.text);
    for (CommandCode command : {kParse, kCheck}) {
      block = Block(copy.get(), 1);
      EXPECT_EQ(Run(command, &block), c.result);
    }
  }
}

TEST_F(AddressTest, CheckModeEndsWithTheCheck) {
  for (const char* checked : {"01DW0010004", "01SB010002010", "01DW001000"}) {
    SCOPED_TRACE(checked);
    AddressBlock check = Block(checked, 7);
    Run(kCheck, &check);

    AddressBlock bitTag = Block("01DW001000407", 6);
    EXPECT_EQ(Run(kParse, &bitTag), kValid);
    EXPECT_EQ(bitTag.bitNumber, 7u);
    AddressBlock wordTag = Block("01DW001000407", 1);
    EXPECT_EQ(Run(kParse, &wordTag), kInvalid);
  }
}

}  // namespace
}  // namespace tav
