// The Snap7 suite (snap7_test.cpp) over every back-end that reaches Snap7's S7 server: libh1tcp
// over TCP, libh1eth through the test H1 station, which hands each S7 connection's messages to
// the server in its namespace. Each back-end's program links the cases (tav_snap7_cases) and
// instantiates them with its Snap7BackEnd.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "driver_host.h"
#include "snap7_process.h"

namespace tav::h1tcp::test {

// The stations of the suite: S7 station 1 (the server's PDU of 480), type-6 station 5 (the same
// server, its data blocks counted in words) and S7 station 9, which leads nowhere.
inline constexpr const char* kSnap7Stations =
    "1=7,0A0B0C010201,2\n5=6,0A0B0C010205,2\n9=7,0A0B0C010209,2\n";

// Snap7's server and the way to it, for one test; destroyed after the driver closed its library.
class Snap7BackEnd {
 public:
  virtual ~Snap7BackEnd() = default;
  // Starts the server and readies the way to it for a test in `folder`; empty, or why the test
  // cannot run here.
  virtual std::string Start(const std::filesystem::path& folder) = 0;
  virtual Snap7Server& server() = 0;
  // Why a server stopped under a running connection cannot be seen here; empty when it can.
  virtual std::string HidesAStoppedServer() const { return {}; }
};

struct Snap7Choice {
  const char* name;
  std::unique_ptr<Snap7BackEnd> (*make)();
};

class Snap7Test : public e2e::DriverHostTest, public ::testing::WithParamInterface<Snap7Choice> {
 protected:
  Snap7Test() : DriverHostTest("snap7-e2e-") {}
  void SetUp() override;
  void TearDown() override;
  Snap7Server& server() { return backEnd_->server(); }
  const Snap7BackEnd& backEnd() const { return *backEnd_; }

 private:
  std::unique_ptr<Snap7BackEnd> backEnd_;
  bool started_ = false;
};

inline void PrintTo(const Snap7Choice& choice, std::ostream* out) { *out << choice.name; }

inline std::string Snap7BackEndName(const ::testing::TestParamInfo<Snap7Choice>& info) {
  return info.param.name;
}

}  // namespace tav::h1tcp::test
