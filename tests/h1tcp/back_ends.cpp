// libh1tcp as the back-end of the suites every back-end runs: the example stations on Snap7's
// servers (S7 stations 1 and 5) and on an S5 fetch/write responder of ours over plain TCP
// (station 3; the others lead nowhere), and the Snap7 suite on one server alone. The map goes into the test's folder.
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "back_end.h"
#include "s5_responder.h"
#include "snap7_back_end.h"

namespace tav::h1tcp::test {
namespace {

void WriteMap(const std::filesystem::path& folder, const std::string& text) {
  const std::filesystem::path map = folder / "h1tcp.map";
  std::ofstream(map, std::ios::binary) << text;
  setenv("TAV_H1TCP_MAP", map.c_str(), 1);
}

std::string At(uint16_t port) {
  return "127.0.0.1:" + std::to_string(port);
}

class ExampleStationsOverTcp : public e2e::BackEnd {
 public:
  std::string Start(const std::filesystem::path& folder) override {
    if (!servers_.unavailable().empty()) return servers_.unavailable();
    WriteMap(folder, "0A0B0C010201 = " + At(servers_.ports()[0]) + ", s7\n" +
                         "0A0B0C010203 = " + At(s5_.port()) +
                         ", s5-tcp, write-port=" + std::to_string(s5_.writePort()) + "\n" +
                         "0A0B0C010205 = " + At(servers_.ports()[1]) + ", s7-words\n");
    return {};
  }
  std::string Lacks(e2e::Need) const override {
    return "Snap7's servers and the S5 responder start zeroed: no simulation file gives them values";
  }

 private:
  // Stations 1 and 5 on servers of their own: their process areas lie at the same addresses.
  Snap7Server servers_{480, 2};
  S5Responder s5_{false};
};

class Snap7OverTcp : public Snap7BackEnd {
 public:
  std::string Start(const std::filesystem::path& folder) override {
    if (!server_.unavailable().empty()) return server_.unavailable();
    WriteMap(folder, "0A0B0C010201 = " + At(server_.port()) + ", s7, pdu=480\n" +
                         "0A0B0C010205 = " + At(server_.port()) + ", s7-words\n");
    return {};
  }
  Snap7Server& server() override { return server_; }

 private:
  Snap7Server server_;
};

INSTANTIATE_TEST_SUITE_P(OverTcp, Snap7Test,
                         ::testing::Values(Snap7Choice{
                             "Tcp", []() -> std::unique_ptr<Snap7BackEnd> {
                               return std::make_unique<Snap7OverTcp>();
                             }}),
                         Snap7BackEndName);

using e2e::BackEnd;
using e2e::BackEndChoice;
using e2e::BackEndName;
using e2e::ExampleStationsTest;

INSTANTIATE_TEST_SUITE_P(OverTcp, ExampleStationsTest,
                         ::testing::Values(BackEndChoice{
                             "Tcp", []() -> std::unique_ptr<BackEnd> {
                               return std::make_unique<ExampleStationsOverTcp>();
                             }}),
                         BackEndName);

}  // namespace
}  // namespace tav::h1tcp::test
