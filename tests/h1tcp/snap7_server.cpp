// A PLC server for the tests and the benchmark: Snap7's S7 server on 127.0.0.1 with data blocks
// 1 (20,000 bytes), 2 (200 bytes) and 3 (10,000 bytes), inputs, outputs and flags (1,024 bytes
// each). Arguments: PORT [PDU]. It prints "started PORT" once it listens, then one line per read
// and write it answers ("read DB 1 0 462 0": area, number, start, size, result) and per PDU
// negotiation ("pdu 480"). Commands on standard input: "stop", "start" (the memory stays), "quit"
// or end of input. Output is flushed line by line for the test that reads it through a pipe.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "snap7_libmain.h"

namespace {

std::mutex printing;

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
    std::fprintf(stderr, "usage: %s PORT [PDU]\n", argv[0]);
    return 2;
  }
  uint16_t port = static_cast<uint16_t>(std::atoi(argv[1]));
  int pdu = argc > 2 ? std::atoi(argv[2]) : 0;

  static std::vector<uint8_t> db1(20000), db2(200), db3(10000), inputs(1024), outputs(1024),
      flags(1024);
  S7Object server = Srv_Create();
  Srv_SetParam(server, p_u16_LocalPort, &port);
  if (pdu != 0) Srv_SetParam(server, p_i32_PDURequest, &pdu);
  Srv_RegisterArea(server, srvAreaDB, 1, db1.data(), static_cast<int>(db1.size()));
  Srv_RegisterArea(server, srvAreaDB, 2, db2.data(), static_cast<int>(db2.size()));
  Srv_RegisterArea(server, srvAreaDB, 3, db3.data(), static_cast<int>(db3.size()));
  Srv_RegisterArea(server, srvAreaPE, 0, inputs.data(), static_cast<int>(inputs.size()));
  Srv_RegisterArea(server, srvAreaPA, 0, outputs.data(), static_cast<int>(outputs.size()));
  Srv_RegisterArea(server, srvAreaMK, 0, flags.data(), static_cast<int>(flags.size()));
  Srv_SetEventsCallback(server, OnEvent, nullptr);

  auto start = [&] {
    const int result = Srv_StartTo(server, "127.0.0.1");
    Say(result == 0 ? "started " + std::to_string(port) : "failed " + std::to_string(result));
  };
  start();
  char command[64];
  while (std::fgets(command, sizeof command, stdin) != nullptr) {
    if (std::strncmp(command, "stop", 4) == 0) {
      Srv_Stop(server);
      Say("stopped");
    } else if (std::strncmp(command, "start", 5) == 0) {
      start();
    } else if (std::strncmp(command, "quit", 4) == 0) {
      break;
    }
  }
  Srv_Stop(server);
  Srv_Destroy(server);
  return 0;
}
