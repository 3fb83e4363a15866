// What libh1tcp reads from outside: the station map a user writes, and the bytes a station (or
// anything listening on its port) sends back. The first byte of an input chooses which; the rest
// is the text or the bytes. Beyond not crashing:
//  - station map: every problem names a line of the text, in order; every route has a host, a
//    PDU size and job count within their limits, a write port only for s5-tcp, and an address
//    no other route has;
//  - a station's bytes, through libh1tcp's own connection (transport, session, state machine) on
//    scripted sockets, for each protocol of the map: every operation answers one of the results
//    the H1 contract knows, and a delivered read stays inside its buffer;
//  - an S7 answer: the item's data lies inside the PDU;
//  - S5 headers: what parses builds back into a header that parses to the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string_view>

#include "abi/driver_instance.h"
#include "connection.h"
#include "frames.h"
#include "scripted_sockets.h"
#include "station_map/station_map.h"

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
    Require(problem.line > previous && problem.line <= lines,
            "a problem on no line, or out of order");
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

bool Known(uint16_t result) {
  using namespace tav::h1tcp;
  for (uint16_t known :
       {kOk, kNotEstablished, kRejected, kConnectionBroken, kNoData, kReceiving, kNoRequest}) {
    if (result == known) return true;
  }
  return false;
}

// The first byte: the protocol, the role and the request; the second: how many bytes the
// station sends after each request; the rest: what it sends.
void StationBytes(ByteView input) {
  using namespace tav::h1tcp;
  if (input.size() < 2) return;
  const uint8_t choice = input[0];
  const size_t piece = size_t{input[1]} + 1;
  ByteView rest = input.subspan(2);
  test::ScriptedSockets sockets;
  sockets.station = [&](const Bytes&, test::ScriptedSockets& s) {
    const ByteView now = rest.first(std::min(piece, rest.size()));
    s.incoming.insert(s.incoming.end(), now.begin(), now.end());
    rest = rest.subspan(now.size());
  };
  constexpr Protocol kProtocols[] = {Protocol::kS7, Protocol::kS7Words, Protocol::kS5Iso,
                                     Protocol::kS5Tcp};
  Station station;
  station.route.protocol = kProtocols[choice & 3];
  station.route.pduBytes = 240;
  station.route.parallelJobs = 4;
  station.endpoint = Endpoint{};
  const bool s7 = (choice & 2) == 0;
  Connection connection(sockets, &station, s7 ? Role::kS7 : Role::kS5Read, {1, 0}, {3, 2});
  connection.Start();
  tav::RequestRecord request{};
  request.areaKind =
      static_cast<uint16_t>((choice >> 2) & 1 ? tav::AreaKind::kFlags : tav::AreaKind::kDataBlock);
  request.blockNumber = 1;
  request.length = static_cast<uint16_t>(choice >> 3) * 40;
  static uint8_t buffer[tav::kTransferBufferSize];
  for (int poll = 0; poll < 64 && !rest.empty(); ++poll) {
    const uint16_t state = connection.State();
    Require(Known(state), "a connection state outside the contract");
    if (state != kOk) {
      sockets.now += kRetryMilliseconds;
      continue;
    }
    Require(Known(connection.SendRead(request)), "a send result outside the contract");
    uint16_t status = 0;
    const uint16_t received = connection.ReceiveRead(sizeof buffer, buffer, status);
    Require(Known(received), "a receive result outside the contract");
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
      StationBytes(bytes);
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
