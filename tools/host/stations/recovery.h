// Transfers as a host runs them over stations that come and go: each read or write goes through
// the station's health (station_health.h), a station found without a connection is reconnected
// with command 2 on its back-off schedule, and every change of state is said once on standard
// error with its reason: the newest line that libh1tcp or the driver logged while the station
// failed, or else what the transfer's result means.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/host.h"
#include "stations/station_health.h"
#include "tags/tag.h"
#include "tags/transfer.h"

namespace tavhost {

class StationRecovery {
 public:
  using Say = StationHealth::Say;
  // The changes of state go to `say`; by default to standard error as "tavhost COMMAND: ...".
  StationRecovery(Host& host, std::string command, Say say = {}, Backoff backoff = {});
  ~StationRecovery();
  StationRecovery(const StationRecovery&) = delete;
  StationRecovery& operator=(const StationRecovery&) = delete;

  // Reads (writes) the tag, unless its station is down and its next reconnect not yet due:
  // then nothing runs and the answer is none.
  std::optional<int32_t> Read(const Tag& tag, std::vector<uint8_t>& values);
  std::optional<int32_t> Write(const Tag& tag, std::vector<uint8_t>& values);

  const StationHealth& health() const { return health_; }
  // What the last transfer that ran came to, with what the driver logged of its exchange.
  const TransferResult& lastTransfer() const { return lastTransfer_; }

 private:
  template <typename Transfer>
  std::optional<int32_t> Run(const Tag& tag, Transfer transfer);
  void Reconnect(int station);
  void SayOnStandardError(std::string_view line) const;

  Host& host_;
  std::string command_;
  StationHealth health_;
  std::string newestH1Line_;      // libh1tcp's, since the station's transfer began
  std::string newestDriverLine_;  // the driver's own, likewise
  TransferResult lastTransfer_;
};

// Why a transfer failed, as read and write report it: what the result means and, for a result
// that a time-out can give, the time-out it ran into.
std::string TransferFailureText(const Host& host, const Tag& tag, const TransferResult& transfer);

// A station's connection as the host sees it after initialisation: up when the station's read
// connection came up (on the simulated network: is established), else down with the reason the
// driver's log gave. Used by init.
struct StationStatus {
  int station = 0;
  bool up = false;
  std::string reason;  // empty when up
};
std::vector<StationStatus> StationStatuses(const tav::DriverInstance& instance,
                                           const std::vector<std::string>& initLog,
                                           int32_t timeoutMs);

}  // namespace tavhost
