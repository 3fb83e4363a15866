// The real driver over libh1eth on a network of namespaces: the test program links libh1eth.so,
// so the loaded libtavsh1.so binds its H1 operations there, and plays the host (driver_host.h)
// from the driver's namespace; the test H1 station (h1_station) answers in the station's
// namespace for the stations of the built-in simulated network and two with long data blocks,
// directly or behind the bad network's relay. libh1eth writes what it sends and receives to
// capture.pcap in the test's folder.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver_host.h"
#include "long_blocks.h"
#include "netns.h"

namespace tav::h1eth::test {

using e2e::DWords;
using e2e::Floats;
using e2e::HostBytes;
using e2e::HostLog;
using e2e::Text;
using e2e::Words;

struct StationOptions {
  std::vector<std::string> relay;    // the bad network's arguments; empty: no relay
  std::vector<std::string> station;  // more arguments of h1_station
  std::string settings;              // h1eth.conf's text after kWordAddressedStations
  // Runs in the station's namespace before the station starts (Snap7's server); returns more
  // arguments of h1_station.
  std::function<std::vector<std::string>()> inStationNamespace;
};

// The network of namespaces for a test in `folder`: the station (and relay) it starts, libh1eth
// pointed at the driver's end of the link, its capture and h1eth.conf in the folder.
class H1TestBed {
 public:
  explicit H1TestBed(std::filesystem::path folder);
  ~H1TestBed();
  H1TestBed(const H1TestBed&) = delete;
  H1TestBed& operator=(const H1TestBed&) = delete;

  // Makes the network, starts the station (and relay) and moves this thread into the driver's
  // namespace; false with the reason to skip in `skip` when namespaces cannot be made.
  bool Start(const StationOptions& options, std::string& skip);
  // The driver's namespace was entered: its H1 library may be open.
  bool entered() const { return entered_ != nullptr; }
  // Stops the relay (the station behind it is gone) or the station; returns the last line it
  // printed (its account of what it did).
  std::string StopRelay();
  std::string StopStation();
  std::string capture() const { return (folder_ / "capture.pcap").string(); }
  const TestNetwork& network() const { return *network_; }

 private:
  std::string Stop(pid_t& pid, const std::string& log);

  std::filesystem::path folder_;
  std::unique_ptr<TestNetwork> network_;
  std::unique_ptr<EnteredNamespace> entered_;
  pid_t station_ = -1;
  pid_t relay_ = -1;
  std::string stationLog_;
  std::string relayLog_;
};

class DriverOnH1 : public e2e::DriverHostTest {
 protected:
  DriverOnH1();
  ~DriverOnH1() override;

  bool Start(const StationOptions& options, std::string& skip) { return bed_.Start(options, skip); }
  // The example station file with the long-block stations, initialised with host time-out
  // `timeout` (a retry budget of ten times it).
  int32_t InitialiseExampleStations(int32_t timeout = 100);

  std::string StopRelay() { return bed_.StopRelay(); }
  std::string StopStation() { return bed_.StopStation(); }
  // 5,000 words written to `address` and read back intact.
  void ExpectWordsIntact(const char* address);
  std::string capture() const { return bed_.capture(); }
  const TestNetwork& network() const { return bed_.network(); }

 private:
  H1TestBed bed_{directory()};
};

}  // namespace tav::h1eth::test
