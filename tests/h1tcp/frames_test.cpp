// ISO on TCP's frames checked against Wireshark's dissectors (tshark): what an independent decoder
// reads in them, not what our own parser reads back. The fetch/write header has no dissector
// there; tests/plc_sessions checks it byte for byte.
#include "frames.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace tav::h1tcp {
namespace {

bool HaveTshark() {
  return std::system("command -v tshark >/dev/null 2>&1 && command -v text2pcap >/dev/null 2>&1") ==
         0;
}

// Writes each frame as one TCP segment to port 102 into one capture and returns tshark's
// decoding of each, in order.
std::vector<std::string> Decode(const std::vector<Bytes>& frames) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::filesystem::path text = folder / ("h1tcp-" + name + ".txt");
  const std::filesystem::path capture = folder / ("h1tcp-" + name + ".pcap");
  {
    std::ofstream out(text);
    char hex[4];
    for (const Bytes& frame : frames) {
      out << "0000";
      for (uint8_t byte : frame) {
        std::snprintf(hex, sizeof hex, " %02x", byte);
        out << hex;
      }
      out << "\n";
    }
  }
  const std::string command = "text2pcap -q -T 40000,102 '" + text.string() + "' '" +
                              capture.string() + "' && tshark -r '" + capture.string() +
                              "' -V -o tcp.desegment_tcp_streams:FALSE 2>/dev/null";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    size_t size = 0;
    while ((size = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, size);
    pclose(pipe);
  }
  std::filesystem::remove(text);
  std::filesystem::remove(capture);
  std::vector<std::string> decoded;
  for (size_t at = output.find("Frame 1:"); at != std::string::npos;) {
    const size_t next = output.find("\nFrame " + std::to_string(decoded.size() + 2) + ":", at);
    decoded.push_back(output.substr(at, next == std::string::npos ? next : next - at));
    at = next == std::string::npos ? next : next + 1;
  }
  decoded.resize(frames.size());
  return decoded;
}

struct Decoded {
  const char* what;
  Bytes frame;
  std::vector<const char*> fields;
};

Bytes Data(const Bytes& payload) {
  return DataTpdus(payload, 1024);
}

TEST(FramesDecodedByTshark, IsoOnTcpAndS7) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed (apt-get install tshark)";
  const Bytes localS7{0x01, 0x01};
  const Bytes remoteS7{0x03, 0x02};
  const Bytes ltsap{'K', 'O', 'R', 'V', 'A', 'L', ' ', ' '};
  const Bytes rtsap{'K', 'O', 'R', 'R', 'E', 'A', 'D', ' '};
  const Decoded rows[] = {
      {"S7 connection request",
       ConnectionRequest(localS7, remoteS7, 1),
       {"PDU Type: CR Connect Request (0x0e)", "Source reference: 0x0001",
        "Parameter code: src-tsap (0xc1)", "Source TSAP: 0101", "Destination TSAP: 0302",
        "TPDU size: 1024"}},
      {"S5 connection request",
       ConnectionRequest(ltsap, rtsap, 1),
       {"PDU Type: CR Connect Request (0x0e)", "Source TSAP: KORVAL  ",
        "Destination TSAP: KORREAD "}},
      {"setup",
       Data(S7SetupRequest(1, 8, 480)),
       {"Last data unit: Yes", "ROSCTR: Job (1)", "Function: Setup communication (0xf0)",
        "Max AmQ (parallel jobs with ack) calling: 8", "Max AmQ (parallel jobs with ack) called: 8",
        "PDU length: 480"}},
      {"read DB",
       Data(S7ReadRequest(5, {kS7AreaDataBlock, 10, 2, 6})),
       {"Protocol Data Unit Reference: 5", "Function: Read Var (0x04)", "Item count: 1",
        "Item [1]: (DB 10.DBX 2.0 BYTE 6)"}},
      {"read inputs",
       Data(S7ReadRequest(6, {kS7AreaInputs, 0, 300, 462})),
       {"Item [1]: (I 300.0 BYTE 462)"}},
      {"write flags",
       Data(S7WriteRequest(7, {kS7AreaFlags, 0, 100, 3}, Bytes{1, 2, 3})),
       {"Function: Write Var (0x05)", "Item [1]: (M 100.0 BYTE 3)",
        "Transport size: BYTE/WORD/DWORD (0x04)", "Length: 3", "Data: 010203"}},
      {"write outputs",
       Data(S7WriteRequest(8, {kS7AreaOutputs, 0, 0, 1}, Bytes{0x80})),
       {"Item [1]: (Q 0.0 BYTE 1)"}},
  };
  std::vector<Bytes> frames;
  for (const Decoded& row : rows) frames.push_back(row.frame);
  const std::vector<std::string> decoded = Decode(frames);
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].what);
    for (const char* field : rows[i].fields) {
      EXPECT_NE(decoded[i].find(field), std::string::npos) << field << "\n" << decoded[i];
    }
  }
}

// A request split over TPDUs of 128 bytes: every one but the last says more follows.
TEST(FramesDecodedByTshark, DataSplitOverTpdus) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed (apt-get install tshark)";
  const Bytes frames = DataTpdus(Bytes(300, 0x5A), 128);
  ASSERT_EQ(frames.size(), 300 + 3 * (4 + 3));
  const Bytes first(frames.begin(), frames.begin() + 128 + 4);
  const Bytes last(frames.end() - (300 - 2 * 125) - 4 - 3, frames.end());
  const std::vector<std::string> decoded = Decode({first, last});
  EXPECT_NE(decoded[0].find("Last data unit: No"), std::string::npos) << decoded[0];
  EXPECT_NE(decoded[1].find("Last data unit: Yes"), std::string::npos) << decoded[1];
}

}  // namespace
}  // namespace tav::h1tcp
