// Snap7's S7 client (from the same pinned package as its server), a client no one here wrote,
// for the tests and the benchmarks, behind a plain interface: Snap7's headers only compile in an
// older dialect (their `byte` clashes with std::byte).
#pragma once

#include <cstdint>

namespace tav::h1tcp::test {

class Snap7Client {
 public:
  Snap7Client();
  ~Snap7Client();
  Snap7Client(const Snap7Client&) = delete;
  Snap7Client& operator=(const Snap7Client&) = delete;
  // 0, or Snap7's error code. `pdu`: the PDU size asked for; 0: Snap7's default.
  int Connect(const char* address, uint16_t port, int rack, int slot, int pdu = 0);
  // `bytes` bytes of an area from `start`: Snap7 splits what the PDU cannot hold.
  int Read(int area, int block, int start, int bytes, void* data);
  int Write(int area, int block, int start, int bytes, void* data);
  int ReadSzl(int id, int index, int& bytes);
  int StopPlc();
  int NegotiatedPdu();

 private:
  uintptr_t client_;
};

// Snap7's code for a function the PLC refused.
int Snap7FunctionRefused();

}  // namespace tav::h1tcp::test
