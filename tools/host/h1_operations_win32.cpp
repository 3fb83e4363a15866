// On Windows the driver imports the H1 operations from the H1 library's DLL beside it, bound when
// tavsh1.dll loads: tavhost cannot hand them to another library at run time.
#include <fmt/core.h>

#include <cstdio>
#include <cstdlib>

#include "h1_operations.h"

namespace tavhost {

void UseH1OverTcp(const std::string& /*library*/, const std::string& /*map*/) {
  fmt::print(stderr,
             "--tcp-map works on Linux only; on Windows put libh1tcp's H1 library DLL beside "
             "tavsh1.dll in place of the simulated network's\n");
  std::exit(1);
}

bool UsingH1OverTcp() {
  return false;
}

}  // namespace tavhost
