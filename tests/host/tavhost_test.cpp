// tavhost as its users run it: a separate process, its exit code, standard output and standard
// error. One table of command lines with what each must answer; the README's address reference
// checked against tavhost's rules and the driver; and tavhost's rules checked against the driver
// over a few thousand addresses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/command_line_case.h"
#include "host/tavhost_process.h"
#include "support/pseudo_terminal.h"

namespace {

namespace fs = std::filesystem;
using tav::testing::Outcome;
using tav::testing::PseudoTerminal;
using tav::testing::RunOptions;
using tav::testing::RunTavhost;

// Files the command lines name: {tmp} is a fresh folder holding them, {examples} the examples.
class Files {
 public:
  Files() {
    std::string pattern = (fs::temp_directory_path() / "tavhost-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    const fs::path examples = TAV_EXAMPLES_DIR;
    fs::copy_file(examples / "tavSH101.int", folder_ / "tavSH1-05.int");
    Write("tavSH109.int", "this line names no station\n");
    // Files that are there but cannot be read, whoever runs the test: symbolic links to
    // themselves.
    fs::create_symlink(folder_ / "tavSH106.int", folder_ / "tavSH106.int");
    fs::create_symlink(folder_ / "loop.map", folder_ / "loop.map");
    Write("broken.toml", "[[station]]\naddress = \"0A0B0C010201\"\ntype = 8\n");
    // Not TOML, and found so by one of the parser's own checks.
    Write("check.toml", "[#\n");
    Write("broken.map", "; where the stations are\n0A0B0C010201 = 127.0.0.1:1, s9\n");
    // Station maps for the example stations: 1 is an S7 station, 3 an S5 station, 5 type 6.
    Write("words.map", "; station 1 is an S7 station\n0A0B0C010201 = 127.0.0.1:1, s7-words\n");
    Write("s7.map", "0A0B0C010203 = 127.0.0.1:1, s7\n");
    Write("s5.map", "0A0B0C010201 = 127.0.0.1:1, s7\n0a0b0c010205 = 127.0.0.1:1, s5-iso\n");
    Write("fits.map",
          "0A0B0C010201 = 127.0.0.1:1, s7\n0A0B0C010203 = 127.0.0.1:1, s5-tcp\n"
          "0A0B0C010205 = 127.0.0.1:1, s7-words\n");
    Write("one.map", "0A0B0C010201 = 127.0.0.1:1, s7\n");
    // An H1 library that does not open.
    Write("closed.toml", "[network]\nopen_driver_result = 13\n");
    // Its own first line skipped, the map routes station 1 with s5-tcp.
    Write("s5tcp.map", "0A0B0C010201 = 127.0.0.1:x, s7\n0A0B0C010201 = 127.0.0.1:1, s5-tcp\n");
    // Station 1 made type 6 by a later line, in CR-LF with a comment between.
    Write("tavSH111.int",
          "1=7,0A0B0C010201,2\r\n; now a type-6 station\r\n 1 = 6 ,0A0B0C010201\r\n");
    std::string huge = "[[station]]\naddress = \"0A0B0C010201\"\ntype = 5\n";
    for (int n = 0; n < 600; ++n) {
      huge += "[[station.db]]\nnumber = " + std::to_string(n) + "\nsize = 65536\n";
    }
    Write("huge.toml", huge);
    // The example network with the preset temperature of station 1 at 99.5.
    std::ifstream in(examples / "tavSH101.toml");
    std::stringstream text;
    text << in.rdbuf();
    Write("relative.toml",
          std::regex_replace(text.str(), std::regex("float = 21.5"), "float = 99.5"));
  }
  ~Files() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  const fs::path& folder() const { return folder_; }

  std::string Expand(std::string text, const std::string& pty) const {
    const std::pair<std::string, std::string> names[] = {
        {"{tmp}", folder_.string()}, {"{examples}", TAV_EXAMPLES_DIR}, {"{pty}", pty}};
    for (const auto& [name, value] : names) {
      for (size_t at = text.find(name); at != std::string::npos; at = text.find(name)) {
        text.replace(at, name.size(), value);
      }
    }
    return text;
  }

 private:
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name) << text;
  }
  fs::path folder_;
};

using Case = tav::testing::CommandLineCase;

