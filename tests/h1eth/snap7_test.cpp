// The Snap7 suite (tests/h1tcp/snap7_test.cpp) over libh1eth: S7 jobs that crossed H1 answered by
// Snap7's S7 server, an implementation no one here wrote. The test station hands each TSDU of an
// S7 connection to Snap7 over RFC 1006 in the station's namespace, so the PDU is the one the
// driver's session agreed with Snap7 across H1.
#include <memory>
#include <string>
#include <vector>

#include "driver_on_h1.h"
#include "snap7_back_end.h"

namespace tav::h1tcp::test {
namespace {

class Snap7OverH1 : public Snap7BackEnd {
 public:
  std::string Start(const std::filesystem::path& folder) override {
    bed_ = std::make_unique<h1eth::test::H1TestBed>(folder);
    h1eth::test::StationOptions options;
    options.inStationNamespace = [this]() -> std::vector<std::string> {
      server_ = std::make_unique<Snap7Server>();
      return {"--snap7-port", std::to_string(server_->port())};
    };
    std::string skip;
    if (!bed_->Start(options, skip)) return skip;
    return server_->unavailable();
  }
  Snap7Server& server() override { return *server_; }
  std::string HidesAStoppedServer() const override {
    return "the H1 connection to the test station stays up while Snap7 behind it stops: the "
           "driver's requests go unanswered (rc=6) instead of meeting a broken connection";
  }

 private:
  std::unique_ptr<Snap7Server> server_;
  std::unique_ptr<h1eth::test::H1TestBed> bed_;
};

INSTANTIATE_TEST_SUITE_P(OverH1, Snap7Test,
                         ::testing::Values(Snap7Choice{
                             "H1", []() -> std::unique_ptr<Snap7BackEnd> {
                               return std::make_unique<Snap7OverH1>();
                             }}),
                         Snap7BackEndName);

}  // namespace
}  // namespace tav::h1tcp::test
