// The base of every unit test that runs the driver against the fakes: a fresh, zero-filled
// DriverInstance, an empty log, no sleeps and an H1 library with nothing scripted.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "abi/driver_instance.h"
#include "abi/records.h"
#include "driver/tav_main.h"
#include "support/fake_h1_library.h"
#include "support/fake_host_log.h"
#include "support/fake_sleep.h"

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
  int32_t Run(int32_t command, void* parameters, int32_t driverNumber = 0) {
    Request request{instance_.get(), command, driverNumber, 0, parameters};
    return TavMain(&request);
  }

 private:
  std::unique_ptr<DriverInstance> instance_ = std::make_unique<DriverInstance>();
};

}  // namespace tav::fake
