// The bridge file's reader: each hostile file gives exactly one problem, on the line at fault and
// in words that say what is wrong; the example file reads clean against the example stations;
// 10,000 tags read in well under a second, and more than the cap give one line.
#include "bridge/bridge_settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>

namespace {

using namespace tavhost::bridge;

// The stations' types as the example station file configures them ("N=TYPE,..." lines).
const std::map<int, uint8_t>& ExampleStationTypes() {
  static const std::map<int, uint8_t> types = [] {
    std::map<int, uint8_t> read;
    std::ifstream file(TAV_EXAMPLES_DIR "/tavSH101.int");
    std::string line;
    while (std::getline(file, line)) {
      const size_t equals = line.find('=');
      if (equals == std::string::npos || equals == 0 || line[0] == ';') continue;
      read[std::stoi(line.substr(0, equals))] = static_cast<uint8_t>(line[equals + 1] - '0');
    }
    return read;
  }();
  return types;
}

tavhost::StationLookup ExampleStations() {
  return {nullptr, [](const void*, int32_t station) -> std::optional<uint8_t> {
            const auto found = ExampleStationTypes().find(station);
            if (found == ExampleStationTypes().end()) return std::nullopt;
            return found->second;
          }};
}

std::optional<std::string> Environment(const std::string& name) {
  if (name == "BRIDGE_PASSWORD") return "hunter2";
  return std::nullopt;
}

// Both steps, as the bridge runs them: the file's problems and its addresses' in one pass.
BridgeFileProblems Problems(const std::string& text, BridgeSettings* read = nullptr) {
  BridgeFileReading reading = ReadBridgeText(text, "plant.toml", TAV_EXAMPLES_DIR, Environment);
  if (!reading.settings || !reading.transportUsable) return reading.problems;
  BridgeFileProblems problems = AllProblems(reading, ExampleStations());
  if (read != nullptr) *read = *reading.settings;
  return problems;
}

std::string Joined(const BridgeFileProblems& problems) {
  std::string text;
  for (const BridgeFileProblem& problem : problems) text += problem.Text() + "\n";
  return text;
}

// A file with one good tag on lines 1 to 6; each case adds lines from 7 on.
const std::string kGood =
    "[[group]]\nname = \"g\"\nperiod_ms = 1000\n"
    "[[group.tag]]\nname = \"t\"\naddress = \"01DW0100000\"\n";
const std::string kTag = "[[group.tag]]\nname = \"u\"\n";  // lines 7 and 8: address on 9

struct HostileFile {
  const char* what;
  std::string text;
  int line;
  std::string says;
};

TEST(BridgeSettings, EachHostileFileGivesOneProblemOnItsLine) {
  const std::string examples = TAV_EXAMPLES_DIR;
  const HostileFile files[] = {
      {"not TOML", kGood + "[broker\n", 7, "not TOML"},
      {"a text that breaks the parser", kGood + "[#\n", 0, "not TOML: the parser cannot go on"},
      {"not ASCII", kGood + "# K\xC3\xBChlwasser\n", 7, "byte 0xC3 is not ASCII text"},
      {"a misspelt key", kGood + "[broker]\nhots = \"x\"\n", 8, "unknown key 'hots' in [broker]"},
      {"an unknown table", kGood + "[brokers]\n", 7, "unknown key 'brokers' in the file"},
      {"a port as text", kGood + "[broker]\nport = \"1883\"\n", 8,
       "port must be an integer from 1 to 65535"},
      {"a port beyond", kGood + "[broker]\nport = 65536\n", 8, "from 1 to 65535"},
      {"a short keep-alive", kGood + "[broker]\nkeep_alive_s = 1\n", 8, "from 5 to 3600"},
      {"no group", "[bridge]\nprefix = \"p\"\n", 0, "no [[group]]"},
      {"group not an array", "group = 5\n", 1, "group must be an array of tables"},
      {"a group without tags", "[[group]]\nname = \"g\"\nperiod_ms = 1000\n", 1,
       "[[group]] has no [[group.tag]]"},
      {"a group without period",
       "[[group]]\nname = \"g\"\n" + kTag.substr(0, 14) +
           "name = \"t\"\naddress = \"01DW0100000\"\n",
       1, "[[group]] has no period_ms"},
      {"a period too short",
       kGood + "[[group]]\nname = \"h\"\nperiod_ms = 5\n" + kTag + "address = \"01DW0100002\"\n", 9,
       "period_ms must be an integer from 10 to 3600000"},
      {"a group named twice",
       kGood + "[[group]]\nname = \"g\"\nperiod_ms = 10\n" + kTag + "address = \"01DW0100002\"\n",
       7, "group name \"g\" is given twice (first on line 1)"},
      {"a tag without address", kGood + kTag, 7, "[[group.tag]] has no address"},
      {"an empty address", kGood + kTag + "address = \"\"\n", 9, "address is empty"},
      {"a slash in a name", kGood + "[[group.tag]]\nname = \"a/b\"\naddress = \"01DW0100002\"\n", 8,
       "tag \"a/b\": a name has letters, digits, '_', '-' and '.' only"},
      {"a wildcard in a name", kGood + "[[group.tag]]\nname = \"#\"\naddress = \"01DW0100002\"\n",
       8, "a name has letters"},
      {"a line end in a name",
       kGood + "[[group.tag]]\nname = \"a\\nb\"\naddress = \"01DW0100002\"\n", 8,
       "tag \"a\\x0Ab\": a name has letters"},
      {"a reserved tag name",
       kGood + "[[group.tag]]\nname = \"status\"\naddress = \"01DW0100002\"\n", 8,
       "tag \"status\" is reserved"},
      {"a tag named twice at a station",
       kGood + kTag.substr(0, 14) + "name = \"t\"\n" + "address = \"DB10.DBW2\"\n", 7,
       "tag name \"t\" is given twice at station 01 (first on line 4)"},
      {"writable as text", kGood + kTag + "address = \"01DW0100002\"\nwritable = \"yes\"\n", 10,
       "writable must be true or false"},
      {"an unknown type", kGood + kTag + "address = \"01DD0100002\"\ntype = \"double\"\n", 10,
       "type \"double\": float, bit or string"},
      {"a deadband on a word", kGood + kTag + "address = \"01DW0100002\"\ndeadband = 1\n", 7,
       "a deadband is for floats, and this is a word"},
      {"a negative deadband", kGood + kTag + "address = \"01DF0100010\"\ndeadband = -0.5\n", 10,
       "deadband must be a number, 0 or more"},
      {"a deadband as text", kGood + kTag + "address = \"01DF0100010\"\ndeadband = \"1\"\n", 10,
       "deadband must be a number"},
      {"a station not configured", kGood + kTag + "address = \"07DW0100000\"\n", 7,
       "(rule station-not-configured)"},
      {"an odd S7 float", kGood + kTag + "address = \"01DF0100011\"\n", 7, "(rule s7-odd-offset)"},
      {"a familiar form refused", kGood + kTag + "address = \"DB10.DBX4.9\"\n", 7,
       "(rule familiar-bit-range)"},
      {"a bit beyond its byte", kGood + kTag + "address = \"01IB000009\"\n", 7,
       "bit 9 lies beyond the byte"},
      {"an address too long", kGood + kTag + "address = \"01DW01000000000\"\n", 7,
       "at most 13 characters, not 15"},
      {"a station key of one digit", kGood + "[stations]\n1 = \"press\"\n", 8,
       "[stations] key '1': a station is two digits, 00 to 98"},
      {"a station beyond the table", kGood + "[stations]\n99 = \"press\"\n", 8, "00 to 98"},
      {"a station named by digits", kGood + "[stations]\n01 = \"02\"\n", 8,
       "digits alone would read as a station's number"},
      {"a reserved station name", kGood + "[stations]\n01 = \"set\"\n", 8,
       "station name \"set\" is reserved"},
      {"a station name twice", kGood + "[stations]\n01 = \"press\"\n02 = \"press\"\n", 9,
       "station name \"press\" is given twice (first on line 8)"},
      {"a station named, not configured", kGood + "[stations]\n06 = \"six\"\n", 8,
       "station 06 is named, but the station file does not configure it"},
      {"a prefix with an empty level", kGood + "[bridge]\nprefix = \"plant//a\"\n", 8,
       "prefix \"plant//a\": levels of letters"},
      {"a heartbeat of 0", kGood + "[bridge]\nheartbeat_s = 0\n", 8,
       "heartbeat_s must be an integer from 1 to 86400"},
      {"a time-out of 0", kGood + "[bridge]\ntimeout_ms = 0\n", 8,
       "timeout_ms must be an integer from 1 to 60000"},
      {"a station file missing", kGood + "[bridge]\nstation_file = \"tavSH102.int\"\n", 8,
       "station_file: " + examples + "/tavSH102.int: no such file"},
      {"network and tcp_map",
       kGood + "[bridge]\nnetwork = \"tavSH101.toml\"\ntcp_map = \"tavSH101.int\"\n", 9,
       "network, tcp_map and h1_interface exclude each other"},
      {"a CA file missing", kGood + "[broker.tls]\nca_file = \"ca.crt\"\n", 8,
       "ca.crt: no such file"},
      {"TLS without CA",
       kGood + "[broker.tls]\ncert_file = \"tavSH101.int\"\nkey_file = \"tavSH101.int\"\n", 7,
       "[broker.tls] has no ca_file"},
      {"a certificate without key",
       kGood + "[broker.tls]\nca_file = \"tavSH101.int\"\ncert_file = \"tavSH101.int\"\n", 7,
       "takes cert_file and key_file together"},
      {"two passwords",
       kGood + "[broker]\nusername = \"u\"\npassword = \"hunter2\"\n"
               "password_env = \"BRIDGE_PASSWORD\"\n",
       10, "takes password or password_env, not both"},
      {"a password without user", kGood + "[broker]\npassword = \"hunter2\"\n", 8,
       "a password needs a username"},
      {"a password variable unset",
       kGood + "[broker]\nusername = \"u\"\npassword_env = \"NO_SUCH_VARIABLE\"\n", 9,
       "password_env: the environment variable NO_SUCH_VARIABLE is not set"},
      {"a password of the wrong type", kGood + "[broker]\nusername = \"u\"\npassword = 2\n", 9,
       "password must be a string"},
      {"a NUL in the host", kGood + "[broker]\nhost = \"127.0.0.1\\u0000evil\"\n", 8,
       "host holds a NUL character"},
      {"a client id too long",
       kGood + "[broker]\nclient_id = \"" + std::string(70'000, 'c') + "\"\n", 8,
       "client_id has 70000 characters, at most 256"},
      {"a prefix too long", kGood + "[bridge]\nprefix = \"" + std::string(70'000, 'p') + "\"\n", 8,
       "prefix has 70000 characters, at most 256"},
      {"a tag name too long",
       kGood + "[[group.tag]]\nname = \"" + std::string(70'000, 'n') +
           "\"\naddress = \"01DW0100002\"\n",
       8, "a name has at most 128 characters, not 70000"},
      {"an interface and a network",
       kGood + "[bridge]\nh1_interface = \"eth1\"\nnetwork = \"tavSH101.toml\"\n", 9,
       "network, tcp_map and h1_interface exclude each other"},
      {"[sparkplug] without group_id", kGood + "[sparkplug]\nedge_node_id = \"e\"\n", 7,
       "[sparkplug] has no group_id"},
      {"a Sparkplug id with a wildcard", kGood + "[sparkplug]\ngroup_id = \"plant/#\"\n", 8,
       "group_id \"plant/#\": letters, digits"},
      {"a misspelt Sparkplug key", kGood + "[sparkplug]\ngroup_id = \"p\"\nprimary = \"h\"\n", 9,
       "unknown key 'primary' in [sparkplug]"},
      {"a signed float", kGood + kTag + "address = \"01DF0100010\"\nsigned = true\n", 7,
       "signed is for words and double words, and this is a float"},
  };
  for (const HostileFile& file : files) {
    const BridgeFileProblems problems = Problems(file.text);
    ASSERT_EQ(problems.size(), 1u) << file.what << ":\n" << Joined(problems);
    const std::string text = problems[0].Text();
    EXPECT_EQ(problems[0].line, file.line) << file.what << ": " << text;
    EXPECT_NE(text.find(file.says), std::string::npos) << file.what << ": " << text;
    const std::string where =
        file.line == 0 ? "plant.toml: " : "plant.toml:" + std::to_string(file.line) + ": ";
    EXPECT_TRUE(text.starts_with(where)) << text;
    EXPECT_EQ(text.find("hunter2"), std::string::npos) << file.what << ": the password printed";
    EXPECT_EQ(text.find('\n'), std::string::npos) << file.what << ": more than one line";
  }
}

// Every problem of a file is reported, in the order of its lines.
TEST(BridgeSettings, ReportsEveryProblemInLineOrder) {
  const BridgeFileProblems problems =
      Problems("[broker]\nport = 0\nkeep_alive = 3\n[[group]]\nname = \"status\"\nperiod_ms = 1\n");
  ASSERT_EQ(problems.size(), 5u);
  const int lines[] = {2, 3, 4, 5, 6};
  for (size_t i = 0; i < problems.size(); ++i)
    EXPECT_EQ(problems[i].line, lines[i]) << problems[i].Text();
  // In one pass: a key of the file's, an address, a name given twice.
  const BridgeFileProblems together =
      Problems(kGood +
               "[[group.tag]]\nname = \"t\"\naddress = \"01DF0100011\"\n"
               "[[group.tag]]\nname = \"t\"\naddress = \"01DW0100002\"\nwritten = true\n");
  ASSERT_EQ(together.size(), 3u) << Joined(together);
  const std::pair<int, std::string> expected[] = {
      {7, "s7-odd-offset"}, {10, "given twice"}, {13, "unknown key 'written'"}};
  for (size_t i = 0; i < together.size(); ++i) {
    EXPECT_EQ(together[i].line, expected[i].first) << together[i].Text();
    EXPECT_NE(together[i].Text().find(expected[i].second), std::string::npos) << together[i].Text();
  }
}

TEST(BridgeSettings, ExampleFileReadsCleanAgainstTheExampleStations) {
  BridgeFileReading result = ReadBridgeFile(TAV_EXAMPLES_DIR "/bridge.toml", Environment);
  ASSERT_TRUE(result.usable()) << Joined(result.problems);
  BridgeSettings& settings = *result.settings;
  const BridgeFileProblems problems = CheckTagAddresses(settings, ExampleStations());
  ASSERT_TRUE(problems.empty()) << problems[0].Text();
  ApplyDriverNumber(settings, 1);
  EXPECT_EQ(settings.broker.clientId, "tavhost-bridge-tavsh1-01");
  EXPECT_EQ(settings.transport.stationFile, TAV_EXAMPLES_DIR "/tavSH101.int");
  EXPECT_EQ(settings.transport.timeoutMs, 1000);
  EXPECT_EQ(BridgeStatusTopic(settings), "tavsh1/01/status");
  ASSERT_EQ(settings.groups.size(), 3u);
  const TagSettings& temperature = settings.groups[0].tags[0];
  EXPECT_EQ(temperature.thirteen, "01DF0100010");
  EXPECT_EQ(temperature.resolvedType, tav::kHostTypeFloat);
  EXPECT_EQ(temperature.deadband.value_or(-1), 0.5);
  EXPECT_EQ(TagTopic(settings, temperature), "tavsh1/01/press/temperature");
  EXPECT_EQ(TagTopic(settings, settings.groups[1].tags[2]), "tavsh1/01/04/level");
  EXPECT_EQ(StationStatusTopic(settings, 8), "tavsh1/01/paint/status");
  EXPECT_TRUE(settings.groups[0].tags[4].writable);
}

TEST(BridgeSettings, PasswordComesFromTheVariableTheFileNames) {
  BridgeSettings settings;
  ASSERT_TRUE(Problems(kGood + "[broker]\nusername = \"u\"\npassword_env = \"BRIDGE_PASSWORD\"\n",
                       &settings)
                  .empty());
  EXPECT_EQ(settings.broker.password, "hunter2");
  EXPECT_EQ(settings.broker.port, 1883);
  ASSERT_TRUE(Problems(kGood + "[broker.tls]\nca_file = \"tavSH101.int\"\n", &settings).empty());
  EXPECT_EQ(settings.broker.port, 8883);  // TLS's port unless the file gives one
  ASSERT_TRUE(Problems(kGood + "[bridge]\nh1_interface = \"eth1\"\n", &settings).empty());
  EXPECT_EQ(settings.transport.h1Interface, "eth1");
}

// A file of `groups` groups of `tags` tags each, every tag a word of station 01's data block 10.
std::string ManyTags(int groups, int tags) {
  std::string text;
  for (int g = 0; g < groups; ++g) {
    text += "[[group]]\nname = \"g" + std::to_string(g) + "\"\nperiod_ms = 1000\n";
    for (int t = 0; t < tags; ++t) {
      text += "[[group.tag]]\nname = \"t" + std::to_string(g) + "." + std::to_string(t) +
              "\"\naddress = \"01DW010" + std::to_string(1000 + 2 * (t % 64)).substr(0, 4) + "\"\n";
    }
  }
  return text;
}

TEST(BridgeSettings, TenThousandTagsAreReadQuicklyAndTheCapIsOneLine) {
  BridgeSettings settings;
  const auto start = std::chrono::steady_clock::now();
  const BridgeFileProblems problems = Problems(ManyTags(100, 100), &settings);
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(problems.empty()) << Joined(problems);
  EXPECT_EQ(settings.groups.size(), 100u);
  // About 60 ms optimised and 1.5 s under the sanitizers; a reader that went quadratic
  // in the tags would take minutes.
  EXPECT_LT(took, std::chrono::seconds(10));
  // The cap, at 100 tags to keep the test short: the tag beyond it is the one line.
  static_assert(kMostTags >= 10'000);
  const BridgeFileProblems capped =
      ReadBridgeText(ManyTags(2, 51), "plant.toml", ".", Environment, 100).problems;
  ASSERT_EQ(capped.size(), 1u);
  EXPECT_EQ(capped[0].Text(),
            "plant.toml:307: more than 100 tags: one bridge polls at most "
            "100; split the plant over several bridges");
}

TEST(BridgeSettings, BrokerOverride) {
  const struct {
    const char* text;
    const char* host;  // null: refused
    uint16_t port;
  } cases[] = {
      {"mqtt.plant:8883", "mqtt.plant", 8883},
      {"mqtt.plant", "mqtt.plant", 1883},
      {"[::1]:1884", "::1", 1884},
      {"[fd00::5]", "fd00::5", 1883},
      {"10.0.0.5:1", "10.0.0.5", 1},
      {"::1", nullptr, 0},
      {"host:", nullptr, 0},
      {":1883", nullptr, 0},
      {"host:0", nullptr, 0},
      {"host:65536", nullptr, 0},
      {"host:18x", nullptr, 0},
      {"[::1", nullptr, 0},
      {"[::1]1883", nullptr, 0},
      {"", nullptr, 0},
  };
  for (const auto& c : cases) {
    BrokerSettings broker;
    const std::optional<std::string> refused = ApplyBrokerOverride(c.text, broker);
    EXPECT_EQ(!refused, c.host != nullptr) << c.text << ": " << refused.value_or("");
    if (c.host == nullptr) continue;
    EXPECT_EQ(broker.host, c.host) << c.text;
    EXPECT_EQ(broker.port, c.port) << c.text;
  }
}

}  // namespace