std::string Named(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

const Case kCases[] = {
    // check: a valid address explained, refusals placed, the driver's log line kept.
    {"CheckExplainsAValidAddress",
     {"check", "01DF0100010"},
     0,
     {"01DF0100010  valid", "float off its boundary at byte 10", "AreaTypeCode   0x0066",
      "packed address 0x000A0002: stored offset 2, block 10", "at most 2500 elements"}},
    {"CheckPlacesTheRuleARefusedAddressBreaks",
     {"check", "99DW0100100", "01DW001000", "03DB0100012"},
     1,
     {"99DW0100100  refused", "positions 0-1: station 99: the station table holds stations 1 to 98",
      "position 10: found a blank; the offset has four digits",
      "position 3: S5 data blocks hold words"}},
    {"CheckShowsAFamiliarAddressTranslated",
     {"check", "DB10.DBX4.3", "05:mw2"},
     0,
     {"DB10.DBX4.3  valid\n  13 characters  01DB010000403", "bit 3",
      "05:mw2  valid\n  13 characters  05MW0002"}},
    {"ReadAndWriteTakeFamiliarAddresses",
     {"write", "--type", "float", "DB10.DBD8", "1.5"},
     0,
     {"DB10.DBD8: 1.5"}},
    {"CheckRefusesAFamiliarFormWithoutEquivalent",
     {"check", "MD4", "03:DB10.DBW4"},
     1,
     {},
     {"MD4: the inputs, outputs and flags have bytes and words only",
      "03:DB10.DBW4: the station's data blocks count words"}},
    {"CheckKeepsTheDriversLogLine",
     {"check", "01XW0010000"},
     1,
     {"station 01 is an S7 station: extended data blocks (X)"},
     {"[log  0] TavSH1: S7 PLC does not support Block type X"}},
    {"CheckNamesCommand4sOwnRefusal",
     {"check", "--count", "1001", "01DW0010004"},
     1,
     {"01DW0010004  valid", "command 4      result 1, element count 1001: 1001 elements"}},
    {"CheckAsJson",
     {"--json", "check", "03XD0100003"},
     0,
     {R"("areaTypeCode":"0x5864")", R"("packedAddress":"0x000A0001")", R"("agrees":true)"}},
    {"CheckRefusesALongAddress",
     {"check", "01DW0010004XYZ"},
     2,
     {},
     {"at most 13 characters, not 14", "\"01DW0010004XY\""}},
    // watch: plain lines off a terminal, JSON documents, a summary; Ctrl-C ends it cleanly.
    {"WatchPollsForCountCycles",
     {"watch", "--count", "3", "--interval", "10", "01DF0100010", "08DW0100000"},
     1,
     // The switched-off station is read once, found down and then left alone until its first
     // reconnect, half a second later.
     {"cycle 3 01DF0100010 21.5 result 0 failures 0 station up",
      "cycle 3 08DW0100000 - result 2 failures 1 station down",
      "watch done: 3 cycles, 4 requests"}},
    // A second tag of a station found down is not read, and shows what a read would give.
    {"WatchLeavesTheOtherTagsOfAStationThatIsDown",
     {"watch", "--count", "1", "08DW0100000", "08DW0100002"},
     1,
     {"cycle 1 08DW0100000 - result 2 failures 1 station down",
      "cycle 1 08DW0100002 - result 2 failures 0 station down", "1 requests"}},
    {"WatchAsJson",
     {"--json", "watch", "--count", "2", "--interval", "0", "01DW010000003"},
     0,
     {R"("cycle":2,"address":"01DW010000003","kind":"bit","result":0,"changed":false)",
      R"("values":[false])", R"("summary":{"cycles":2,"requests":2,"failures":0)"}},
    {"WatchEndsAtCtrlC",
     {"watch", "--interval", "20", "01DF0100010"},
     0,
     {"cycle 1 01DF0100010 21.5", "watch interrupted: "},
     {},
     "",
     "cycle 1 "},
    // read and write as JSON: values typed as the tag's kind.
    {"ReadAsJson",
     {"--json", "read", "01DF0100010"},
     0,
     {R"("command":"read","address":"01DF0100010","kind":"float","count":1,"result":0,)"
      R"("values":[21.5])"}},
    {"ReadOnlyTheResultGoesToStandardOutput",
     {"read", "03DW0100000"},
     0,
     {"03DW0100000: 0x1234\n"}},
    {"WriteAStringAsJson",
     {"--json", "write", "03SB010010610", "HELLO S5 !"},
     0,
     {R"("written":["HELLO S5 !"],"result":0,"readBackResult":0,"values":["HELLO S5 !"])"}},
    {"WriteABitAsJsonWithTheFlagLast",
     {"write", "01DW010000003", "1", "--json"},
     0,
     {R"("kind":"bit")", R"("values":[true])"}},
    {"ReadFailureAsJson",
     {"--json", "read", "08DW0100000"},
     1,
     {R"("result":2,"error":"08DW0100000: read failed with 2: no connection)"},
     {"tavhost read: 08DW0100000: read failed with 2"}},
    // Bad input: one line naming what is wrong, and a non-zero exit code.
    {"ReadExplainsARefusedAddress",
     {"read", "99DW0100100"},
     1,
     {},
     {"tavhost read: 99DW0100100: the driver refuses the address (result 1): positions 0-1: "
      "station 99"}},
    {"ReadRefusesANegativeCount",
     {"read", "--count", "-1", "01DW0100100"},
     2,
     {},
     {"-1 elements: a transfer moves at least one"}},
    {"ReadRefusesCountZero", {"read", "--count", "0", "01DW0100100"}, 2, {}, {"0 elements"}},
    {"ReadRefusesAHugeCountBeforeAllocating",
     {"read", "--count", "2147483647", "01DW0100100"},
     2,
     {},
     {"2147483647 elements: a transfer of 01DW0100100 moves at most 5000"}},
    {"ReadCountsS7BytesAgainstTheBuffer",
     {"read", "--count", "10001", "01DB0100000"},
     2,
     {},
     {"moves at most 10000"}},
    {"ReadCountsType6BytesAsWords",
     {"read", "--count", "5001", "05DB0100000"},
     2,
     {},
     {"moves at most 5000"}},
    {"ReadRefusesACountForABit",
     {"read", "--count", "2", "01DW010000003"},
     2,
     {},
     {"01DW010000003 is a bit tag: it has one element, not 2"}},
    {"ReadRefusesALongAddress",
     {"read", "01DW01001001234"},
     2,
     {},
     {"an address has at most 13 characters, not 15"}},
    {"WriteRefusesAValueOutsideTheWord",
     {"write", "01DW0100100", "70000"},
     2,
     {},
     {"'70000' is not an integer from -32768 to 65535"}},
    {"WriteRefusesATextLongerThanTheString",
     {"write", "01SB010002005", "TOOLONG"},
     2,
     {},
     {"'TOOLONG' has 7 characters; the string tag holds 5"}},
    {"WriteRefusesAFloatOutOfRange",
     {"write", "01DF0100100", "1e40"},
     2,
     {},
     {"'1e40' is beyond the range of a float"}},
    // Every kind refuses what it cannot hold, bytes (held in 16-bit host elements) included.
    {"WriteRefusesADataBlockByteAbove255",
     {"write", "01DB0100100", "256"},
     2,
     {},
     {"'256' is not an integer from -128 to 255"}},
    {"WriteRefusesAHexByteAbove0xFF", {"write", "01DB0100100", "0x1FF"}, 2, {}, {"'0x1FF' is not"}},
    {"WriteRefusesAnOutputByteAbove255", {"write", "01QB0005", "300"}, 2, {}, {"'300' is not"}},
    {"WriteRefusesAType6ByteAbove255", {"write", "05DB0100001", "300"}, 2, {}, {"'300' is not"}},
    {"WriteRefusesAFlagByteBelowMinus128", {"write", "03MB0030", "-129"}, 2, {}, {"'-129' is not"}},
    {"WriteAByteAsJson",
     {"--json", "write", "01DB0100100", "0xFF"},
     0,
     {R"("kind":"byte","count":1,"written":[255],"result":0,"readBackResult":0,"values":[255])"}},
    {"WriteANegativeByteAsItsTwosComplement", {"write", "01MB0040", "-1"}, 0, {"01MB0040: 0xFF\n"}},
    {"ReadAnInputByteAsJson",
     {"--json", "read", "01IB0000"},
     0,
     {R"("kind":"byte","count":1,"result":0,"values":[129])"}},
    {"WriteRefusesADoubleWordAbove32Bits",
     {"write", "01DD0100100", "4294967296"},
     2,
     {},
     {"'4294967296' is not an integer from -2147483648 to 4294967295"}},
    {"WriteRefusesAnIntegerBeyond64Bits",
     {"write", "01DD0100100", "99999999999999999999999"},
     2,
     {},
     {"is not an integer from"}},
    {"WriteRefusesASignAfterTheHexPrefix",
     {"write", "01DW0100100", "0x-5"},
     2,
     {},
     {"'0x-5' is not"}},
    {"WriteRefusesABitOtherThan0Or1",
     {"write", "01DW010000003", "2"},
     2,
     {},
     {"'2' is not an integer from 0 to 1"}},
    {"WriteRefusesNaN", {"write", "01DF0100100", "nan"}, 2, {}, {"'nan' is not a number"}},
    {"WriteRefusesInfinity", {"write", "01DF0100100", "inf"}, 2, {}, {"not a finite number"}},
    {"WriteRefusesAFloatThatWouldBecome0",
     {"write", "01DF0100100", "1e-50"},
     2,
     {},
     {"'1e-50' is too small for a float: it would be stored as 0"}},
    {"WriteRefusesAFloatBeyondTheS5Range",
     {"write", "03DF0100100", "2e38"},
     2,
     {},
     {"'2e38' is beyond the range of an S5 float"}},
    {"WriteRefusesAFloatBelowTheS5Range",
     {"write", "05DF0100100", "1e-39"},
     2,
     {},
     {"'1e-39' is too small for an S5 float"}},
    {"WriteTakesOnAnS7StationWhatS5Refuses", {"write", "01DF0100100", "2e38"}, 0, {": 2e+38\n"}},
    {"WriteRefusesTheCharacterAnOddStringLeavesBehind",
     {"write", "01SB010002005", "HELLO"},
     2,
     {},
     {"'HELLO' has 5 characters; the string tag holds 5, and 4 of them travel"}},
    {"WriteShowsTheCharactersAnOddStringMoves",
     {"--json", "write", "01SB010002005", "HELL"},
     0,
     {R"("written":["HELL"],"result":0,"readBackResult":0,"values":["HELL"])"}},
    {"WriteRefusesAStringBeyondAscii",
     {"write", "01SB010002010", "\xC3\x84RGER"},
     2,
     {},
     {"printable ASCII characters only, not byte 0xC3"}},
    // A valid address whose bit the transfers refuse: check says both, read and write say why.
    {"CheckSaysAByteBitBeyond7IsRefusedWhenRead",
     {"check", "01MB001015", "01QB000507"},
     1,
     {"01MB001015  valid as an address, refused when read or written",
      "commands 5, 7  refused (result 1): bit 15 lies beyond the byte", "01QB000507  valid\n"}},
    {"CheckAsJsonSaysWhetherTheTransferTakesTheTag",
     {"--json", "check", "01IB000408", "01IB000407"},
     1,
     {R"("transfer":{"accepted":false,"reason":"bit 8 lies beyond the byte)",
      R"("transfer":{"accepted":true})"}},
    {"ReadSaysWhyTheDriverRefusesAByteBit",
     {"read", "01MB001015"},
     1,
     {},
     {"read failed with 1: the driver refused the transfer: bit 15 lies beyond the byte"}},
    {"WriteSaysWhyTheDriverRefusesAByteBit",
     {"write", "03MB003012", "1"},
     1,
     {},
     {"write failed with 1: the driver refused the transfer: bit 12 lies beyond the byte"}},
    {"MissingStationFile",
     {"read", "01DF0100010", "--station-file", "{tmp}/tavSH107.int"},
     2,
     {},
     {"tavSH107.int: no such file"}},
    {"StationFileNamedAsTheDriverDoesNot",
     {"read", "01DF0100010", "--station-file", "{tmp}/tavSH1-5.int"},
     2,
     {},
     {"the driver number -5 names the file tavSH1-05.int"}},
    {"StationFileOfANegativeDriverNumber",
     {"read", "01DF0100010", "--station-file", "{tmp}/tavSH1-05.int"},
     0,
     {"01DF0100010: 21.5"}},
    {"StationFileNameTooLongForTheDriver",
     {"init", "--station-file", "{tmp}/tavSH1100000.int"},
     2,
     {},
     {"longer than 15 characters"}},
    {"BrokenStationFile",
     {"read", "01DF0100010", "--station-file", "{tmp}/tavSH109.int"},
     1,
     {},
     {"tavSH109.int: initialisation failed with 2"}},
    {"BrokenSimulationFile",
     {"--network", "{tmp}/broken.toml", "read", "01DF0100010"},
     2,
     {},
     {"broken.toml:3:8: type must be an integer from 5 to 7"}},
    {"SimulationFileAskingForTooMuchMemory",
     {"--network", "{tmp}/huge.toml", "info"},
     2,
     {},
     {"the stations' memory would pass 64 MiB"}},
    {"BrokenStationMap",
     {"--tcp-map", "{tmp}/broken.map", "read", "01DF0100010", "--timeout", "1"},
     2,
     {},
     {"tavhost read: ", "broken.map line 2 skipped: "}},
    // A map that never ends is refused at its bound, not read on and on.
    {"StationMapThatNeverEnds",
     {"--tcp-map", "/dev/zero", "read", "01DF0100010", "--timeout", "1"},
     2,
     {},
     {"tavhost: --tcp-map: /dev/zero: not a file"}},
    // A station map line whose protocol cannot serve the station's type stops every command.
    {"StationMapWordsForAnS7Station",
     {"--tcp-map", "{tmp}/words.map", "read", "01DW0100000", "--timeout", "1"},
     2,
     {},
     {"tavhost read: ", "tavSH101.int line 1 makes station 1 an S7 station (type 7), but ",
      "words.map line 2 maps its address 0A0B0C010201 with s7-words, which serves type-6 "
      "stations only"}},
    // --plc: the forms it cannot take, in words, before anything is sent.
    {"QuickTargetIPv6OutOfBrackets", {"--plc", "::1", "read", "01DW0100000"}, 2, {},
     {"tavhost: --plc: an IPv6 address goes in brackets: [::1]"}},
    {"QuickTargetS5WithoutPort", {"--plc", "plc", "--s5", "read", "01DW0100000"}, 2, {},
     {"--plc with --s5 needs the PLC's fetch/write port: HOST:PORT"}},
    {"QuickTargetAndStationFile",
     {"--plc", "127.0.0.1", "read", "01DW0100000", "--station-file", "{examples}/tavSH101.int"}, 2,
     {}, {"--plc writes its own station file: leave out --station-file"}},
    // A station the map leaves out can never come up: the failure says why, not a time-out.
    {"StationAbsentFromTheMap",
     {"--tcp-map", "{tmp}/one.map", "read", "03DW0100000", "--timeout", "1"},
     1,
     {},
     {"station 03 (0A0B0C010203) is not in the station map ", "one.map: libh1tcp cannot reach it"}},
    {"StationMapS7ForAnS5Station",
     {"--tcp-map", "{tmp}/s7.map", "write", "03DW0100000", "1", "--timeout", "1"},
     2,
     {},
     {"tavSH101.int line 3 makes station 3 an S5 station (type 5), but ",
      "s7.map line 1 maps its address 0A0B0C010203 with s7, which serves S7 stations (type 7) "
      "only"}},
    {"StationMapS5ForAType6Station",
     {"--tcp-map", "{tmp}/s5.map", "check", "01DW0100000", "--timeout", "1"},
     2,
     {},
     {"tavSH101.int line 5 makes station 5 a type-6 station, but ",
      "s5.map line 2 maps its address 0A0B0C010205 with s5-iso, which serves S5 stations"}},
    {"StationMapNamesTheLineThatGaveTheType",
     {"--tcp-map", "{tmp}/fits.map", "read", "01DW0100000", "--station-file", "{tmp}/tavSH111.int",
      "--timeout", "1"},
     2,
     {},
     {"tavSH111.int line 3 makes station 1 a type-6 station, but ",
      "fits.map line 1 maps its address 0A0B0C010201 with s7, which serves S7 stations"}},
    {"StationMapThatFitsGoesOnToTheTransfer",
     {"--tcp-map", "{tmp}/fits.map", "watch", "--count", "1", "01DW0100000", "03DW0100000",
      "05DW0100000", "--timeout", "1"},
     1,
     {"cycle 1 01DW0100000 - result 2", "cycle 1 05DW0100000 - result 2"}},
    {"FolderAsSimulationFile", {"--network", "{tmp}", "info"}, 2, {}, {": is a folder"}},
    // An H1 library that did not open: its own line where the command fails, never a time-out.
    {"H1LibraryThatDidNotOpenIsSaid",
     {"--h1-interface", "tavnosuch0", "read", "01DW0100000", "--station-file",
      "{examples}/tavSH101.int"},
     1, {},
     {"tavhost read: H1ETH: network interface 'tavnosuch0' (TAV_H1_INTERFACE) not found\n"}},
    {"SimulatedH1LibraryThatDidNotOpen",
     {"--network", "{tmp}/closed.toml", "watch", "--count", "1", "01DW0100000"}, 1, {},
     {"tavhost watch: the H1 library of the simulated network did not open (result 13)"}},
    {"H1InterfaceNeedsTheStationFileNamed",
     {"--h1-interface", "tavnosuch0", "read", "01DW0100000"}, 2, {},
     {"tavhost read: --h1-interface tavnosuch0 needs the plant's station file"}},
    // A file of each kind that breaks a check of the TOML parser: its one line, never a crash.
    {"SimulationFileThatBreaksTheParser", {"--network", "{tmp}/check.toml", "info"}, 2, {},
     {"tavhost: {tmp}/check.toml: not TOML: the parser cannot go on (its check failed: "}},
    {"BridgeFileThatBreaksTheParser", {"bridge", "{tmp}/check.toml"}, 2, {},
     {"{tmp}/check.toml: not TOML: the parser cannot go on (its check failed: "}},
    // h1eth.conf is left with its one line, and the probe goes on with the defaults.
    {"H1ethConfThatBreaksTheParserIsIgnored",
     {"h1", "probe", "080006010203", "0x0302", "--interface", "lo"}, 1,
     {"station 080006010203 TSAP 0302 did not answer"},
     {"tavhost h1 probe: {tmp}/check.toml not TOML; the file is ignored\n"}, "", "",
     "TAV_H1ETH_CONF={tmp}/check.toml"},
    {"H1ProbeRefusesATsapLongerThanEight",
     {"h1", "probe", "--interface", "tavnosuch0", "080006010203", "KORREAD-X1"}, 2, {},
     {"'KORREAD-X1' is no TSAP: 0x and up to 16 bytes in hexadecimal digits, or up to 8 "}},
    {"RelativeNetworkIsWhereTheUserTypedIt",
     {"--network", "relative.toml", "read", "01DF0100010", "--station-file",
      "{examples}/tavSH101.int"},
     0,
     {"01DF0100010: 99.5"},
     {},
     "{tmp}"},
    {"RelativeDriverIsWhereTheUserTypedIt",
     {"--driver", TAVSH1_LIBRARY_NAME, "read", "01DF0100010", "--station-file",
      "{examples}/tavSH101.int"},
     0,
     {"01DF0100010: 21.5"},
     {},
     "{library}"},
    {"UnknownCommand", {"frobnicate"}, 2, {}, {"tavhost: "}},
    {"MissingAddress", {"read"}, 2, {}, {"tavhost: address is required"}},
    // serial: a port that does not exist, and a pseudo-terminal.
    {"SerialPortThatDoesNotExist",
     {"serial", "open", "--port", "/dev/ttyNOPE"},
     1,
     {},
     {"tavhost serial open: /dev/ttyNOPE: the port did not open (result 2): /dev/ttyNOPE: no "
      "such device"}},
    {"SerialBaudRateBeyondTheField",
     {"serial", "open", "--port", "{pty}", "--baud", "115200"},
     2,
     {},
     {"the driver's baud-rate field holds 1 to 65535"}},
    {"SerialConfigThenClose",
     {"serial", "config", "--port", "{pty}", "--baud", "19200", "--parity", "even", "--dtr", "on",
      "close"},
     0,
     {"serial config: result 0",
      "stored   19200 baud, 8 data bits, even parity, 1 stop bit; DTR on", "device   19200 baud",
      "serial close: result 0\n  port     {pty}, closed"}},
    {"SerialOpenAsJson",
     {"--json", "serial", "open", "--port", "{pty}", "--rts", "handshake"},
     0,
     {R"("command":"serial open","result":0,"port":{"name":"{pty}","open":true,"baudRate":9600)",
      R"("rts":"handshake")", R"("ctsFlowControl":true)"}},
};

