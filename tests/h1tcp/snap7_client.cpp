#include "snap7_client.h"

#include "snap7_libmain.h"

namespace tav {
namespace h1tcp {
namespace test {

namespace {
const int kByteWords = 0x02;  // S7WLByte
}

Snap7Client::Snap7Client() : client_(Cli_Create()) {}

Snap7Client::~Snap7Client() {
  S7Object client = client_;
  Cli_Destroy(client);
}

int Snap7Client::Connect(const char* address, uint16_t port, int rack, int slot, int pdu) {
  Cli_SetParam(client_, p_u16_RemotePort, &port);
  if (pdu != 0) Cli_SetParam(client_, p_i32_PDURequest, &pdu);
  return Cli_ConnectTo(client_, address, rack, slot);
}

int Snap7Client::Read(int area, int block, int start, int bytes, void* data) {
  return Cli_ReadArea(client_, area, block, start, bytes, kByteWords, data);
}

int Snap7Client::Write(int area, int block, int start, int bytes, void* data) {
  return Cli_WriteArea(client_, area, block, start, bytes, kByteWords, data);
}

int Snap7Client::ReadSzl(int id, int index, int& bytes) {
  TS7SZL szl;
  bytes = sizeof szl;
  return Cli_ReadSZL(client_, id, index, &szl, bytes);
}

int Snap7Client::StopPlc() { return Cli_PlcStop(client_); }

int Snap7Client::NegotiatedPdu() {
  int requested = 0;
  int negotiated = 0;
  Cli_GetPduLength(client_, requested, negotiated);
  return negotiated;
}

int Snap7FunctionRefused() { return errCliFunctionRefused; }

}  // namespace test
}  // namespace h1tcp
}  // namespace tav
