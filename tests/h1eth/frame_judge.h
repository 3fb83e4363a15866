// The judges of captured H1 frames that share no code with the library: tshark's dissectors,
// which must decode every frame along the expected protocol path with no malformed packet and no
// expert error (but one: Debian's Wireshark sums the wrong span when it checks a class-4 COTP
// checksum and marks every one "Bad checksum"); and the checksum computed from ISO 8073's own
// rule in the test: the octets' running sums are zero modulo 255.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "raw_link.h"

namespace tav::h1eth::test {

// The frames of a pcap file (Ethernet link type); nothing when it is no such file.
std::optional<std::vector<Frame>> ReadPcap(const std::string& path);
// Writes frames as a pcap file of link type Ethernet.
bool WritePcap(const std::string& path, const std::vector<Frame>& frames);

// ISO 8073's rule: C0 = sum of the octets, C1 = sum of the C0 after each octet, both modulo 255,
// must both be zero over a TPDU that carries the checksum parameter.
bool ChecksumSumsAreZero(std::span<const uint8_t> tpdu);
// Whether a TPDU's variable part carries the checksum parameter (code 0xC3).
bool CarriesChecksum(std::span<const uint8_t> tpdu);

// One frame as tshark decoded it.
struct DecodedFrame {
  std::string protocols;            // frame.protocols: "eth:llc:osi:clnp:cotp:h1"
  std::optional<uint8_t> tpduKind;  // cotp.type: 0x0e CR, 0x0d CC, 0x0f DT, 0x06 AK...
  std::vector<std::string>
      problems;  // malformed and expert errors, the known checksum one left out
};
// Empty with `why` set when tshark is not there or failed. `options` go to tshark as they are
// ("-d tcp.port==1234,tpkt").
std::vector<DecodedFrame> DecodeWithTshark(const std::string& pcap, std::string& why,
                                           const std::string& options = "");
// The fields of every frame as tshark shows them (occurrences joined by ';').
std::vector<std::vector<std::string>> TsharkFields(const std::string& pcap,
                                                   const std::vector<std::string>& fields,
                                                   const std::string& options, std::string& why);
// The fetch/write header's fields as tshark's h1 dissector decodes them, for the frames that
// carry one: "opcode org dbnr dwnr dlen resvalue", absent fields empty.
std::vector<std::string> H1Headers(const std::string& pcap, const std::string& options,
                                   std::string& why);

}  // namespace tav::h1eth::test
