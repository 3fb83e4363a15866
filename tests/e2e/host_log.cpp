#include "loaded_driver.h"

namespace tav::e2e {

std::vector<HostLogLine>& HostLog() {
  static std::vector<HostLogLine> lines;
  return lines;
}

}  // namespace tav::e2e
