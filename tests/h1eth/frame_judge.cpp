#include "frame_judge.h"

#include <stdio.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace tav::h1eth::test {
namespace {

constexpr uint32_t kPcapMagic = 0xA1B2C3D4;
constexpr uint32_t kLinkTypeEthernet = 1;
constexpr const char* kSeverityError = "8388608";  // tshark's PI_ERROR

uint32_t Little32(const uint8_t* at) {
  return at[0] | at[1] << 8 | at[2] << 16 | uint32_t{at[3]} << 24;
}

void PutLittle32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

}  // namespace

std::optional<std::vector<Frame>> ReadPcap(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() < 24 || Little32(data) != kPcapMagic ||
      Little32(data + 20) != kLinkTypeEthernet) {
    return std::nullopt;
  }
  std::vector<Frame> frames;
  for (size_t at = 24; at + 16 <= bytes.size();) {
    const uint32_t captured = Little32(data + at + 8);
    at += 16;
    if (at + captured > bytes.size()) return std::nullopt;
    frames.emplace_back(data + at, data + at + captured);
    at += captured;
  }
  return frames;
}

bool WritePcap(const std::string& path, const std::vector<Frame>& frames) {
  std::string out;
  for (uint32_t word : {kPcapMagic, 0x00040002u, 0u, 0u, 65535u, kLinkTypeEthernet}) {
    PutLittle32(out, word);
  }
  for (const Frame& frame : frames) {
    for (uint32_t word :
         {0u, 0u, static_cast<uint32_t>(frame.size()), static_cast<uint32_t>(frame.size())}) {
      PutLittle32(out, word);
    }
    out.append(frame.begin(), frame.end());
  }
  std::ofstream file(path, std::ios::binary);
  file << out;
  return static_cast<bool>(file);
}

bool ChecksumSumsAreZero(std::span<const uint8_t> tpdu) {
  unsigned c0 = 0;
  unsigned c1 = 0;
  for (uint8_t octet : tpdu) {
    c0 = (c0 + octet) % 255;
    c1 = (c1 + c0) % 255;
  }
  return c0 == 0 && c1 == 0;
}

// The variable part begins after the fixed part, whose length depends on the kind (and, for DT,
// AK, EA, ED, on the numbering): walk the parameters from each possible start and accept the
// start whose parameters end exactly at the header's end.
bool CarriesChecksum(std::span<const uint8_t> tpdu) {
  if (tpdu.size() < 2 || size_t{tpdu[0]} + 1 > tpdu.size()) return false;
  const size_t end = size_t{tpdu[0]} + 1;
  for (size_t start = 3; start < end; ++start) {
    bool found = false;
    size_t at = start;
    while (at + 2 <= end && at + 2 + tpdu[at + 1] <= end) {
      found = found || (tpdu[at] == 0xC3 && tpdu[at + 1] == 2);
      at += 2 + tpdu[at + 1];
    }
    if (at == end && found) return true;
  }
  return false;
}

std::vector<std::vector<std::string>> TsharkFields(const std::string& pcap,
                                                   const std::vector<std::string>& fields,
                                                   const std::string& options, std::string& why) {
  std::string command = "tshark -r '" + pcap + "' " + options +
                        " -T fields -E separator=/t -E occurrence=a -E aggregator=';'";
  for (const std::string& field : fields) command += " -e " + field;
  command += " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    why = "tshark could not be started";
    return {};
  }
  std::string output;
  char chunk[4096];
  for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, got);
  const int status = pclose(pipe);
  if (status != 0) {
    why = "tshark failed or is not installed (exit status " + std::to_string(status) + ")";
    return {};
  }
  std::vector<std::vector<std::string>> frames;
  for (const std::string& line : Split(output, '\n')) {
    if (line.empty()) continue;
    frames.push_back(Split(line, '\t'));
    frames.back().resize(fields.size());
  }
  return frames;
}

std::vector<DecodedFrame> DecodeWithTshark(const std::string& pcap, std::string& why,
                                           const std::string& options) {
  const std::vector<std::vector<std::string>> rows =
      TsharkFields(pcap,
                   {"frame.protocols", "cotp.type", "_ws.expert.severity", "_ws.expert.message",
                    "_ws.malformed"},
                   options, why);
  std::vector<DecodedFrame> frames;
  for (const std::vector<std::string>& fields : rows) {
    DecodedFrame frame;
    frame.protocols = fields[0];
    if (!fields[1].empty()) {
      frame.tpduKind = static_cast<uint8_t>(std::stoul(Split(fields[1], ';')[0], nullptr, 0));
    }
    const std::vector<std::string> severities = Split(fields[2], ';');
    const std::vector<std::string> messages = Split(fields[3], ';');
    for (size_t i = 0; i < severities.size(); ++i) {
      const std::string message = i < messages.size() ? messages[i] : "";
      if (severities[i] == kSeverityError && message != "Bad checksum") {
        frame.problems.push_back("expert error: " + message);
      }
    }
    if (!fields[4].empty()) frame.problems.push_back("malformed: " + fields[4]);
    frames.push_back(std::move(frame));
  }
  return frames;
}

std::vector<std::string> H1Headers(const std::string& pcap, const std::string& options,
                                   std::string& why) {
  std::vector<std::string> headers;
  for (const std::vector<std::string>& fields :
       TsharkFields(pcap, {"h1.opcode", "h1.org", "h1.dbnr", "h1.dwnr", "h1.dlen", "h1.resvalue"},
                    options, why)) {
    if (fields[0].empty()) continue;
    std::string header;
    for (const std::string& field : fields) header += (header.empty() ? "" : " ") + field;
    headers.push_back(header);
  }
  return headers;
}

}  // namespace tav::h1eth::test
