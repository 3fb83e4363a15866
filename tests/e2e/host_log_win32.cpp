// The driver's messages reach KORHOST.DLL's `err`, which hands each formatted line to the log this
// test program registers before any test runs.
#include "korhost.h"
#include "loaded_driver.h"

namespace tav::e2e {
namespace {

void Record(int32_t level, const char* text) {
  HostLog().push_back({level, text});
}

[[maybe_unused]] const bool registered = (KorHostSetLogSink(Record), true);

}  // namespace
}  // namespace tav::e2e
