// What libh1tcp reads from outside: the station map a user writes, and the bytes a station (or
// anything listening on its port) sends back. The first byte of an input chooses which; the rest
// is the text or the bytes. Beyond not crashing:
//  - station map: every problem names a line of the text, in order; every route has a host, a
//    PDU size and job count within their limits, a write port only for s5-tcp, and an address
//    no other route has;
//  - a TPKT stream, cut into packets as a connection cuts it: a packet is at least its header,
//    and a data TPDU's payload lies inside its packet;
//  - an S7 answer: the item's data lies inside the PDU;
//  - S5 headers: what parses builds back into a header that parses to the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string_view>

#include "frames.h"
#include "station_map.h"

namespace {

using tav::h1tcp::ByteView;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "h1tcp fuzzer: %s\n", what);
  std::abort();
}

bool Inside(ByteView part, ByteView whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void StationMap(std::string_view text) {
  const tav::h1tcp::StationMap map = tav::h1tcp::ParseStationMap(text);
  int lines = 1;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  int previous = 0;
  for (const tav::h1tcp::MapProblem& problem : map.problems) {
    Require(problem.line > previous && problem.line <= lines, "a problem on no line, or out of order");
    Require(!problem.text.empty(), "a problem without its reason");
    previous = problem.line;
  }
  std::set<tav::EthernetAddress> addresses;
  for (const tav::h1tcp::Route& route : map.routes) {
    Require(!route.host.empty(), "a route without a host");
    Require(route.pduBytes >= 240 && route.pduBytes <= 960, "a PDU size beyond 240 to 960");
    Require(route.parallelJobs >= 1 && route.parallelJobs <= 64, "jobs beyond 1 to 64");
    Require(route.writePort == 0 || route.protocol == tav::h1tcp::Protocol::kS5Tcp,
            "a write port on a route that is not s5-tcp");
    Require(addresses.insert(route.address).second, "two routes for one address");
  }
}

void TpktStream(ByteView stream) {
  while (!stream.empty()) {
    const std::optional<size_t> size = tav::h1tcp::TpktPacketBytes(stream);
    if (!size || *size == 0 || *size > stream.size()) return;
    Require(*size >= tav::h1tcp::kTpktHeaderBytes, "a packet shorter than its header");
    const ByteView packet = stream.first(*size);
    const std::optional<tav::h1tcp::Tpdu> tpdu = tav::h1tcp::ParseTpdu(packet);
    if (!tpdu) return;
    Require(Inside(tpdu->payload, packet), "a payload outside its packet");
    stream = stream.subspan(*size);
  }
}

void S7Answer(ByteView pdu) {
  const std::optional<tav::h1tcp::S7Answer> answer = tav::h1tcp::ParseS7Answer(pdu);
  if (answer) Require(Inside(answer->data, pdu), "item data outside the PDU");
}

void S5Headers(ByteView header) {
  if (const auto request = tav::h1tcp::ParseS5RequestHeader(header)) {
    const tav::h1tcp::Bytes built = tav::h1tcp::S5RequestHeader(*request);
    const auto again = tav::h1tcp::ParseS5RequestHeader(built);
    Require(again && again->opcode == request->opcode && again->org == request->org &&
                again->block == request->block && again->start == request->start &&
                again->length == request->length,
            "a request header that does not build back");
  }
  if (const auto answer = tav::h1tcp::ParseS5AnswerHeader(header)) {
    const auto again = tav::h1tcp::ParseS5AnswerHeader(tav::h1tcp::S5AnswerHeader(*answer));
    Require(again && again->opcode == answer->opcode && again->error == answer->error,
            "an answer header that does not build back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const ByteView bytes(data + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      StationMap(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
      break;
    case 1:
      TpktStream(bytes);
      break;
    case 2:
      S7Answer(bytes);
      break;
    default:
      S5Headers(bytes);
      break;
  }
  return 0;
}
