// The real driver over libh1tcp: the test program links libh1tcp.so, so the loaded libtavsh1.so
// binds its H1 operations there, and plays the host (driver_host.h); each test's folder holds the
// station map beside the station file. Beside it, the stations the tests talk to: Snap7's S7
// server, run as a program of its own, and an S5 fetch/write responder of ours.
#pragma once

#include <cstdint>
#include <string_view>

#include "driver_host.h"
#include "frames.h"
#include "s5_responder.h"
#include "snap7_process.h"

namespace tav::h1tcp::test {

using e2e::DWords;
using e2e::Floats;
using e2e::HostLog;
using e2e::Text;
using e2e::Words;

class DriverOnTcp : public e2e::DriverHostTest {
 protected:
  DriverOnTcp();
  ~DriverOnTcp() override;

  void WriteMap(std::string_view text) const { WriteFile("h1tcp.map", text); }
  // The host time-out 100 gives a connection wait of 100 polls, room for a loaded machine.
  int32_t Initialise(int32_t timeout = 100) { return DriverHostTest::Initialise(timeout); }
};

}  // namespace tav::h1tcp::test
