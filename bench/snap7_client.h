// Snap7's own S7 client, for the benchmark's comparison: a plain interface, since Snap7's headers
// only compile in an older dialect (their `byte` clashes with std::byte).
#pragma once

#include <cstdint>

namespace tav::bench {

// A client connected to 127.0.0.1:`port` (rack 0, slot 2) asking for `pdu`; 0 when it failed.
uintptr_t Snap7Connect(uint16_t port, int pdu);
// Reads `size` bytes of data block `block` from `start`: Snap7 splits what the PDU cannot hold.
// 0 when it worked.
int Snap7ReadDataBlock(uintptr_t client, int block, int start, int size, void* data);
void Snap7Disconnect(uintptr_t client);

}  // namespace tav::bench
