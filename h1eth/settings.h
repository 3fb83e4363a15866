// The transport's settings from the optional file h1eth.conf, found as every configuration file
// beside the driver is: the file TAV_H1ETH_CONF names, else /etc/tavsh1/h1eth.conf, else
// h1eth.conf beside the library. No file: the defaults, which suit a plain Ethernet segment.
//
// The file is TOML, one `key = value` a line, `#` starts a comment:
//   tpdu_size = 1024            largest TPDU offered: 128, 256, 512 or 1024 bytes (an Ethernet
//                               frame holds no more)
//   checksum = true             ask for the class 4 checksum on every TPDU
//   extended_numbering = false  offer 31-bit sequence numbers (credit up to 65,535)
//   credit = 8                  DTs the station may send ahead of our acknowledgement (1 to 15,
//                               or to 65,535 with extended numbering)
//   retransmission_ms = 200     a TPDU unacknowledged this long is sent again
//   retries = 8                 sent again at most this often; then the station is gone
//   acknowledge_ms = 10         longest delay of an acknowledgement
//   window_ms = 5000            an idle connection sends an AK this often (keep-alive)
//   inactivity_ms = 30000       a station silent this long is declared gone
//   word_addressed = ["080006000001", ...]
//                               the Ethernet addresses (12 hex digits, as the station file
//                               writes them) of the S7 stations that are S5 word memory reached
//                               like an S7 station (type 6): their data blocks count words
// An entry of word_addressed that is not 12 hex digits is reported with its line and left out.
// A key the library does not know, a value of the wrong kind or outside its range is reported
// once, with its line, and that key keeps its default; a file that is not TOML is reported once
// and every key keeps its default.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "h1eth/class4.h"
#include "vocabulary/ethernet_address.h"

namespace tav::h1eth {

// The transport's defaults, which the file's keys keep when it does not set them.
inline constexpr TransportSettings kTransportDefaults{};

constexpr uint32_t Milliseconds(Microseconds time) {
  return static_cast<uint32_t>(time / 1000);
}

// What the file sets, in its units; TransportSettingsOf turns them into the transport's.
struct Settings {
  uint16_t tpduBytes = uint16_t{1} << kTransportDefaults.tpduSizeCode;
  bool checksum = kTransportDefaults.checksum;
  bool extendedNumbering = kTransportDefaults.offerExtendedNumbering;
  uint16_t credit = kTransportDefaults.credit;
  uint32_t retransmissionMilliseconds = Milliseconds(kTransportDefaults.retransmissionTime);
  uint32_t retries = static_cast<uint32_t>(kTransportDefaults.maxTransmissions - 1);
  uint32_t acknowledgeMilliseconds = Milliseconds(kTransportDefaults.acknowledgeDelay);
  uint32_t windowMilliseconds = Milliseconds(kTransportDefaults.windowTime);
  uint32_t inactivityMilliseconds = Milliseconds(kTransportDefaults.inactivityTime);
  std::vector<EthernetAddress> wordAddressedStations;  // type 6: data blocks count words

  bool operator==(const Settings&) const = default;
};

struct SettingsReading {
  Settings settings;
  std::vector<std::string> problems;  // "line N: what is wrong", or what keeps the file unread
};

inline constexpr char kSettingsFileName[] = "h1eth.conf";
inline constexpr char kSettingsVariable[] = "TAV_H1ETH_CONF";
// The largest settings file read; a larger one is reported and ignored.
inline constexpr size_t kSettingsByteLimit = 64 * 1024;

// A leading UTF-8 byte-order mark is skipped.
SettingsReading ParseSettings(std::string_view text);

// Where h1eth.conf is looked for: `variable` (TAV_H1ETH_CONF's value) when it is set, else
// /etc/tavsh1/, else `libraryFolder` (with its trailing separator). Found without opening anything.
std::string SettingsFilePath(std::string_view variable, std::string_view libraryFolder);

// The file at `path`, read and parsed: the defaults when there is none. Only a regular file of at
// most kSettingsByteLimit bytes is read; a folder, a FIFO, a device, a larger file or one that
// cannot be read is one problem ("is a directory: the defaults apply", to follow the path) and
// leaves the defaults. A file that is not there is a problem too where TAV_H1ETH_CONF `named` it:
// a mistyped path would otherwise go unnoticed, and with it every key the file was to set.
SettingsReading ReadSettingsFile(const std::string& path, bool named = false);

// What the settings ask of the class 4 transport.
TransportSettings TransportSettingsOf(const Settings& settings);

// Whether the settings name the station at `address` among those whose data blocks count words.
bool IsWordAddressed(const Settings& settings, const EthernetAddress& address);

}  // namespace tav::h1eth