class Tavhost : public testing::TestWithParam<Case> {};

TEST_P(Tavhost, AnswersAsTheTableSays) {
  const Case& c = GetParam();
  const Files files;
  const PseudoTerminal pty;
  std::vector<std::string> args;
  for (const std::string& arg : c.args) args.push_back(files.Expand(arg, pty.path()));
  RunOptions options;
  const std::string folder = c.folder;
  if (folder == "{library}") {
    options.folder = fs::path(TAVSH1_LIBRARY_PATH).parent_path();
  } else if (!folder.empty()) {
    options.folder = files.Expand(folder, pty.path());
  }
  options.interruptAfter = c.interruptAfter;
  if (*c.environment != '\0') options.environment = {files.Expand(c.environment, pty.path())};
  if (c.args.front() == "bridge" && !TAVHOST_BRIDGE) GTEST_SKIP() << "tavhost has no bridge here";
  const Outcome run = RunTavhost(args, options);
  if (run.err.find("CAP_NET_RAW is missing") != std::string::npos) {
    GTEST_SKIP() << "tavhost may not send raw Ethernet frames here: " << run.err;
  }
  EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
  for (const std::string& fragment : c.out) {
    EXPECT_NE(run.out.find(files.Expand(fragment, pty.path())), std::string::npos)
        << "standard output lacks: " << fragment << "\n"
        << run.out;
  }
  for (const std::string& fragment : c.err) {
    EXPECT_NE(run.err.find(files.Expand(fragment, pty.path())), std::string::npos)
        << "standard error lacks: " << fragment << "\n"
        << run.err;
  }
  for (const std::string& fragment : c.absent) {
    EXPECT_EQ((run.out + run.err).find(fragment), std::string::npos)
        << "holds: " << fragment << "\n"
        << run.out << run.err;
  }
  // Whatever went wrong, tavhost said so in one line of its own, never with a crash.
  EXPECT_EQ(run.err.find("terminate called"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
  if (c.exitCode != 0 && c.exitCode != 1) {
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.errorLines) << run.err;
  }
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Tavhost, testing::ValuesIn(kCases), Named);
INSTANTIATE_TEST_SUITE_P(Words, Tavhost,
                         testing::ValuesIn(tav::testing::WordCases().begin(),
                                           tav::testing::WordCases().end()),
                         Named);

// --log: the driver's lines, time-stamped, in the file; nothing of them on standard output.
TEST(TavhostLog, GoesToTheFileWithATimeStamp) {
  const Files files;
  const fs::path log = files.folder() / "driver.log";
  const Outcome run = RunTavhost({"--log", log.string(), "read", "01DF0100010"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "01DF0100010: 21.5\n");
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_TRUE(std::regex_search(
      text.str(), std::regex(R"(\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[log 32\] TavSH1: )"
                             R"(Connection Success, Plc #1)")))
      << text.str();
}

// The health check fails when the H1 library did not open, and says why (beside init's log).
TEST(TavhostInit, HealthCheckFailsWhenTheH1LibraryDidNotOpen) {
  const Files files;
  const Outcome run = RunTavhost(
      {"--network", (files.folder() / "closed.toml").string(), "init", "--require-all"});
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_NE(run.err.find("tavhost init: the H1 library did not open: "), std::string::npos)
      << run.err;
}

// init shows the driver's log, then stops at a station map line of another station type, skipped
// lines routing nothing.
TEST(TavhostStationMap, InitStopsAtAProtocolForAnotherType) {
  const Files files;
  const Outcome run =
      RunTavhost({"--tcp-map", (files.folder() / "s5tcp.map").string(), "init", "--timeout", "1"});
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("s5tcp.map line 1 skipped: "), std::string::npos) << run.err;
  EXPECT_TRUE(run.err.ends_with(
      "tavhost init: " TAV_EXAMPLES_DIR
      "/tavSH101.int line 1 makes station 1 an S7 station "
      "(type 7), but " +
      (files.folder() / "s5tcp.map").string() +
      " line 2 maps its address 0A0B0C010201 with s5-tcp, which serves S5 stations (type 5) "
      "only\n"))
      << run.err;
}

// The README's reference table of addresses: each row's verdict and rule, as `check` finds them
// with the driver and tavhost's rules in agreement.
struct ReferenceRow {
  std::string address;
  int hostDataType;
  bool valid;
  std::string rule;
};

std::vector<ReferenceRow> ReadmeReferenceTable() {
  std::ifstream readme(README_PATH);
  std::string line;
  std::vector<ReferenceRow> rows;
  bool inTable = false;
  const std::regex row(R"(^\| `([^`]*)` \| (\d+) \| (valid|refused) \| *([a-z0-9-]*) *\|)");
  while (std::getline(readme, line)) {
    if (line.starts_with("| Address | Host data type | Verdict | Rule |")) {
      inTable = true;
      continue;
    }
    if (!inTable) continue;
    if (!line.starts_with("|")) break;
    std::smatch match;
    if (std::regex_search(line, match, row)) {
      rows.push_back({match[1], std::stoi(match[2]), match[3] == "valid", match[4]});
    }
  }
  return rows;
}

// One check per host data type with all of its rows (the driver's start-up is the slow part), each
// address's document matched to its row.
TEST(TavhostCheck, AgreesWithTheReadmesReferenceTable) {
  const std::vector<ReferenceRow> rows = ReadmeReferenceTable();
  ASSERT_GE(rows.size(), 30u) << "the reference table was not found in " << README_PATH;
  std::map<int, std::vector<const ReferenceRow*>> byType;
  for (const ReferenceRow& row : rows) byType[row.hostDataType].push_back(&row);
  size_t checked = 0;
  for (const auto& [type, typeRows] : byType) {
    std::vector<std::string> args = {"--json", "check", "--type", std::to_string(type)};
    for (const ReferenceRow* row : typeRows) args.push_back(row->address);
    const Outcome run = RunTavhost(args);
    ASSERT_NE(run.exitCode, 3) << run.err;
    std::istringstream documents(run.out);
    std::string line;
    for (const ReferenceRow* row : typeRows) {
      SCOPED_TRACE(row->address);
      ASSERT_TRUE(std::getline(documents, line)) << run.out;
      const auto document = nlohmann::json::parse(line);
      EXPECT_EQ(document["address"], row->address);
      EXPECT_EQ(document["valid"], row->valid);
      EXPECT_EQ(document["agrees"], true);
      if (!row->valid) {
        EXPECT_EQ(document["command3"]["refusal"]["rule"], row->rule);
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, rows.size());
}

// tavhost's rules against the driver's verdicts and outputs over every combination of a few
// values in each part of the address, with every host data type the parser distinguishes and
// with element counts on both sides of command 4's limit: check exits 3 on any difference.
std::vector<std::string> AddressesToCompare() {
  std::vector<std::string> addresses;
  // An S7, an S5 and a type-6 station, one that is not configured, one beyond the table.
  for (const char* station : {"01", "03", "05", "07", "99"}) {
    for (const char* area : {"D", "X", "S"}) {
      for (const char* kind : {"B", "W", "D", "F"}) {
        for (const char* block : {"010", "256"}) {
          for (const char* offset : {"0000", "0009", "0010"}) {
            for (const char* tail : {"", "07", "16", " 5", "81"}) {
              addresses.push_back(std::string(station) + area + kind + block + offset + tail);
            }
          }
        }
      }
    }
    for (const char* area : {"I", "Q", "m"}) {
      for (const char* kind : {"B", "W", "D"}) {
        for (const char* offset : {"0004", "0005", "000"}) {
          for (const char* tail : {"", "03", "16", "7", " 3", "03 1"}) {
            addresses.push_back(std::string(station) + area + kind + offset + tail);
          }
        }
      }
    }
  }
  addresses.push_back("");
  addresses.push_back("01");
  return addresses;
}

TEST(TavhostCheck, RulesAgreeWithTheDriverEverywhere) {
  const std::vector<std::string> addresses = AddressesToCompare();
  const std::pair<const char*, const char*> settings[] = {
      {"0", "1"}, {"3", "1001"}, {"4", "1000"}, {"6", "-1"}, {"7", "1"}};
  for (const auto& [type, count] : settings) {
    std::vector<std::string> args = {"--json", "check", "--type", type, "--count", count};
    args.insert(args.end(), addresses.begin(), addresses.end());
    const Outcome run = RunTavhost(args);
    EXPECT_NE(run.exitCode, 3) << "host data type " << type << ":\n" << run.err;
    std::istringstream documents(run.out);
    std::string line;
    size_t checked = 0;
    size_t valid = 0;
    while (std::getline(documents, line)) {
      const auto document = nlohmann::json::parse(line);
      if (!document.contains("agrees")) continue;
      EXPECT_EQ(document["agrees"], true) << line;
      ++checked;
      if (document["valid"] == true) ++valid;
    }
    EXPECT_EQ(checked, addresses.size());
    // The set reaches both verdicts under every host data type.
    EXPECT_GT(valid, 10u) << type;
    EXPECT_LT(valid, checked / 2) << type;
  }
}

}  // namespace
