// The capture file: the pcap headers byte for byte as readers expect them, the frames behind them
// in the order they passed, and, where tshark is installed, the file opened by Wireshark's own
// reader, which names the frames' protocols.
#include "capture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace tav::h1eth {
namespace {

// An H1 frame: 802.3 header, LLC, the inactive network layer, and a class 4 AK TPDU.
FrameBytes AkFrame(uint8_t last) {
  FrameBytes frame = {0x08, 0x00, 0x06, 0x01, 0x02, last, 0x08, 0x00, 0x06, 0x0A, 0x0B, 0x0C};
  const uint8_t body[] = {0xFE, 0xFE, 0x03, 0x00, 0x04, 0x61, 0x00, 0x01, 0x05};
  frame.push_back(0x00);
  frame.push_back(sizeof body);
  frame.insert(frame.end(), std::begin(body), std::end(body));
  frame.resize(60, 0x00);  // the shortest Ethernet frame, padded
  return frame;
}

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

uint32_t Word(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
  return value;
}

class H1EthCapture : public ::testing::Test {
 protected:
  std::filesystem::path path_ = std::filesystem::path(::testing::TempDir()) /
                                ("h1eth_capture_" + std::to_string(::getpid()) + ".pcap");
  void TearDown() override { std::filesystem::remove(path_); }
};

TEST_F(H1EthCapture, WritesClassicPcapWithMicrosecondStamps) {
  {
    const std::unique_ptr<PcapWriter> writer = PcapWriter::Create(path_.string());
    ASSERT_NE(writer, nullptr);
    writer->Write(AkFrame(1), 1'700'000'000'123'456);
    writer->Write(AkFrame(2), 1'700'000'001'000'007);
  }
  const std::string bytes = FileBytes(path_);
  ASSERT_EQ(bytes.size(), 24u + 2 * (16 + 60));
  // Little-endian machine: the magic as readers look for it, version 2.4, Ethernet.
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xD4\xC3\xB2\xA1", 4));
  EXPECT_EQ(Word(bytes, 4), 0x00040002u);
  EXPECT_EQ(Word(bytes, 16), kPcapSnapshotLength);
  EXPECT_EQ(Word(bytes, 20), 1u);
  const std::array<uint32_t, 4> first = {Word(bytes, 24), Word(bytes, 28), Word(bytes, 32),
                                         Word(bytes, 36)};
  EXPECT_EQ(first, (std::array<uint32_t, 4>{1'700'000'000, 123'456, 60, 60}));
  EXPECT_EQ(Word(bytes, 24 + 76 + 4), 7u);
  EXPECT_EQ(static_cast<uint8_t>(bytes[24 + 16 + 5]), 1);
  EXPECT_EQ(static_cast<uint8_t>(bytes[24 + 76 + 16 + 5]), 2);
}

// The answer another thread receives while the request is being sent follows the request in the
// file; a frame that could not be sent is not in it.
TEST_F(H1EthCapture, ARequestPrecedesTheAnswerItCaused) {
  {
    const std::unique_ptr<PcapWriter> writer = PcapWriter::Create(path_.string());
    ASSERT_NE(writer, nullptr);
    std::thread receiver;
    const bool sent = writer->SendAndWrite(AkFrame(1), [&](FrameView) {
      receiver = std::thread([&] { writer->Write(AkFrame(2)); });
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the answer is back first
      return true;
    });
    receiver.join();
    EXPECT_TRUE(sent);
    EXPECT_FALSE(writer->SendAndWrite(AkFrame(3), [](FrameView) { return false; }));
  }
  const std::string bytes = FileBytes(path_);
  ASSERT_EQ(bytes.size(), 24u + 2 * (16 + 60));
  EXPECT_EQ(static_cast<uint8_t>(bytes[24 + 16 + 5]), 1);
  EXPECT_EQ(static_cast<uint8_t>(bytes[24 + 76 + 16 + 5]), 2);
}

TEST_F(H1EthCapture, CannotCreateInAMissingFolder) {
  EXPECT_EQ(PcapWriter::Create((path_ / "no" / "such.pcap").string()), nullptr);
}

// A FIFO as the capture file, as live capture into Wireshark has it: without a reader it is
// refused at once; a reader that goes away or stops reading closes the capture with one line,
// and neither blocks the writer nor raises SIGPIPE (whose default would end this process).
TEST_F(H1EthCapture, AFifoNeverBlocksOrEndsTheWriter) {
  enum class Reader { kNone, kGoesAway, kStopsReading };
  const struct {
    Reader reader;
    const char* said;  // the problem, or the one line that closed the capture
  } rows[] = {
      {Reader::kNone, "a FIFO that nobody reads"},
      {Reader::kGoesAway, "its reader went away; capture closed"},
      {Reader::kStopsReading, "its reader does not keep up; capture closed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.said);
    std::filesystem::remove(path_);
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    const int reader =
        row.reader == Reader::kNone ? -1 : ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    std::vector<std::string> lines;
    std::string problem;
    const std::unique_ptr<PcapWriter> writer = PcapWriter::Create(
        path_.string(), [&lines](const std::string& line) { lines.push_back(line); }, &problem);
    if (row.reader == Reader::kNone) {
      EXPECT_EQ(writer, nullptr);
      EXPECT_EQ(problem, row.said);
      continue;
    }
    ASSERT_NE(writer, nullptr) << problem;
    if (row.reader == Reader::kGoesAway) ::close(reader);
    // Far more than the FIFO holds.
    for (int n = 0; n < 5000; ++n) writer->Write(AkFrame(static_cast<uint8_t>(n)));
    if (row.reader == Reader::kStopsReading) ::close(reader);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(row.said), std::string::npos) << lines[0];
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  }
}

TEST_F(H1EthCapture, TsharkReadsTheFileAsH1Frames) {
  if (std::system("tshark -v > /dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
  {
    const std::unique_ptr<PcapWriter> writer = PcapWriter::Create(path_.string());
    ASSERT_NE(writer, nullptr);
    writer->Write(AkFrame(1));
  }
  const std::string out = path_.string() + ".txt";
  const std::string command = "tshark -r " + path_.string() +
                              " -T fields -e frame.protocols -e cotp.type > " + out + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << FileBytes(out);
  const std::string fields = FileBytes(out);
  std::filesystem::remove(out);
  // The 802.3 length, LLC, the inactive network layer and an AK (type 6).
  EXPECT_NE(fields.find("eth:llc:osi:clnp:cotp\t0x06"), std::string::npos) << fields;
}

}  // namespace
}  // namespace tav::h1eth
