// tavhost in words: what a station's status word means, messages that name the real fault, the
// command line's checks and suggestions, the serial channel's bounds and the value views. One
// table of command lines with what each must answer, and must not.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/tavhost_process.h"

namespace {

namespace fs = std::filesystem;
using tav::testing::Outcome;
using tav::testing::RunTavhost;

// A fresh folder: {tmp} in a row's arguments.
class Folder {
 public:
  Folder() {
    std::string pattern = (fs::temp_directory_path() / "tavhost-words-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    std::ofstream(path_ / "tavSH109.int") << "this line names no station\n";
    // A file that is there but cannot be read, whoever runs the test: a symbolic link to itself.
    fs::create_symlink(path_ / "tavSH107.int", path_ / "tavSH107.int");
    fs::create_symlink(path_ / "loop.map", path_ / "loop.map");
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string Expand(std::string text) const {
    for (size_t at = text.find("{tmp}"); at != std::string::npos; at = text.find("{tmp}")) {
      text.replace(at, 5, path_.string());
    }
    return text;
  }

 private:
  fs::path path_;
};

struct Case {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::vector<std::string> out = {};     // fragments of standard output
  std::vector<std::string> err = {};     // fragments of standard error
  std::vector<std::string> absent = {};  // fragments neither may hold
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const Case kCases[] = {
    // A station's status word in words; JSON carries it.
    {"ReadOfAMissingDataBlock",
     {"read", "01DW0990000"},
     1,
     {},
     {"read failed with 1: the station answered: no such data block or area at the station"}},
    {"ReadPastTheEndOfABlock",
     {"read", "01DW0200100"},
     1,
     {},
     {"the station answered: address out of range"}},
    {"S5ReadOfAMissingBlockAsJson",
     {"--json", "read", "03DW0990000"},
     1,
     {R"("result":1,"h1Result":0,"statusWord":1,"error":)"}},
    {"WriteToAMissingBlock",
     {"write", "03DW0990000", "1"},
     1,
     {},
     {"write failed with 1: the station answered: no such data block"}},
    // Messages that name the fault.
    {"WriteToASwitchedOffStation",
     {"write", "08DW0100000", "5"},
     1,
     {},
     {"write failed with 1: no connection to the station"}},
    {"InitOfAFileWithoutStations",
     {"init", "--station-file", "{tmp}/tavSH109.int"},
     1,
     {},
     {"tavhost init: {tmp}/tavSH109.int: initialisation failed with 2: the file configures no "
      "station"}},
    {"UnreadableStationFile",
     {"read", "01DW0100000", "--station-file", "{tmp}/tavSH107.int"},
     2,
     {},
     {"cannot read {tmp}/tavSH107.int: too many levels of symbolic links"},
     {"no such file"}},
    {"UnreadableStationMap",
     {"--tcp-map", "{tmp}/loop.map", "init"},
     2,
     {},
     {"cannot read {tmp}/loop.map: too many levels of symbolic links"}},
    {"MissingStationMap",
     {"--tcp-map", "{tmp}/none.map", "init"},
     2,
     {},
     {"none.map: no such file"}},
    // The command line.
    {"MisspeltCommand", {"raed", "01DW0100000"}, 2, {}, {"did you mean 'read'?"}},
    {"FarFromEveryCommand", {"frobnicate"}, 2, {}, {}, {"did you mean"}},
    {"Version",
     {"--version"},
     0,
     {"tavhost 8.20\n", "driver: TavSH1: Siemens Ethernet driver,Version 8.20 compiled on "}},
    {"UnknownHostDataType",
     {"read", "--type", "9", "01DW0100000"},
     2,
     {},
     {"'9' is no host data type; --type takes 0 (", "7 (string)"}},
    // The serial channel's bounds.
    {"SerialTimeoutBeyond32BitMilliseconds",
     {"serial", "config", "--port", "NUL", "--timeout", "214748365"},
     2,
     {},
     {"214748365: the read time-out counts 10 ms units from 0 to 214748364"},
     {"-10 ms", "runtime error"}},
    {"SerialNegativeTimeout",
     {"serial", "config", "--port", "NUL", "--timeout", "-1"},
     2,
     {},
     {"-1: the read time-out counts 10 ms units from 0 to 214748364"}},
    {"SerialOneAndAHalfStopBitsWith8DataBits",
     {"serial", "open", "--port", "NUL", "--stop-bits", "1.5"},
     2,
     {},
     {"tavhost serial open: --stop-bits 1.5 goes with 5 data bits only, not 8"}},
    // Value views.
    {"ReadAWordInDecimal", {"read", "--format", "decimal", "03DW0100000"}, 0, {": 4660\n"}},
    {"ReadAWordInBinary",
     {"read", "--format", "binary", "03DW0100000"},
     0,
     {": 0b0001001000110100\n"}},
    {"WriteWordsSigned",
     {"write", "--format", "signed", "01DW0100100", "-2", "0x7FFF"},
     0,
     {": -2 32767\n"}},
    {"WriteAByteSignedAndUnsigned",
     {"write", "--format", "signed", "01MB0040", "0xFF"},
     0,
     {": -1\n"}},
    {"ReadADoubleWordInDecimal", {"read", "--format", "decimal", "01DD0100002"}, 0, {": 123456\n"}},
    {"FloatsShowWhatTheSingleHolds", {"write", "01DF0100100", "3.14159265"}, 0, {": 3.1415927\n"}},
    {"FloatsWithFixedDecimals", {"read", "--precision", "3", "01DF0100010"}, 0, {": 21.500\n"}},
    {"FormatTakesOnlyItsViews",
     {"read", "--format", "octal", "01DW0100000"},
     2,
     {},
     {"'octal': --format takes hex, decimal, signed or binary"}},
    // watch: CSV with time stamps, and only what changed.
    {"WatchAsCsv",
     {"watch", "--csv", "--count", "2", "--interval", "0", "01DF0100010", "08DW0100000"},
     1,
     {"time,cycle,address,value,result,failures\n", ",2,01DF0100010,21.5,0,0\n",
      ",2,08DW0100000,,2,1\n"}},
    {"WatchOnlyChanges",
     {"watch", "--changes-only", "--count", "3", "--interval", "0", "01DF0100010"},
     0,
     {"cycle 1 01DF0100010 21.5 result 0"},
     {},
     {"cycle 2 ", "cycle 3 "}},
};

std::string Named(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

class TavhostWords : public testing::TestWithParam<Case> {};

TEST_P(TavhostWords, AnswersAsTheTableSays) {
  const Case& c = GetParam();
  const Folder folder;
  std::vector<std::string> args;
  for (const std::string& arg : c.args) args.push_back(folder.Expand(arg));
  const Outcome run = RunTavhost(args);
  EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
  for (const std::string& fragment : c.out) {
    EXPECT_NE(run.out.find(folder.Expand(fragment)), std::string::npos) << run.out;
  }
  for (const std::string& fragment : c.err) {
    EXPECT_NE(run.err.find(folder.Expand(fragment)), std::string::npos) << run.err;
  }
  for (const std::string& fragment : c.absent) {
    EXPECT_EQ((run.out + run.err).find(fragment), std::string::npos) << run.out << run.err;
  }
}

INSTANTIATE_TEST_SUITE_P(CommandLines, TavhostWords, testing::ValuesIn(kCases), Named);

}  // namespace
