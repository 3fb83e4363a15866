#include "config/station_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "config/plc_table.h"
#include "support/driver_test.h"
#include "support/working_directory.h"

namespace tav {
namespace {

using fake::DriverTest;
using Texts = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// Filtering lines

// Every line ReadStationLine delivers from `bytes`, until it reports the end.
std::vector<std::string> FilteredLines(const std::string& bytes) {
  std::FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  std::vector<std::string> lines;
  char line[kStationLineSize];
  StationFileBudget budget;
  while (ReadStationLine(file, line, budget)) {
    lines.emplace_back(line);
    if (lines.size() > 100) break;  // a reader that never ends
  }
  std::fclose(file);
  return lines;
}

struct FilterCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadStationLineTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ReadStationLineTest, DeliversTheFilteredLines) {
  EXPECT_EQ(FilteredLines(GetParam().bytes), GetParam().lines);
}

const std::string kLongTsap(200, 'T');

INSTANTIATE_TEST_SUITE_P(
    Filter, ReadStationLineTest,
    ::testing::Values(
        FilterCase{"PlainLine", "1=7,0A0B0C010203,2\n", {"1=7,0A0B0C010203,2"}},
        FilterCase{"CarriageReturnsOfCrLf",
                   "1=7,0A0B0C010203,2\r\n5=5,0A0B0C010205,L O C\r\n",
                   {"1=7,0A0B0C010203,2", "5=5,0A0B0C010205,L O C"}},
        FilterCase{"BlanksAndTabsGoBeforeTheSecondCommaOnly",
                   "2 = 7 ,\t0A0B0C010204 , 3 ; press line\n",
                   {"2=7,0A0B0C010204, 3 ; press line"}},
        FilterCase{"BytesFrom0x80AreNeverKept",
                   "1=5,0A0B\xE4\x80"
                   "0C010203,T\xFFSAP A\xA0\n",
                   {"1=5,0A0B0C010203,TSAP A"}},
        FilterCase{"ControlCharactersGoEverywhere",
                   std::string("1=5,A\x01,B\tC\x1F") + '\0' + "D\x7F\n",
                   {"1=5,A,BCD\x7F"}},
        FilterCase{"CommasInACommentCountToo", "1=7 ; a,b,c d\n", {"1=7;a,b,c d"}},
        FilterCase{"EmptyLinesAreDelivered", "\n\r\n \t\n", {"", "", ""}},
        FilterCase{
            "LastLineWithoutNewlineOfSixteenCharacters", "1=7,0A0B0C010203", {"1=7,0A0B0C010203"}},
        FilterCase{"LastLineOfExactlyTenCharacters", "x\n1234567890", {"x", "1234567890"}},
        FilterCase{"LastLineOfNineCharactersIsDropped", "x\n123456789", {"x"}},
        FilterCase{"LastLineCountsKeptCharactersOnly", "x\n 1\t2345678 9\r", {"x"}},
        FilterCase{"OverLongLineIsCutAndTheNextLineIsWhole",
                   "1=5,0A0B0C010203," + kLongTsap + "\n2=7,0A0B0C010204,3\n",
                   {"1=5,0A0B0C010203," + kLongTsap.substr(0, 135 - 17), "2=7,0A0B0C010204,3"}}),
    [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------------------------
// Reading the file into the PlcTable

// The texts and numbers of an entry that the station file sets, for readable comparisons.
struct EntryText {
  int plcType;
  std::string ethernetAddress;
  std::string ltsap;
  std::string rtsap;
  std::string wtsap;
  int slot;
  bool operator==(const EntryText&) const = default;
};

void PrintTo(const EntryText& e, std::ostream* os) {
  *os << "{type " << e.plcType << ", address \"" << e.ethernetAddress << "\", ltsap \"" << e.ltsap
      << "\", rtsap \"" << e.rtsap << "\", wtsap \"" << e.wtsap << "\", slot " << e.slot << "}";
}

template <size_t N>
std::string Text(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

EntryText Describe(const PlcEntry& entry) {
  return {entry.plcType,     Text(entry.ethernetAddress), Text(entry.ltsap),
          Text(entry.rtsap), Text(entry.wtsap),           entry.slot};
}

// An entry as the reset of a zero-filled instance leaves it.
const EntryText kResetEntry{7, "", "\x01\x01", "\x03\x02", "", 2};

EntryText S7(const std::string& address, int slot) {
  return {7, address, "\x01\x01", "\x03\x02", "", slot};
}
EntryText S5(const std::string& address, const std::string& ltsap = "KORVAL  ",
             const std::string& rtsap = "KORREAD ", const std::string& wtsap = "KORWRITE") {
  return {5, address, ltsap, rtsap, wtsap, 2};
}

class StationFileTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    ResetPlcTable(instance());
  }

  // Writes the station file of driver 3 and reads it.
  bool Read(const std::string& contents) {
    directory_.Write("tavSH103.int", contents);
    return ReadStationFile(instance(), 3);
  }

  EntryText Entry(int n) { return Describe(station(n)); }

  // Every entry but those in `touched` still reads as after the reset.
  void ExpectOthersUntouched(std::initializer_list<int> touched) {
    for (int n = 0; n < kStationCount; ++n) {
      if (std::find(touched.begin(), touched.end(), n) != touched.end()) continue;
      EXPECT_EQ(Entry(n), kResetEntry) << "station " << n;
      EXPECT_EQ(station(n).readConnection, 0);
      EXPECT_EQ(station(n).writeConnection, 0);
    }
  }

  fake::TemporaryWorkingDirectory directory_;
};

TEST_F(StationFileTest, ExampleFileConfiguresFiveStationsAndLogsEach) {
  ASSERT_TRUE(
      Read("1=7,0A0B0C010203,2\n"
           "2=7, 0A0B0C010204 , 3 ; press line\n"
           "5=5,0A0B0C010205\n"
           "6=5,0A0B0C010206,TSAPLOC1,TSAPRD01,TSAPWR01\n"
           "7=5,0A0B0C010207,TSAPLOC2\n"));

  EXPECT_EQ(Entry(1), S7("0A0B0C010203", 2));
  EXPECT_EQ(Entry(2), S7("0A0B0C010204", 3));
  EXPECT_EQ(Entry(5), S5("0A0B0C010205"));
  EXPECT_EQ(Entry(6), S5("0A0B0C010206", "TSAPLOC1", "TSAPRD01", "TSAPWR01"));
  EXPECT_EQ(Entry(7), S5("0A0B0C010207", "TSAPLOC2"));
  ExpectOthersUntouched({1, 2, 5, 6, 7});

  // One dump per station, in file order, and nothing else.
  Texts typeLines;
  for (const std::string& text : fake::LogTexts()) {
    if (text.find(" Type ") != std::string::npos) typeLines.push_back(text);
  }
  EXPECT_EQ(typeLines, (Texts{"TavSH1: PLC # 1 Type     = 7", "TavSH1: PLC # 2 Type     = 7",
                              "TavSH1: PLC # 5 Type     = 5", "TavSH1: PLC # 6 Type     = 5",
                              "TavSH1: PLC # 7 Type     = 5"}));
  EXPECT_EQ(fake::LogLines().size(), 2u * 5 + 7u * 3);
  EXPECT_EQ(fake::LogTexts()[8], "TavSH1: PLC # 2 Slot     = 3");
  EXPECT_TRUE(fake::H1().Calls().empty());
}

TEST_F(StationFileTest, RejectedLinesDontStopTheOthers) {
  ASSERT_TRUE(
      Read("; stations of hall 2\n"
           "\n"
           "0=7,0A0B0C010200,2\n"
           "3=7,0A0B0C010203,2\n"
           "4=9,0A0B0C010204\n"
           "5=5,0A0B0C010205\n"));
  EXPECT_EQ(Entry(3), S7("0A0B0C010203", 2));
  EXPECT_EQ(Entry(5), S5("0A0B0C010205"));
  ExpectOthersUntouched({3, 5});
}

TEST_F(StationFileTest, ALaterLineOverwritesFieldByField) {
  ASSERT_TRUE(
      Read("3=5,0A0B0C010203,L1,R1,W1\n"
           "3=7,0A0B0C0102FF,4\n"));
  // The S7 line doesn't touch the TSAPs the S5 line stored.
  EXPECT_EQ(Entry(3), (EntryText{7, "0A0B0C0102FF", "L1", "R1", "W1", 4}));
}

// Lines that are accepted, and what they store in station 3.
struct AcceptedCase {
  const char* name;
  const char* line;
  EntryText entry;
};

void PrintTo(const AcceptedCase& c, std::ostream* os) {
  *os << c.line;
}

class AcceptedLineTest : public StationFileTest,
                         public ::testing::WithParamInterface<AcceptedCase> {};

TEST_P(AcceptedLineTest, StoresEveryFieldAndLogsTheStation) {
  ASSERT_TRUE(Read(std::string(GetParam().line) + "\n"));
  EXPECT_EQ(Entry(3), GetParam().entry);
  ExpectOthersUntouched({3});
  ASSERT_FALSE(fake::LogTexts().empty());
  EXPECT_EQ(fake::LogTexts()[1],
            "TavSH1: PLC # 3 Type     = " + std::to_string(GetParam().entry.plcType));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AcceptedLineTest,
    ::testing::Values(
        // S7 slots are hexadecimal; text without a hex number stores the preset 99.
        AcceptedCase{"S7WithoutSlotKeepsSlot2", "3=7,0A0B0C010203", S7("0A0B0C010203", 2)},
        AcceptedCase{"EmptySlotStores99", "3=7,0A0B0C010203,", S7("0A0B0C010203", 99)},
        AcceptedCase{"SlotWithoutHexNumberStores99", "3=7,0A0B0C010203,slot",
                     S7("0A0B0C010203", 99)},
        AcceptedCase{"SlotIsHexadecimal", "3=7,0A0B0C010203,10", S7("0A0B0C010203", 16)},
        AcceptedCase{"SlotLowerCase", "3=7,0A0B0C010203,ff", S7("0A0B0C010203", 255)},
        AcceptedCase{"SlotAfterBlanks", "3=7,0A0B0C010203,  A", S7("0A0B0C010203", 10)},
        AcceptedCase{"SlotStopsAtTheFirstNonHexDigit", "3=7,0A0B0C010203,1x2",
                     S7("0A0B0C010203", 1)},
        AcceptedCase{"SlotWithHexPrefix", "3=7,0A0B0C010203,0x1A", S7("0A0B0C010203", 26)},
        AcceptedCase{"TextAfterTheTypeIsIgnored", "3=7xyz,0A0B0C010203,2", S7("0A0B0C010203", 2)},
        AcceptedCase{"AddressInLowerCase", "3=7,0a0b0c0102ff,2", S7("0a0b0c0102ff", 2)},
        // S5 lines: defaults for what is left out, blanks kept after the second comma.
        AcceptedCase{"S5Defaults", "3=5,0A0B0C010203", S5("0A0B0C010203")},
        AcceptedCase{"S5BlankBeforeLocalTsap", "3=5,0A0B0C010203, TSAPLOC1,TSAPRD01",
                     S5("0A0B0C010203", " TSAPLOC", "TSAPRD01")},
        AcceptedCase{"S5EmptyLocalTsap", "3=5,0A0B0C010203,", S5("0A0B0C010203", "")},
        AcceptedCase{"S5WriteTsapTakesTheRestWithItsCommas", "3=5,0A0B0C010203,L,R,W1,W2,W3",
                     S5("0A0B0C010203", "L", "R", "W1,W2,W3")},
        AcceptedCase{"S5TsapLongerThanItsFieldIsCut",
                     "3=5,0A0B0C010203,LOCAL TSAP THAT IS FAR TOO LONG FOR ITS FIELD,R,W",
                     S5("0A0B0C010203", "LOCAL TS", "R", "W")},
        AcceptedCase{"S5CommentAfterTsaps", "3=5,0A0B0C010203,L5,R5 ; rack 2, hall 1",
                     S5("0A0B0C010203", "L5", "R5 ")},
        // Type 6 has the S5 fields without S5 defaults and keeps the slot.
        AcceptedCase{"Type6WithoutTsaps", "3=6,0A0B0C010203",
                     EntryText{6, "0A0B0C010203", "\x01\x01", "\x03\x02", "", 2}},
        AcceptedCase{"Type6WithTsaps", "3=6,0A0B0C010203,L6,R6,W6",
                     EntryText{6, "0A0B0C010203", "L6", "R6", "W6", 2}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(StationFileTest, StationsOneAndNinetyEightAreTheEnds) {
  ASSERT_TRUE(Read("1=7,0A0B0C010201,2\n98=7,0A0B0C010298,2\n"));
  EXPECT_EQ(Entry(1), S7("0A0B0C010201", 2));
  EXPECT_EQ(Entry(98), S7("0A0B0C010298", 2));
}

// Lines that are rejected: the message, and what the line left in station 4.
struct RejectedCase {
  const char* name;
  const char* line;
  const char* format;
  EntryText entry;
};

void PrintTo(const RejectedCase& c, std::ostream* os) {
  *os << c.line;
}

class RejectedLineTest : public StationFileTest,
                         public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(RejectedLineTest, LogsTheFilteredLineAndKeepsWhatWasStored) {
  const RejectedCase& c = GetParam();
  EXPECT_FALSE(Read(std::string(c.line) + "; comment\n")) << "the only line counts for nothing";

  // The message shows the line without its comment.
  const std::string shown = c.line;
  ASSERT_EQ(fake::LogLines().size(), 1u);
  EXPECT_EQ(fake::LogLines()[0].level, 32);
  EXPECT_EQ(fake::LogLines()[0].format, c.format);
  EXPECT_EQ(fake::LogLines()[0].text, std::string(c.format, std::strlen(c.format) - 2) + shown);
  EXPECT_EQ(Entry(4), c.entry);
  ExpectOthersUntouched({4});
}

constexpr const char* kIllegalLine = "TavSH1: Illegal input line %s";
constexpr const char* kIllegalType = "TavSH1: Illegal PlcType at line %s";
constexpr const char* kIllegalSlot = "TavSH1: Illegal Slot # %s";

INSTANTIATE_TEST_SUITE_P(
    Lines, RejectedLineTest,
    ::testing::Values(
        RejectedCase{"EmptyLine", "", kIllegalLine, kResetEntry},
        RejectedCase{"Station0", "0=7,0A0B0C010203,2", kIllegalLine, kResetEntry},
        RejectedCase{"Station99", "99=7,0A0B0C010203,2", kIllegalLine, kResetEntry},
        RejectedCase{"NegativeStation", "-4=7,0A0B0C010203,2", kIllegalLine, kResetEntry},
        RejectedCase{"HugeStation", "4294967300=7,0A0B0C010203,2", kIllegalLine, kResetEntry},
        RejectedCase{"NoStationNumber", "x4=7,0A0B0C010203,2", kIllegalLine, kResetEntry},
        RejectedCase{"Type8", "4=8,0A0B0C010203", kIllegalType, kResetEntry},
        RejectedCase{"NoEqualsSign", "4,0A0B0C010203", kIllegalType, kResetEntry},
        // From here on the type, and the S5 defaults, stay stored.
        RejectedCase{"Type6WithoutComma", "4=6", kIllegalLine,
                     EntryText{6, "", "\x01\x01", "\x03\x02", "", 2}},
        RejectedCase{"Type5WithoutComma", "4=5", kIllegalLine, S5("")},
        RejectedCase{"AddressLongerThanItsField", "4=7,0A0B0C010203ABCD,2", kIllegalLine,
                     kResetEntry},
        RejectedCase{"S5AddressLongerThanItsField", "4=5,0A0B0C010203ABCD", kIllegalLine, S5("")},
        // Anything but 12 hex digits would dial another station: nothing of it is stored.
        RejectedCase{"AddressOfFifteenCharacters", "4=7,0A0B0C010203ABC,2", kIllegalLine,
                     kResetEntry},
        RejectedCase{"AddressOfThirteenDigits", "4=7,0A0B0C0102031", kIllegalLine, kResetEntry},
        RejectedCase{"AddressOfTenDigits", "4=7,0A0B0C0102,2", kIllegalLine, kResetEntry},
        RejectedCase{"AddressWithALetterBeyondF", "4=6,0A0B0C01020G", kIllegalLine,
                     EntryText{6, "", "\x01\x01", "\x03\x02", "", 2}},
        RejectedCase{"EmptyAddressBeforeASlot", "4=7,,2", kIllegalLine, kResetEntry},
        RejectedCase{"EmptyS5Address", "4=5,", kIllegalLine, S5("")},
        // A slot out of range leaves type and address, and the slot as it was.
        RejectedCase{"Slot256", "4=7,0A0B0C010203,100", kIllegalSlot, S7("0A0B0C010203", 2)},
        RejectedCase{"Slot0", "4=7,0A0B0C010203,0", kIllegalSlot, S7("0A0B0C010203", 2)},
        RejectedCase{"NegativeSlot", "4=7,0A0B0C010203,-1", kIllegalSlot, S7("0A0B0C010203", 2)},
        RejectedCase{"HugeSlot", "4=7,0A0B0C010203,FFFFFFFFFFFF", kIllegalSlot,
                     S7("0A0B0C010203", 2)}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(StationFileTest, CommentOnlyLineIsAnIllegalLineWithEmptyText) {
  EXPECT_FALSE(Read("; hall 2\n"));
  EXPECT_EQ(fake::LogTexts(), std::vector<std::string>{"TavSH1: Illegal input line "});
}

TEST_F(StationFileTest, RejectedSlotKeepsTheSlotAnEarlierLineSet) {
  EXPECT_TRUE(Read("4=7,0A0B0C010203,5\n4=7,0A0B0C010204,100\n"));
  EXPECT_EQ(Entry(4), S7("0A0B0C010204", 5));
}

TEST_F(StationFileTest, RejectedAddressKeepsTheAddressAnEarlierLineSet) {
  EXPECT_TRUE(Read("4=7,0A0B0C010203,5\n4=7,0A0B0C0102,6\n4=7,,7\n"));
  EXPECT_EQ(Entry(4), S7("0A0B0C010203", 5));
  EXPECT_EQ(fake::LogTexts().back(), "TavSH1: Illegal input line 4=7,,7");
}

TEST_F(StationFileTest, OverLongLineIsCutAndStillConfiguresItsStation) {
  const std::string comment(300, 'c');
  EXPECT_TRUE(Read("3=5,0A0B0C010203,L3," + std::string(150, 'R') +
                   "\n"
                   "4=7,0A0B0C010204,2 ;" +
                   comment +
                   "\n"
                   "5=7,0A0B0C010205,3\n"));
  EXPECT_EQ(Entry(3), S5("0A0B0C010203", "L3", "RRRRRRRR"));
  EXPECT_EQ(Entry(4), S7("0A0B0C010204", 2));
  EXPECT_EQ(Entry(5), S7("0A0B0C010205", 3));
}

// ---------------------------------------------------------------------------------------------
// The file's name

struct FileNameCase {
  int driverNumber;
  const char* fileName;
};

class StationFileNameTest : public StationFileTest,
                            public ::testing::WithParamInterface<FileNameCase> {};

TEST_P(StationFileNameTest, ReadsTheFileNamedAfterTheDriverNumber) {
  directory_.Write(GetParam().fileName, "1=7,0A0B0C010203,2\n");
  EXPECT_TRUE(ReadStationFile(instance(), GetParam().driverNumber));
  EXPECT_EQ(Entry(1), S7("0A0B0C010203", 2));
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, StationFileNameTest,
    ::testing::Values(FileNameCase{0, "tavSH100.int"}, FileNameCase{3, "tavSH103.int"},
                      FileNameCase{12, "tavSH112.int"}, FileNameCase{123, "tavSH1123.int"},
                      FileNameCase{99999, "tavSH199999.int"}, FileNameCase{-5, "tavSH1-05.int"},
                      FileNameCase{-9999, "tavSH1-9999.int"}));

TEST_F(StationFileTest, MissingFileIsLoggedWithItsName) {
  EXPECT_FALSE(ReadStationFile(instance(), 7));
  ASSERT_EQ(fake::LogLines().size(), 1u);
  EXPECT_EQ(fake::LogLines()[0].format, "TavSH1 : File %s not found !");
  EXPECT_EQ(fake::LogLines()[0].text, "TavSH1 : File tavSH107.int not found !");
  EXPECT_EQ(fake::LogLines()[0].level, 32);
  ExpectOthersUntouched({});
}

TEST_F(StationFileTest, FolderOfTheFilesNameIsNotFound) {
  std::filesystem::create_directory("tavSH103.int");
  EXPECT_FALSE(ReadStationFile(instance(), 3));
  EXPECT_EQ(fake::LogTexts(), std::vector<std::string>{"TavSH1 : File tavSH103.int not found !"});
}

// A file of exactly the limit is read whole; one byte more, or a name that leads to a device
// streaming bytes without end, stops the reading at the limit and fails it.
TEST_F(StationFileTest, ReadingStopsAtTheByteLimit) {
  const std::string station = "5=7,0A0B0C010205,2\n";
  const std::string filler(kStationFileByteLimit - station.size() - 4, 'c');
  const std::string full = ";" + filler + "\n" + station + ";\n";
  ASSERT_EQ(full.size(), kStationFileByteLimit);
  EXPECT_TRUE(Read(full));
  EXPECT_EQ(Entry(5), S7("0A0B0C010205", 2));

  const std::string exceeded = "File tavSH103.int exceeds 65536 bytes, reading stopped";
  fake::ClearLog();
  EXPECT_FALSE(Read(full + "\n"));
  EXPECT_EQ(fake::LogTexts().back(), "TavSH1: " + exceeded);

  // The station file as a name of /dev/zero, a device that streams bytes without end.
#ifdef TAV_ENDLESS_FILE_FOLDER
  std::filesystem::current_path(TAV_ENDLESS_FILE_FOLDER);  // made so by the build machine
#else
  std::filesystem::remove("tavSH103.int");
  std::filesystem::create_symlink("/dev/zero", "tavSH103.int");
#endif
  fake::ClearLog();
  EXPECT_FALSE(ReadStationFile(instance(), 3));
  EXPECT_EQ(fake::LogTexts(), std::vector<std::string>{"TavSH1: " + exceeded});
  std::filesystem::current_path(directory_.path());
}

TEST_F(StationFileTest, NameLongerThanFifteenCharactersIsNeverOpened) {
  for (const FileNameCase c :
       {FileNameCase{100000, "tavSH1100000.int"}, FileNameCase{-10000, "tavSH1-10000.int"},
        FileNameCase{INT_MAX, "tavSH12147483647.int"},
        FileNameCase{INT_MIN, "tavSH1-2147483648.int"}}) {
    SCOPED_TRACE(c.driverNumber);
    fake::ClearLog();
    directory_.Write(c.fileName, "1=7,0A0B0C010203,2\n");
    EXPECT_FALSE(ReadStationFile(instance(), c.driverNumber));
    EXPECT_EQ(fake::LogTexts(), std::vector<std::string>{"TavSH1 : File " +
                                                         std::string(c.fileName) + " not found !"});
  }
  ExpectOthersUntouched({});
}

}  // namespace
}  // namespace tav
