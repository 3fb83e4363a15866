// The frames checked against Wireshark's dissectors (tshark): what an independent decoder reads
// in them, not what our own parser reads back. The fetch/write header has no dissector there;
// it is checked byte for byte against the layout of the protocol's documentation.
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

TEST(S5Header, RequestAndAnswerLayouts) {
  struct Row {
    S5Request request;
    Bytes header;
  };
  const Row rows[] = {
      // Fetch DB 10, data words 0 to 2.
      {{S5Opcode::kFetch, kS5OrgDataBlock, 10, 0, 3},
       {'S', '5', 0x10, 0x01, 0x03, 0x05, 0x03, 0x08, 0x01, 10, 0, 0, 0, 3, 0xFF, 0x02}},
      // Write flag bytes 300 and 301.
      {{S5Opcode::kWrite, kS5OrgFlags, 0, 300, 2},
       {'S', '5', 0x10, 0x01, 0x03, 0x03, 0x03, 0x08, 0x02, 0, 0x01, 0x2C, 0, 2, 0xFF, 0x02}},
      // Fetch DX 255 from word 0x1234, 0x0102 words.
      {{S5Opcode::kFetch, kS5OrgExtendedDataBlock, 255, 0x1234, 0x0102},
       {'S', '5', 0x10, 0x01, 0x03, 0x05, 0x03, 0x08, 0x0A, 255, 0x12, 0x34, 0x01, 0x02, 0xFF,
        0x02}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(S5RequestHeader(row.request), row.header);
    const std::optional<S5Request> parsed = ParseS5RequestHeader(row.header);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->start, row.request.start);
    EXPECT_EQ(parsed->length, row.request.length);
  }
  const Bytes ack{'S', '5', 0x10, 0x01, 0x03, 0x06, 0x0F, 0x03, 0x02, 0xFF, 0x07, 0, 0, 0, 0, 0};
  EXPECT_EQ(S5AnswerHeader({S5Opcode::kFetchAck, 2}), ack);
  Bytes broken = ack;
  broken[1] = '7';
  EXPECT_FALSE(ParseS5AnswerHeader(broken));
  EXPECT_FALSE(ParseS5AnswerHeader(ByteView(ack).first(15)));
}

// Every cut of a good answer, and every byte of it changed, parses without reading past it.
TEST(S7Answer, TruncatedAndCorruptedAnswersStayInside) {
  const Bytes answer{0x32, 0x03, 0,    0,    0,    9, 0,  2, 0, 8, 0,
                     0,    0x04, 0x01, 0xFF, 0x04, 0, 32, 1, 2, 3, 4};
  const std::optional<S7Answer> good = ParseS7Answer(answer);
  ASSERT_TRUE(good);
  EXPECT_EQ(good->reference, 9);
  EXPECT_EQ(good->data.size(), 4u);
  for (size_t cut = 0; cut < answer.size(); ++cut) {
    EXPECT_FALSE(ParseS7Answer(ByteView(answer).first(cut))) << cut;
  }
  for (size_t at = 0; at < answer.size(); ++at) {
    for (int value : {0x00, 0x7F, 0xFF}) {
      Bytes changed = answer;
      changed[at] = static_cast<uint8_t>(value);
      if (const std::optional<S7Answer> parsed = ParseS7Answer(changed)) {
        const uint8_t* end = changed.data() + changed.size();
        EXPECT_LE(parsed->data.data() + parsed->data.size(), end);
      }
    }
  }
}

TEST(Status, ReturnCodesMapOntoStatusWords) {
  const std::pair<uint8_t, uint16_t> s7[] = {{0xFF, 0},      {0x0A, 1},      {0x05, 2},
                                             {0x03, 0x0703}, {0x06, 0x0706}, {0x07, 0x0707},
                                             {0x01, 0x0701}};
  for (const auto& [code, status] : s7) EXPECT_EQ(StatusOfS7Item(code), status) << int{code};
  const std::pair<uint8_t, uint16_t> s5[] = {{0, 0}, {2, 1}, {3, 2}, {4, 0x0504}, {6, 0x0506}};
  for (const auto& [code, status] : s5) EXPECT_EQ(StatusOfS5Error(code), status) << int{code};
}

}  // namespace
}  // namespace tav::h1tcp
