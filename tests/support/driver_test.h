// The base of every unit test that runs the driver against the fakes: a fresh, zero-filled
// DriverInstance, an empty log, no sleeps and an H1 library with nothing scripted.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

#include "abi/driver_instance.h"
#include "abi/records.h"
#include "driver/tav_main.h"
#include "support/fake_h1_library.h"
#include "support/fake_host_log.h"
#include "support/fake_sleep.h"

namespace tav {

// Test messages show a command by its number.
inline std::ostream& operator<<(std::ostream& out, CommandCode code) {
  return out << ToInt(code);
}

}  // namespace tav

namespace tav::fake {

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLog();
    ClearSleeps();
    H1().Reset();
  }

  DriverInstance& instance() { return *instance_; }
  PlcEntry& station(int number) { return instance_->plcTable[number]; }

  // Sends `command` through TavMain as the host does.
  int32_t Run(CommandCode command, void* parameters, int32_t driverNumber = 0) {
    Request request = MakeRequest(instance_.get(), command, parameters, driverNumber);
    return TavMain(&request);
  }

 private:
  std::unique_ptr<DriverInstance> instance_ = std::make_unique<DriverInstance>();
};

}  // namespace tav::fake
