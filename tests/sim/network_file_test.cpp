#include "sim/network_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/h1_codes.h"

namespace tav::sim {
namespace {

// One line of a station file, read the simple way: "n=type,address[,field...]" before any ";".
struct StationLine {
  int number;
  int type;
  std::vector<std::string> fields;  // address, then slot or TSAPs
};

std::vector<StationLine> ReadStationLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<StationLine> lines;
  std::string line;
  while (std::getline(file, line)) {
    line = line.substr(0, line.find(';'));
    StationLine station{};
    char equals = 0;
    std::istringstream in(line);
    if (!(in >> station.number >> equals >> station.type)) continue;
    std::string field;
    in.ignore(1);  // the comma after the type
    while (std::getline(in, field, ',')) {
      field.erase(field.find_last_not_of(' ') + 1);
      station.fields.push_back(field);
    }
    lines.push_back(station);
  }
  return lines;
}

TEST(DefaultNetwork, HoldsTheStationsOfTheExampleStationFile) {
  const Network network = DefaultNetwork();
  const std::vector<StationLine> lines = ReadStationLines(TAV_EXAMPLES_DIR "/tavSH101.int");
  ASSERT_EQ(lines.size(), 7u);
  ASSERT_EQ(network.stations().size(), lines.size());

  int unreachable = 0;
  for (const StationLine& line : lines) {
    SCOPED_TRACE(line.number);
    const Station* station = network.Find(ParseEthernetAddress(line.fields.at(0)).value());
    ASSERT_NE(station, nullptr);
    EXPECT_EQ(static_cast<int>(station->type()), line.type);
    if (line.type == 5) {
      const StationConfig& config = station->config();
      EXPECT_EQ(config.ltsap, line.fields.size() > 1 ? line.fields[1] : "KORVAL");
      EXPECT_EQ(config.rtsap, line.fields.size() > 2 ? line.fields[2] : "KORREAD");
      EXPECT_EQ(config.wtsap, line.fields.size() > 3 ? line.fields[3] : "KORWRITE");
    } else {
      // A type-6 line names no slot: the driver connects it with the reset value 2.
      const int slot = line.type == 7 ? std::stoi(line.fields.at(1), nullptr, 16) : 2;
      EXPECT_EQ(station->config().slot, slot);
    }
    if (!station->behaviour().reachable) ++unreachable;
  }
  EXPECT_EQ(unreachable, 2);
}

TEST(DefaultNetwork, IsTheShippedExampleFile) {
  const LoadedNetwork loaded = LoadNetworkFile(TAV_EXAMPLES_DIR "/tavSH101.toml");
  ASSERT_TRUE(loaded.network) << loaded.error;
  std::ifstream file(TAV_EXAMPLES_DIR "/tavSH101.toml");
  std::ostringstream text;
  text << file.rdbuf();
  EXPECT_EQ(DefaultNetworkText(), text.str());
}

constexpr std::string_view kFullDescription = R"(
[network]
open_driver_result = 0

[[station]]
name = "s5"
address = "0a0b0c010203"
type = 5
ltsap = "LOC"
rtsap = "RD"
wtsap = "WR"
reachable = false
polls_before_established = 4
polls_before_response = 5
refuse_result = 6
refuse_status = 7
drop_after_exchanges = 8
inputs = 16
outputs = { size = 32, values = [{ at = 1, bytes = [0xAB] }] }
flags = { size = 8 }

[[station.db]]
number = 10
size = 32
values = [
  { at = 0, word = 0x1234 },
  { at = 1, dwords = [0x11112222, -1] },
  { at = 5, float = 1.0 },
  { at = 7, floats = [0.5, -100] },
  { at = 11, string = "ABC" },
  { at = 13, words = [-1, 2] },
  { at = 15, bytes = [1, 2, 3] },
]

[[station.dx]]
number = 3
size = 4

[[station]]
address = "0A0B0C010201"
type = 7
slot = 0x10

[[station.db]]
number = 1
size = 16
values = [{ at = 0, floats = [1.0, 2.5] }, { at = 8, dword = 0x12345678 }]
)";

