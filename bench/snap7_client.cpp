#include "snap7_client.h"

#include "snap7_libmain.h"

namespace tav {
namespace bench {

uintptr_t Snap7Connect(uint16_t port, int pdu) {
  S7Object client = Cli_Create();
  Cli_SetParam(client, p_u16_RemotePort, &port);
  Cli_SetParam(client, p_i32_PDURequest, &pdu);
  if (Cli_ConnectTo(client, "127.0.0.1", 0, 2) != 0) {
    Cli_Destroy(client);
    return 0;
  }
  return client;
}

int Snap7ReadDataBlock(uintptr_t client, int block, int start, int size, void* data) {
  return Cli_DBRead(client, block, start, size, data);
}

void Snap7Disconnect(uintptr_t client) {
  S7Object object = client;
  Cli_Disconnect(object);
  Cli_Destroy(object);
}

}  // namespace bench
}  // namespace tav
