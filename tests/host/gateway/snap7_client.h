// Snap7's S7 client (from the same pinned package as its server), a client no one here wrote,
// behind a plain interface: Snap7's headers are compiled apart from the tests' own.
#pragma once

#include <cstdint>

namespace tav::gateway::test {

class Snap7Client {
 public:
  Snap7Client();
  ~Snap7Client();
  Snap7Client(const Snap7Client&) = delete;
  Snap7Client& operator=(const Snap7Client&) = delete;
  // 0, or Snap7's error code.
  int Connect(const char* address, uint16_t port, int rack, int slot);
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

}  // namespace tav::gateway::test
