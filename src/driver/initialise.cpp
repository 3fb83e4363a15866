#include "driver/initialise.h"

#include <algorithm>
#include <limits>

#include "config/plc_table.h"
#include "config/station_file.h"
#include "h1/connection_manager.h"
#include "platform/host_log.h"

namespace tav {
namespace {

constexpr CommandResult kNoStation = 2;  // the station file yields no station

constexpr int64_t kBudgetPerTimeoutUnit = 10;
constexpr int64_t kSmallestBudget = 100;
constexpr int32_t kFallbackBudget = 1000;  // for time-outs whose budget would be below 100

int32_t RetryBudgetFor(int32_t timeout) {
  const int64_t budget = timeout * kBudgetPerTimeoutUnit;
  if (budget < kSmallestBudget) return kFallbackBudget;
  return static_cast<int32_t>(std::min<int64_t>(budget, std::numeric_limits<int32_t>::max()));
}

}  // namespace

CommandResult InitDriver(const Request& request) {
  DriverInstance* instance = request.instance;
  const auto* init = static_cast<const InitBlock*>(request.parameters);
  if (instance == nullptr || init == nullptr) return kNoStation;

  err(kLogLevelNormal, kVersionLine);
  instance->activeFlag = init->enabled;
  if (init->enabled == 0) return kResultSuccess;

  instance->retryBudget = RetryBudgetFor(init->timeout);
  ResetPlcTable(*instance);
  if (!ReadStationFile(*instance, request.driverNumber)) return kNoStation;
  ConnectAll(*instance);
  return kResultSuccess;
}

}  // namespace tav
