#include "config/plc_table.h"

#include <algorithm>
#include <iterator>

#include "platform/host_log.h"

namespace tav {
namespace {

constexpr uint8_t kResetReserved2 = 2;
constexpr uint8_t kDefaultSlot = 2;
constexpr size_t kTsapLoggedLength = 8;

// The two-byte S7 TSAPs that a reset leaves in the text fields; S5 lines of the station file
// overwrite them, and S7 connect requests build theirs from constants and the slot.
constexpr char kResetLocalTsap[] = {1, 1};
constexpr char kResetRemoteTsap[] = {3, 2};

constexpr const char kSeparator[] = "TavSH1: =========================================";

void ResetEntry(PlcEntry& entry) {
  entry.plcType = kPlcTypeS7;
  entry.reserved1 = 0;
  entry.readConnection = 0;
  entry.writeConnection = 0;
  entry.reserved2 = kResetReserved2;
  // Clear the address text up to its terminator; the bytes beyond it are left as they are.
  std::fill(std::begin(entry.ethernetAddress),
            std::find(std::begin(entry.ethernetAddress), std::end(entry.ethernetAddress), '\0'),
            '\0');
  std::copy(std::begin(kResetLocalTsap), std::end(kResetLocalTsap), entry.ltsap);
  std::copy(std::begin(kResetRemoteTsap), std::end(kResetRemoteTsap), entry.rtsap);
  entry.slot = kDefaultSlot;
}

}  // namespace

bool ResetPlcTable(DriverInstance& instance) {
  for (PlcEntry& entry : instance.plcTable) ResetEntry(entry);
  return true;
}

void LogStation(DriverInstance& instance, int station) {
  PlcEntry& entry = instance.plcTable[station];
  entry.ltsap[kTsapLoggedLength] = '\0';
  entry.rtsap[kTsapLoggedLength] = '\0';
  entry.wtsap[kTsapLoggedLength] = '\0';

  err(kLogLevelNormal, kSeparator);
  err(kLogLevelNormal, "TavSH1: PLC # %d Type     = %d", station, entry.plcType);
  err(kLogLevelNormal, "TavSH1: PLC # %d EA Addr  = %s", station, entry.ethernetAddress);
  if (entry.plcType == kPlcTypeS5) {
    err(kLogLevelNormal, "TavSH1: PLC # %d LTSAP    = <%s>", station, entry.ltsap);
    err(kLogLevelNormal, "TavSH1: PLC # %d RTSAP    = <%s>", station, entry.rtsap);
    err(kLogLevelNormal, "TavSH1: PLC # %d WTSAP    = <%s>", station, entry.wtsap);
  } else {
    err(kLogLevelNormal, "TavSH1: PLC # %d Slot     = %x", station, entry.slot);
  }
  err(kLogLevelNormal, kSeparator);
}

}  // namespace tav
