// The end-to-end cases every H1 back-end runs: the stations of examples/tavSH101.int, their rows
// written and read back, bits, refusals. One suite, value-parametrised by back-end: each
// back-end's program (the simulated network's, libh1tcp's, libh1eth's) links the cases
// (tav_e2e_cases) and instantiates them with its BackEnd, which brings up the peers its H1
// library talks to.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "driver_host.h"

namespace tav::e2e {

// What a case needs beyond writing and reading back.
enum class Need {
  kPresetValues,  // the values the simulated network's stations were given
};

// What one back-end brings up for one test; destroyed after the driver closed its H1 library.
class BackEnd {
 public:
  virtual ~BackEnd() = default;
  // Readies the peers behind the example stations for a test in `folder` (environment, files,
  // processes); empty, or why the test cannot run here.
  virtual std::string Start(const std::filesystem::path& folder) = 0;
  // Why a case needing `need` cannot run here; empty when it can.
  virtual std::string Lacks(Need need) const = 0;
  // The host's time-out for command 1: the unreachable stations wait out ten times it.
  virtual int32_t timeout() const { return 100; }
};

struct BackEndChoice {
  const char* name;
  std::unique_ptr<BackEnd> (*make)();
};

class ExampleStationsTest : public DriverHostTest,
                            public ::testing::WithParamInterface<BackEndChoice> {
 protected:
  ExampleStationsTest() : DriverHostTest("e2e-") {}
  void SetUp() override;
  void TearDown() override;
  // Why the back-end cannot give the case `need` (the case then skips with it); empty when it can.
  std::string Lacks(Need need) const { return backEnd_->Lacks(need); }

 private:
  std::unique_ptr<BackEnd> backEnd_;
  bool started_ = false;
};

inline void PrintTo(const BackEndChoice& choice, std::ostream* out) { *out << choice.name; }

inline std::string BackEndName(const ::testing::TestParamInfo<BackEndChoice>& info) {
  return info.param.name;
}

}  // namespace tav::e2e
