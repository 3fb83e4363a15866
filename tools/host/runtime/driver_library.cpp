#include "runtime/driver_library.h"

namespace tavhost {

int32_t DriverLibrary::Run(tav::DriverInstance* instance, tav::CommandCode command,
                           void* parameters, int32_t driverNumber) const {
  tav::Request request = tav::MakeRequest(instance, command, parameters, driverNumber);
  return main_(&request);
}

}  // namespace tavhost
