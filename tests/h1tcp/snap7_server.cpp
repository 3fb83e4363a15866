// A PLC server for the tests and the benchmark: Snap7's S7 server on 127.0.0.1 with data blocks
// 1 (20,000 bytes), 2 (200 bytes), 3 (10,000 bytes), and 10 and 20 (512 bytes each, those of the
// example stations), inputs, outputs and flags (1,024 bytes each). Arguments: PORT[,PORT...] [PDU [quiet]]: one server per port, each a station with its
// own memory (the benchmark's many stations). It prints "started PORT" once all listen, then one
// line per read and write it answers ("read DB 1 0 462 0": area, number, start, size, result)
// and per PDU negotiation ("pdu 480"), unless told to be quiet. Commands on standard input:
// "stop", "start" (the memory stays), "quit" or end of input. Output is flushed line by line for
// the test that reads it through a pipe.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "snap7_libmain.h"

namespace {

std::mutex printing;

// One server and the memory it serves.
struct Station {
  uint16_t port = 0;
  S7Object server = 0;
  uint8_t db1[20000] = {};
  uint8_t db2[200] = {};
  uint8_t db3[10000] = {};
  uint8_t db10[512] = {};
  uint8_t db20[512] = {};
  uint8_t inputs[1024] = {};
  uint8_t outputs[1024] = {};
  uint8_t flags[1024] = {};
};

// The S7 area codes of the events.
const char* AreaName(int area) {
  switch (area) {
    case 0x81:
      return "I";
    case 0x82:
      return "Q";
    case 0x83:
      return "M";
    case 0x84:
      return "DB";
    default:
      return "?";
  }
}

void Say(const std::string& line) {
  std::lock_guard<std::mutex> lock(printing);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void S7API OnEvent(void*, PSrvEvent event, int) {
  char line[128];
  if (event->EvtCode == evcDataRead || event->EvtCode == evcDataWrite) {
    std::snprintf(line, sizeof line, "%s %s %d %d %d %d",
                  event->EvtCode == evcDataRead ? "read" : "write", AreaName(event->EvtParam1),
                  event->EvtParam2, event->EvtParam3, event->EvtParam4, event->EvtRetCode);
  } else if (event->EvtCode == evcNegotiatePDU) {
    std::snprintf(line, sizeof line, "pdu %d", event->EvtParam1);
  } else {
    return;
  }
  Say(line);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT[,PORT...] [PDU [quiet]]\n", argv[0]);
    return 2;
  }
  int pdu = argc > 2 ? std::atoi(argv[2]) : 0;
  const bool quiet = argc > 3 && std::strcmp(argv[3], "quiet") == 0;

  std::vector<Station> stations;
  for (const char* at = argv[1]; *at != '\0';) {
    char* end = nullptr;
    stations.emplace_back();
    stations.back().port = static_cast<uint16_t>(std::strtoul(at, &end, 10));
    at = *end == ',' ? end + 1 : end;
  }
  for (Station& station : stations) {
    S7Object server = Srv_Create();
    station.server = server;
    Srv_SetParam(server, p_u16_LocalPort, &station.port);
    if (pdu != 0) Srv_SetParam(server, p_i32_PDURequest, &pdu);
    Srv_RegisterArea(server, srvAreaDB, 1, station.db1, sizeof station.db1);
    Srv_RegisterArea(server, srvAreaDB, 2, station.db2, sizeof station.db2);
    Srv_RegisterArea(server, srvAreaDB, 3, station.db3, sizeof station.db3);
    Srv_RegisterArea(server, srvAreaDB, 10, station.db10, sizeof station.db10);
    Srv_RegisterArea(server, srvAreaDB, 20, station.db20, sizeof station.db20);
    Srv_RegisterArea(server, srvAreaPE, 0, station.inputs, sizeof station.inputs);
    Srv_RegisterArea(server, srvAreaPA, 0, station.outputs, sizeof station.outputs);
    Srv_RegisterArea(server, srvAreaMK, 0, station.flags, sizeof station.flags);
    if (!quiet) Srv_SetEventsCallback(server, OnEvent, nullptr);
  }

  auto start = [&] {
    for (Station& station : stations) {
      const int result = Srv_StartTo(station.server, "127.0.0.1");
      if (result != 0) {
        Say("failed " + std::to_string(result));
        return;
      }
    }
    Say("started " + std::to_string(stations.front().port));
  };
  auto stop = [&] {
    for (Station& station : stations) Srv_Stop(station.server);
  };
  start();
  char command[64];
  while (std::fgets(command, sizeof command, stdin) != nullptr) {
    if (std::strncmp(command, "stop", 4) == 0) {
      stop();
      Say("stopped");
    } else if (std::strncmp(command, "start", 5) == 0) {
      start();
    } else if (std::strncmp(command, "quit", 4) == 0) {
      break;
    }
  }
  stop();
  for (Station& station : stations) Srv_Destroy(station.server);
  return 0;
}
