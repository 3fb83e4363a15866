// Runs command 1 on arbitrary station files, with an H1 driver library that accepts every
// connection at once (the instant fakes).
//
// Input: the bytes of tavSH101.int, which the fuzzer writes into a directory of its own, its
// current directory (so corpus directories are given with absolute paths, as scripts/fuzz.sh
// does). Checked after every call, which must return:
//  - the result is 0 or 2, and 0 only when some station is configured;
//  - every configured station (non-empty address) lies in 1 to 98, has type 5, 6 or 7 and an
//    address of exactly 12 hexadecimal digits; only configured stations hold connections;
//  - every address field holds its terminating NUL, and so does every TSAP of a configured S5
//    station, within its 8 characters. (The instance starts filled with 0xA5, as a host may leave
//    it: the reset sets only the first two bytes of ltsap and rtsap and leaves wtsap alone, so the
//    TSAP fields of entries that no S5 line configured may stay unterminated; nothing reads them.)
//  - nothing before the PlcTable changes but retryBudget and activeFlag;
//  - a file without any station never reaches the H1 driver library.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "abi/driver_instance.h"
#include "abi/records.h"
#include "vocabulary/ethernet_address.h"
#include "driver/tav_main.h"
#include "support/instant_h1_library.h"

namespace {

using tav::DriverInstance;
using tav::PlcEntry;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "station file fuzzer: %s\n", what);
  std::abort();
}

template <size_t N>
bool Terminated(const char (&field)[N], size_t within = N) {
  return std::memchr(field, '\0', within) != nullptr;
}

constexpr size_t kTsapCharacters = 8;

bool IsEthernetAddress(const char (&address)[16]) {
  if (std::strlen(address) != 12) return false;
  for (size_t i = 0; i < 12; ++i) {
    if (tav::HexDigitValue(address[i]) < 0) return false;
  }
  return true;
}

// A directory of the fuzzer's own, in memory where the system has /dev/shm, made its current
// directory once and removed at exit.
char directory[64];

void RemoveOwnDirectory() {
  std::remove("tavSH101.int");
  rmdir(directory);
}

void EnterOwnDirectory() {
  static const bool entered = [] {
    for (const char* base : {"/dev/shm", "/tmp"}) {
      std::snprintf(directory, sizeof directory, "%s/tavsh1-station-fuzz-XXXXXX", base);
      if (mkdtemp(directory) != nullptr && chdir(directory) == 0) {
        std::atexit(RemoveOwnDirectory);
        return true;
      }
    }
    Require(false, "no directory of its own");
    return false;
  }();
  (void)entered;
}

void WriteStationFile(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen("tavSH101.int", "wb");
  Require(file != nullptr, "cannot write the station file");
  Require(std::fwrite(data, 1, size, file) == size || size == 0, "short write");
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto instance = std::make_unique<DriverInstance>();
  static auto before = std::make_unique<DriverInstance>();
  EnterOwnDirectory();
  WriteStationFile(data, size);
  tav::instant::Reset();
  // What the host may leave in an instance before its first initialisation.
  std::memset(instance.get(), 0xA5, sizeof(DriverInstance));
  std::memcpy(before.get(), instance.get(), sizeof(DriverInstance));

  tav::InitBlock init{{}, 1, 0};
  tav::Request request{instance.get(), 1, 1, 0, &init};
  const int32_t result = TavMain(&request);

  Require(result == 0 || result == 2, "result neither 0 nor 2");
  Require(instance->retryBudget == 1000 && instance->activeFlag == 1, "budget or enable flag");
  Require(
      std::memcmp(&before->portHandle, &instance->portHandle,
                  offsetof(DriverInstance, activeFlag) - offsetof(DriverInstance, portHandle)) ==
              0 &&
          std::memcmp(before->portName, instance->portName,
                      offsetof(DriverInstance, plcTable) - offsetof(DriverInstance, portName)) == 0,
      "something before the PlcTable changed");
  bool anyConfigured = false;
  for (int station = 0; station < tav::kStationCount; ++station) {
    const PlcEntry& entry = instance->plcTable[station];
    Require(Terminated(entry.ethernetAddress), "an address without its NUL");
    if (!tav::IsConfigured(entry)) {
      Require(entry.readConnection == 0 && entry.writeConnection == 0,
              "an unconfigured station holds a connection");
      continue;
    }
    anyConfigured = true;
    Require(station >= 1, "station 0 configured");
    Require(entry.plcType >= 5 && entry.plcType <= 7, "configured station of another type");
    Require(IsEthernetAddress(entry.ethernetAddress), "address not 12 hexadecimal digits");
    if (entry.plcType == tav::kPlcTypeS5) {
      Require(Terminated(entry.ltsap, kTsapCharacters + 1) &&
                  Terminated(entry.rtsap, kTsapCharacters + 1) &&
                  Terminated(entry.wtsap, kTsapCharacters + 1),
              "a TSAP of an S5 station longer than 8 characters or without its NUL");
    }
  }
  Require(result == 2 || anyConfigured, "result 0 without a station");
  if (result == 2) {
    Require(tav::instant::Counters().h1Calls == 0, "H1 library called for a file without station");
  }
  return 0;
}
