// The mapping file: what each line gives, and every bad line skipped with its number and why.
#include "station_map/station_map.h"
#include "vocabulary/configuration_file.h"

#include <gtest/gtest.h>

namespace tav::h1tcp {
namespace {

TEST(StationMap, GoodLinesGiveRoutes) {
  const StationMap map = ParseStationMap(
      "; Ethernet address = host[:port], protocol[, option=value...]\n"
      "0A0B0C010201 = 192.168.10.21, s7, pdu=480\r\n"
      "0a0b0c010205=plc5.local,s7-words ; a type-6 station\n"
      "\n"
      "0A0B0C010203 = 192.168.10.23, s5-iso\n"
      "0A0B0C010204 = 192.168.10.24:2000, s5-tcp, write-port=2001\n"
      "0A0B0C010206 = localhost:1102, s7, pdu=960, jobs=3\n"
      "0A0B0C010207 = [::1]:1102, s7\n"
      "0A0B0C010208 = [fe80::1], s5-iso\n");
  EXPECT_TRUE(map.problems.empty());
  struct Row {
    EthernetAddress address;
    const char* host;
    uint16_t port, writePort;
    Protocol protocol;
    uint16_t pdu, jobs;
  };
  const Row rows[] = {
      {{10, 11, 12, 1, 2, 1}, "192.168.10.21", 102, 0, Protocol::kS7, 480, 8},
      {{10, 11, 12, 1, 2, 5}, "plc5.local", 102, 0, Protocol::kS7Words, 480, 8},
      {{10, 11, 12, 1, 2, 3}, "192.168.10.23", 102, 0, Protocol::kS5Iso, 480, 8},
      {{10, 11, 12, 1, 2, 4}, "192.168.10.24", 2000, 2001, Protocol::kS5Tcp, 480, 8},
      {{10, 11, 12, 1, 2, 7}, "::1", 1102, 0, Protocol::kS7, 480, 8},
      {{10, 11, 12, 1, 2, 8}, "fe80::1", 102, 0, Protocol::kS5Iso, 480, 8},
  };
  ASSERT_EQ(map.routes.size(), 7u);
  for (const Row& row : rows) {
    const Route* route = map.Find(row.address);
    ASSERT_NE(route, nullptr) << row.host;
    EXPECT_EQ(route->host, row.host);
    EXPECT_EQ(route->port, row.port);
    EXPECT_EQ(route->writePort, row.writePort);
    EXPECT_EQ(route->protocol, row.protocol);
    EXPECT_EQ(route->pduBytes, row.pdu);
    EXPECT_EQ(route->parallelJobs, row.jobs);
  }
}

TEST(StationMap, BadLinesAreSkippedWithTheirNumber) {
  const StationMap map = ParseStationMap(
      "0A0B0C01020 = 10.0.0.1, s7\n"                 // 1: eleven digits
      "0A0B0C01020G = 10.0.0.1, s7\n"                // 2: not hexadecimal
      "0A0B0C010201 = 10.0.0.1, s9\n"                // 3: protocol
      "0A0B0C010201 = , s7\n"                        // 4: no host
      "0A0B0C010201 = 10.0.0.1:0, s7\n"              // 5: port 0
      "0A0B0C010201 = 10.0.0.1:70000, s7\n"          // 6: port too large
      "0A0B0C010201 = 10.0.0.1, s5-tcp\n"            // 7: no port
      "0A0B0C010201 = 10.0.0.1, s7, pdu=100\n"       // 8: PDU too small
      "0A0B0C010201 = 10.0.0.1, s7, speed=9\n"       // 9: unknown option
      "0A0B0C010201 = 10.0.0.1, s7, write-port=5\n"  // 10: option of another protocol
      "0A0B0C010201 = 10.0.0.1, s7, jobs=x\n"        // 11: not a number
      "0A0B0C010201 10.0.0.1 s7\n"                   // 12: no '='
      "0A0B0C010201 = 10.0.0.1, s7\n"                // 13: good
      "0A0B0C010201 = 10.0.0.2, s7\n");              // 14: mapped already
  ASSERT_EQ(map.routes.size(), 1u);
  EXPECT_EQ(map.routes[0].host, "10.0.0.1");
  std::vector<int> lines;
  for (const MapProblem& problem : map.problems) lines.push_back(problem.line);
  EXPECT_EQ(lines, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14}));
  EXPECT_EQ(map.problems[2].text, "unknown protocol 's9' (s7, s7-words, s5-iso, s5-tcp)");
  EXPECT_EQ(map.problems[7].text, "pdu must be a number from 240 to 960");
}

// The slips people make get words that point at them.
TEST(StationMap, SlipsAreNamedPrecisely) {
  const std::pair<const char*, const char*> rows[] = {
      {"0A0B0C010201 = 10.0.0.1 s7", "no comma between the host and the protocol: '10.0.0.1 s7'"},
      {"0A0B0C010201 = 10.0.0.1, S7", "protocol names are lower case: 's7', not 'S7'"},
      {"0A0B0C010201 = 10.0.0.1, S5-TCP", "protocol names are lower case: 's5-tcp', not 'S5-TCP'"},
      {"0A0B0C010201 = 10.0.0.1", "no protocol after the host (s7, s7-words, s5-iso, s5-tcp)"},
      {"0A0B0C010201 = ::1, s7", "an IPv6 address goes in brackets: [::1] or [::1]:port"},
      {"0A0B0C010201 = [::1:102, s7", "an IPv6 address in '[' needs its closing ']'"},
      {"0A0B0C010201 = [::1]102, s7", "after an IPv6 address in brackets comes ':port' or nothing"},
  };
  for (const auto& [line, words] : rows) {
    const StationMap map = ParseStationMap(line);
    ASSERT_EQ(map.problems.size(), 1u) << line;
    EXPECT_EQ(map.problems[0].text, words) << line;
  }
}

}  // namespace
}  // namespace tav::h1tcp

// The map is looked for where every library looks for its configuration: the variable's file,
// else /etc/tavsh1/'s when it is there, else the one beside the library.
TEST(StationMap, IsLookedForInTheConfigurationOrder) {
  struct Row {
    const char* variable;
    bool inEtc;
    const char* expected;
  };
  const Row rows[] = {
      {"/plant/lines.map", true, "/plant/lines.map"},
      {"", true, "/etc/tavsh1/h1tcp.map"},
      {"", false, "/opt/tavsh1/lib/h1tcp.map"},
  };
  for (const Row& row : rows) {
    const auto inEtc = [&row](const std::string& path) {
      return row.inEtc && path == "/etc/tavsh1/h1tcp.map";
    };
    EXPECT_EQ(tav::ConfigurationFilePath(row.variable, "h1tcp.map", "/opt/tavsh1/lib/", inEtc),
              row.expected);
  }
}
