// An S5 fetch/write responder of ours on 127.0.0.1, for the end-to-end tests over libh1tcp (in the
// test program) and the Windows tests under Wine (beside the Windows programs).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frames.h"

namespace tav::h1tcp::test {

// An S5 station of ours answering fetch/write: data blocks and extended data blocks of 16-bit
// words (held high byte first, as the PLC does) and byte-addressed inputs, outputs and flags.
// Over plain TCP it listens on two ports (read and write connection), over ISO on TCP on one.
class S5Responder {
 public:
  explicit S5Responder(bool iso);
  ~S5Responder();
  S5Responder(const S5Responder&) = delete;
  S5Responder& operator=(const S5Responder&) = delete;

  uint16_t port() const { return ports_[0]; }
  uint16_t writePort() const { return ports_[1]; }
  // The PLC's bytes of an organisation block (kS5Org...) and block number.
  Bytes Memory(uint8_t org, uint8_t block);
  // The called TSAPs of the connection requests (ISO), in arrival order.
  std::vector<std::string> CalledTsaps();

 private:
  void Listen(int listener);
  void Serve(int fd);
  Bytes Answer(const S5Request& request, ByteView data);

  bool iso_;
  int listeners_[2] = {-1, -1};
  uint16_t ports_[2] = {0, 0};
  std::mutex mutex_;
  std::map<std::pair<uint8_t, uint8_t>, Bytes> memory_;
  std::vector<std::string> tsaps_;
  std::vector<int> connections_;
  std::vector<std::thread> listenThreads_;
  std::vector<std::thread> serveThreads_;  // added under mutex_
  bool ending_ = false;
};

}  // namespace tav::h1tcp::test
