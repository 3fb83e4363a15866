#include "h1/connection_manager.h"

#include "config/driver_instance.h"
#include "config/plc_table.h"
#include "platform/host_log.h"

namespace tav {
namespace {

constexpr CommandResult kNoStation = 2;

}  // namespace

CommandResult InitDriver(const Request& request) {
  DriverInstance* instance = request.instance;
  const auto* init = static_cast<const InitBlock*>(request.parameters);
  if (instance == nullptr || init == nullptr) return kNoStation;

  err(kLogLevelNormal, kVersionLine);
  instance->activeFlag = init->enabled;
  if (init->enabled == 0) return 0;

  ResetPlcTable(*instance);
  // Reading the station file and connecting the stations come with the station file.
  return kNoStation;
}

}  // namespace tav
