#include "driver_on_tcp.h"

#include <cstdlib>

namespace tav::h1tcp::test {

DriverOnTcp::DriverOnTcp() : DriverHostTest("h1tcp-e2e-") {
  setenv("TAV_H1TCP_MAP", (directory() / "h1tcp.map").c_str(), 1);
}

DriverOnTcp::~DriverOnTcp() {
  Run(CommandCode::kCloseH1, nullptr);
}

}  // namespace tav::h1tcp::test
