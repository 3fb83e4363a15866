// tshark's h1 dissector as the judge of libh1tcp's S5 frames over ISO on TCP: the driver over
// libh1tcp against our S5 responder on the loopback interface of a namespace of the test's own,
// captured there by dumpcap. Every frame decodes without malformed packets or expert errors, and
// the fetch/write headers carry what the driver asked for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "driver_on_tcp.h"
#include "frame_judge.h"
#include "netns.h"

namespace tav::h1eth::test {
namespace {

class S5OverIsoOnTcp : public h1tcp::test::DriverOnTcp {
 protected:
  void SetUp() override {
    network_ = std::make_unique<TestNetwork>();
    if (!network_->unavailable().empty()) GTEST_SKIP() << "skipped: " << network_->unavailable();
    entered_ = std::make_unique<EnteredNamespace>(network_->driver());
    ASSERT_TRUE(entered_->entered());
    station_ = std::make_unique<h1tcp::test::S5Responder>(true);
    const std::string port = std::to_string(station_->port());
    dumpcap_ = network_->Spawn(network_->driver(), {"dumpcap", "-q", "-P", "-i", "lo", "-f",
                                                    "tcp port " + port, "-w", capture()});
    // dumpcap writes the file's header once it captures.
    for (int i = 0; i < 500 && !Capturing(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!Capturing()) GTEST_SKIP() << "skipped: dumpcap did not start capturing";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its filter in place
    WriteMap("0A0B0C010204 = 127.0.0.1:" + port + ", s5-iso\n");
    WriteStationFile("4=5,0A0B0C010204,TSAPLOC1,TSAPRD01,TSAPWR01\n");
    ASSERT_EQ(Initialise(), 0);
  }
  void TearDown() override {
    Run(CommandCode::kCloseH1, nullptr);
    StopProgram(dumpcap_);
    station_.reset();
    entered_.reset();
  }

  bool Capturing() const {
    std::error_code error;
    return std::filesystem::file_size(capture(), error) >= 24 && !error;
  }
  std::string capture() const { return (directory() / "tcp.pcap").string(); }

  std::unique_ptr<TestNetwork> network_;
  std::unique_ptr<EnteredNamespace> entered_;
  std::unique_ptr<h1tcp::test::S5Responder> station_;
  pid_t dumpcap_ = -1;
};

TEST_F(S5OverIsoOnTcp, TsharkDecodesEveryFetchWriteHeader) {
  e2e::HostBytes words = e2e::Words({0x1234, 0xABCD});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("04DW0100030"), 2, words.data()), 0);
  EXPECT_EQ(ReadBlock("04DW0100030", 1, 2, 4), words);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // dumpcap writes what it saw
  StopProgram(dumpcap_);
  dumpcap_ = -1;

  const std::string options = "-d tcp.port==" + std::to_string(station_->port()) + ",tpkt";
  std::string why;
  const std::vector<DecodedFrame> frames = DecodeWithTshark(capture(), why, options);
  if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
  size_t h1 = 0;
  for (const DecodedFrame& frame : frames) {
    EXPECT_EQ(frame.problems, std::vector<std::string>{}) << frame.protocols;
    if (frame.protocols.find(":tpkt:cotp:h1") != std::string::npos) ++h1;
  }
  EXPECT_EQ(h1, 4u);

  EXPECT_EQ(H1Headers(capture(), options, why),
            (std::vector<std::string>{"0x03 0x01 10 30 2 ", "0x04     0", "0x05 0x01 10 30 2 ",
                                      "0x06     0"}));
}

}  // namespace
}  // namespace tav::h1eth::test
