#include "h1/connection_manager.h"

#include "h1/connect_record.h"
#include "platform/h1_library.h"
#include "platform/host_log.h"
#include "platform/sleep.h"

namespace tav {
namespace {

constexpr CommandResult kDone = 0;
constexpr CommandResult kConnectFailed = 1;  // reconnect: the station could not be connected

constexpr uint32_t kS7OpenReserved = 0;

constexpr int32_t kBudgetPerPoll = 10;  // a connection wait polls a tenth of the budget
constexpr uint32_t kPollPauseMilliseconds = 1;

bool OpenAccepted(uint16_t result, uint16_t statusWord) {
  return result == kH1Done && (statusWord == kOpenStatusDone || statusWord == kOpenStatusPending);
}

// After a failed write connection, releases what the library handed out for it. The record
// still holds the read connection's identifier when the second open wrote none, and that
// connection stays in use.
void ReleaseWriteAttempt(const ConnectRecord& record, uint16_t readConnection) {
  if (record.connection != 0 && record.connection != readConnection) {
    H1ReleaseConnection(record.connection);
  }
}

}  // namespace

CommandResult ReconnectStation(const Request& request) {
  DriverInstance* instance = request.instance;
  const auto* reconnect = static_cast<const ReconnectBlock*>(request.parameters);
  if (instance == nullptr || reconnect == nullptr) return kConnectFailed;
  const int32_t station = reconnect->stationNumber;
  if (!IsStationNumber(station)) return kConnectFailed;

  const PlcEntry& entry = instance->plcTable[station];
  // A station the station file never configured has no address to connect to: opening one
  // would dial the all-zero address and wait out the whole connection budget.
  if (!IsConfigured(entry)) return kConnectFailed;
  if (entry.readConnection == 0 && !ConnectStation(*instance, station)) return kConnectFailed;

  // A wait that runs out is not reported: the transfers find out soon enough.
  H1RestartConnection(entry.readConnection);
  if (WaitConnected(*instance, entry.readConnection)) {
    err(kLogLevelNormal, "TavSH1: Reconnect Read Success, Plc #%d !!! ", station);
  }
  if (entry.plcType == kPlcTypeS5) {
    // Also when the station has no write connection: the library is asked about identifier 0.
    H1RestartConnection(entry.writeConnection);
    if (WaitConnected(*instance, entry.writeConnection)) {
      err(kLogLevelNormal, "TavSH1: Reconnect Write Success, Plc #%d !!! ", station);
    }
  }
  return kDone;
}

CommandResult CloseH1(const Request& /*request*/) {
  if (H1CloseDriver() != kH1Done) err(kLogLevelNormal, "TavSH1: Fail to close driver !");
  return kDone;
}

void ConnectAll(DriverInstance& instance) {
  const uint16_t result = H1OpenDriver();
  if (result != kH1Done) {
    err(kLogLevelNormal, "TavSH1: Fail to open H1 Driver (%d)", result);
    return;
  }
  for (int station = 0; station < kStationCount; ++station) {
    if (IsConfigured(instance.plcTable[station])) {
      // A station that doesn't come up has logged why; the host reconnects it later.
      static_cast<void>(ConnectStation(instance, station));
    }
  }
}

bool ConnectStation(DriverInstance& instance, int station) {
  if (instance.plcTable[station].plcType == kPlcTypeS5) return ConnectS5(instance, station);
  return ConnectS7(instance, station);
}

bool ConnectS7(DriverInstance& instance, int station) {
  PlcEntry& entry = instance.plcTable[station];
  ConnectRecord record = BuildS7ConnectRecord(entry);

  const uint16_t result = H1OpenS7Connection(&record, kS7OpenReserved);
  if (!OpenAccepted(result, record.statusWord)) {
    err(kLogLevelNormal, "TavSH1: Strat Connection Failed Plc #%d (%d,%d)", station, result,
        record.statusWord);
    H1ReleaseConnection(record.connection);
    return false;
  }
  if (!WaitConnected(instance, record.connection)) {
    err(kLogLevelNormal, "TavSH1: Connection FAIL, Plc #%d !!! ", station);
    H1ReleaseConnection(record.connection);
    return false;
  }
  err(kLogLevelNormal, "TavSH1: Connection Success, Plc #%d !!! ", station);
  entry.readConnection = record.connection;
  return true;
}

bool ConnectS5(DriverInstance& instance, int station) {
  PlcEntry& entry = instance.plcTable[station];
  ConnectRecord record = BuildS5ConnectRecord(entry);

  uint16_t result = H1OpenS5Connection(&record);
  if (!OpenAccepted(result, record.statusWord)) {
    err(kLogLevelNormal, "TavSH1: Strat Read Connection Failed Plc #%d (%d,%d)", station, result,
        record.statusWord);
    H1ReleaseConnection(record.connection);
    return false;
  }
  const uint16_t readConnection = record.connection;
  if (!WaitConnected(instance, readConnection)) {
    err(kLogLevelNormal, "TavSH1: Read Connection FAIL, Plc #%d !!! ", station);
    H1ReleaseConnection(readConnection);
    return false;
  }
  err(kLogLevelNormal, "TavSH1: Read Connection Success, Plc #%d !!! ", station);
  entry.readConnection = readConnection;

  SetS5WriteTsap(record, entry);
  result = H1OpenS5Connection(&record);
  if (!OpenAccepted(result, record.statusWord)) {
    err(kLogLevelNormal, "TavSH1: Strat Write Connection Failed Plc #%d (%d,%d)", station, result,
        record.statusWord);
    ReleaseWriteAttempt(record, readConnection);
    return false;
  }
  if (!WaitConnected(instance, record.connection)) {
    // The station still reads and writes over its read connection.
    err(kLogLevelNormal, "TavSH1: Write Connection FAIL, Plc #%d !!! ", station);
    ReleaseWriteAttempt(record, readConnection);
    return true;
  }
  err(kLogLevelNormal, "TavSH1: Write Connection Success, Plc #%d !!! ", station);
  entry.writeConnection = record.connection;
  return true;
}

bool WaitConnected(const DriverInstance& instance, uint16_t connection) {
  for (int32_t polls = instance.retryBudget / kBudgetPerPoll; polls > 0; --polls) {
    if (H1ConnectionState(connection) == kH1Done) return true;
    SleepMilliseconds(kPollPauseMilliseconds);
  }
  return false;
}

}  // namespace tav