TEST(NetworkFile, ReadsEveryKey) {
  const LoadedNetwork loaded = ParseNetwork(kFullDescription, "full.toml");
  ASSERT_TRUE(loaded.network) << loaded.error;
  Network network = *loaded.network;
  ASSERT_EQ(network.stations().size(), 2u);

  const Station& s5 = *network.Find("0A0B0C010203");
  const StationConfig& config = s5.config();
  EXPECT_EQ(config.name, "s5");
  EXPECT_EQ(config.type, StationType::kS5);
  EXPECT_EQ(config.ltsap, "LOC");
  EXPECT_EQ(config.rtsap, "RD");
  EXPECT_EQ(config.wtsap, "WR");
  EXPECT_FALSE(config.behaviour.reachable);
  EXPECT_EQ(config.behaviour.pollsBeforeEstablished, 4);
  EXPECT_EQ(config.behaviour.pollsBeforeResponse, 5);
  EXPECT_EQ(config.behaviour.refuseResult, 6);
  EXPECT_EQ(config.behaviour.refuseStatus, 7);
  EXPECT_EQ(config.behaviour.dropAfterExchanges, 8);
  EXPECT_EQ(s5.Units(Inputs()), 16u);
  EXPECT_EQ(s5.Units(Outputs()), 32u);
  EXPECT_EQ(s5.Units(Flags()), 8u);
  EXPECT_EQ(s5.Bytes(Outputs(), 1, 1), std::vector<uint8_t>{0xAB});
  EXPECT_EQ(s5.Units(ExtendedDataBlock(3)), 4u);

  // S5 data blocks count in words: a double word or float takes two, high word first.
  const AreaRef db = DataBlock(10);
  EXPECT_EQ(s5.Word(db, 0), 0x1234);
  EXPECT_EQ(s5.Word(db, 1), 0x1111);
  EXPECT_EQ(s5.Word(db, 2), 0x2222);
  EXPECT_EQ(s5.DWord(db, 3), 0xFFFF'FFFFu);
  EXPECT_EQ(s5.DWord(db, 5), 0x0140'0000u);  // the S5 float 1.0
  EXPECT_EQ(s5.Float(db, 7), 0.5);
  EXPECT_EQ(s5.Float(db, 9), -100.0);
  EXPECT_EQ(s5.Word(db, 11), 0x4142);  // "AB": the first character in the high byte
  EXPECT_EQ(s5.Text(db, 11, 3), "ABC");
  EXPECT_EQ(s5.Word(db, 13), 0xFFFF);
  EXPECT_EQ(s5.Word(db, 14), 2);
  EXPECT_EQ(s5.Word(db, 15), 0x0102);
  EXPECT_EQ(s5.Word(db, 16), 0x0300);

  const Station& s7 = *network.Find("0A0B0C010201");
  EXPECT_EQ(s7.config().slot, 0x10);
  EXPECT_TRUE(s7.behaviour().reachable);
  EXPECT_EQ(s7.Bytes(DataBlock(1), 0, 8),
            (std::vector<uint8_t>{0x3F, 0x80, 0x00, 0x00, 0x40, 0x20, 0x00, 0x00}));
  EXPECT_EQ(s7.DWord(DataBlock(1), 8), 0x1234'5678u);
  EXPECT_EQ(s7.Units(Inputs()), kDefaultProcessAreaBytes);
}

TEST(NetworkFile, ReportsAMistakeWithItsPlace) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\nadress = 1\n",
       "bad.toml:4:10: unknown key 'adress'"},
      {"[[station]]\ntype = 7\n", "a station needs an address"},
      {"[[station]]\naddress = \"0A0B0C01020\"\ntype = 7\n",
       "bad.toml:2:11: address must be 12 hexadecimal digits"},
      {"[[station]]\naddress = \"0A0B0C010201\"\n", "a station needs a type"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 8\n",
       "bad.toml:3:8: type must be an integer from 5 to 7"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\nslot = 256\n",
       "slot must be an integer from 1 to 255"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 5\nslot = 2\n",
       "slot is for type 6 and 7 stations"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\nrtsap = \"X\"\n",
       "rtsap is for type 5 stations"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 5\nltsap = \"NINECHARS\"\n",
       "ltsap has more than 8 characters"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\n"
       "[[station]]\naddress = \"0a0b0c010201\"\ntype = 5\n",
       "bad.toml:5:11: two stations have the address 0a0b0c010201"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\n[[station.db]]\nnumber = 1\n",
       "a block needs a number and a size"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\n[[station.db]]\nnumber = 1\n"
       "size = 65537\n",
       "size must be an integer from 0 to 65536"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\n[[station.db]]\nnumber = 1\nsize = 4\n"
       "[[station.db]]\nnumber = 1\nsize = 4\n",
       "DB 1 is described twice"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\n[[station.db]]\nnumber = 1\nsize = 4\n"
       "values = [{ at = 2, dword = 1 }]\n",
       "bad.toml:7:11: the value at 2 does not fit DB 1"},
      {"[[station]]\naddress = \"0A0B0C010203\"\ntype = 5\n[[station.db]]\nnumber = 1\nsize = 4\n"
       "values = [{ at = 2, floats = [1.0, 2.0] }]\n",
       "the value at 4 does not fit DB 1"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\n[[station.db]]\nnumber = 1\nsize = 4\n"
       "values = [{ at = 0, word = 1, byte = 2 }]\n",
       "a value has one kind"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\n[[station.db]]\nnumber = 1\nsize = 4\n"
       "values = [{ word = 1 }]\n",
       "a value needs its offset"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\n[[station.db]]\nnumber = 1\nsize = 4\n"
       "values = [{ at = 0, bytes = [1, 256] }]\n",
       "a byte must be an integer from 0 to 255"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\n[[station.db]]\nnumber = 1\nsize = 4\n"
       "values = [{ at = 0, word = 70000 }]\n",
       "a word must be an integer from -32768 to 65535"},
      {"[[station]]\naddress = \"0A0B0C010201\"\ntype = 7\nflags = { size = 8, values = [{ at = 8, "
       "byte = 1 }] }\n",
       "the value at 8 does not fit M"},
      {"[[station]\n", "bad.toml:1:"},
      // Texts that broke the TOML parser's own checks (it aborted) or reached its undefined
      // Unicode tables are errors like any other.
      {"[#", "bad.toml: not TOML: the parser cannot go on"},
      {"a=[}", "bad.toml: not TOML: the parser cannot go on"},
      {"[[[1]]]", "bad.toml:"},
      {"\xCD\xBA", "bad.toml:1:1: byte 0xCD is not ASCII text"},
      {"[[station]]\nname = \"S\xC3\xBC\"\n", "bad.toml:2:10: byte 0xC3 is not ASCII text"},
      {"a = 1\x01", "bad.toml:1:6: byte 0x01 is not ASCII text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const LoadedNetwork loaded = ParseNetwork(c.text, "bad.toml");
    EXPECT_FALSE(loaded.network);
    EXPECT_NE(loaded.error.find(c.error), std::string::npos) << loaded.error;
  }
}

TEST(NetworkFile, ReportsAFileThatCannotBeRead) {
  struct Case {
    const char* path;
    const char* error;
  };
  // A folder opens but reads as nothing; a device that streams bytes never ends.
  const Case cases[] = {
      {"/nonexistent/network.toml", "/nonexistent/network.toml: cannot be opened"},
      {"/tmp", "/tmp: is a folder"},
      {"/dev/zero", "/dev/zero: longer than 16 MiB, not a simulation file"}};
  for (const Case& c : cases) {
    const LoadedNetwork loaded = LoadNetworkFile(c.path);
    EXPECT_FALSE(loaded.network);
    EXPECT_EQ(loaded.error, c.error);
  }
}

TEST(NetworkFile, TakesOtherCharactersAsEscapesInStrings) {
  const LoadedNetwork loaded = ParseNetwork(
      "\xEF\xBB\xBF[[station]]\r\nname = \"S\\u00FCd\"\r\naddress = \"0A0B0C010201\"\ntype = 7\n",
      "utf8.toml");
  ASSERT_TRUE(loaded.network) << loaded.error;
  EXPECT_EQ(loaded.network->stations().front().config().name,
            "S\xC3\xBC"
            "d");
}

// A few lines must not take gigabytes: the file says which bound it passes, and where.
TEST(NetworkFile, BoundsWhatAFileMayAllocate) {
  const std::string station = "[[station]]\naddress = \"0A0B0C010201\"\ntype = 5\n";
  auto blocks = [](int count, int size) {
    std::string text;
    for (int n = 0; n < count; ++n) {
      text += "[[station.db]]\nnumber = " + std::to_string(n) + "\nsize = " + std::to_string(size) +
              "\n";
    }
    return text;
  };
  std::string stations;
  for (int n = 0; n < 1001; ++n) {
    char address[13];
    std::snprintf(address, sizeof address, "0A0B0C%06X", n);
    stations += std::string("[[station]]\naddress = \"") + address + "\"\ntype = 7\ninputs = 0\n" +
                "outputs = 0\nflags = 0\n";
  }
  struct Case {
    std::string text;
    const char* error;
  };
  const Case cases[] = {
      // 600 blocks of 65,536 S5 words are 75 MiB; with the process areas the 512th passes 64 MiB.
      {station + blocks(600, 65536),
       "bad.toml:1537:1: the stations' memory would pass 64 MiB: the most a simulation file may "
       "ask for"},
      {station + blocks(10'001, 0), "more than 10000 blocks: the most a simulation file may"},
      {stations, "more than 1000 stations: the most a simulation file may describe"},
  };
  for (const Case& c : cases) {
    const LoadedNetwork loaded = ParseNetwork(c.text, "bad.toml");
    EXPECT_FALSE(loaded.network);
    EXPECT_NE(loaded.error.find(c.error), std::string::npos) << loaded.error;
  }
  // Right at the bound: 512 blocks of 128 KiB and the station's 768 bytes of process areas.
  EXPECT_TRUE(ParseNetwork(station + "inputs = 0\noutputs = 0\nflags = 0\n" + blocks(512, 65536),
                           "full.toml")
                  .network);
}

TEST(NetworkFile, ReportsAFolderAsNoFile) {
  const LoadedNetwork loaded = LoadNetworkFile(TAV_EXAMPLES_DIR);
  EXPECT_FALSE(loaded.network);
  EXPECT_EQ(loaded.error, TAV_EXAMPLES_DIR ": is a folder");
}

TEST(NetworkFile, AnEmptyDescriptionIsAnEmptyNetwork) {
  const LoadedNetwork loaded = ParseNetwork("# nothing\n", "empty.toml");
  ASSERT_TRUE(loaded.network);
  EXPECT_TRUE(loaded.network->stations().empty());
  Network network = *loaded.network;
  EXPECT_EQ(network.OpenDriver(), h1::kOk);
}

}  // namespace
}  // namespace tav::sim
