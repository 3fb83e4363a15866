// Stations of our own for the tests: a listening socket on 127.0.0.1 and a thread that plays the
// station's side through blocking sockets, scripted by each test. Tests use them for what no
// independent server does on demand: refusals, resets, short, malformed and late answers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

#include "frames.h"

namespace tav::h1tcp::test {

// A listening socket on 127.0.0.1 and a free port the system chose.
int ListenOnFreePort(uint16_t& port);
// A TCP connection to `port` on 127.0.0.1, each message sent at once (TCP_NODELAY); -1 when none.
int ConnectToLoopback(uint16_t port);

class PeerSocket {
 public:
  explicit PeerSocket(int fd) : fd_(fd) {}
  PeerSocket(PeerSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  PeerSocket(const PeerSocket&) = delete;
  PeerSocket& operator=(const PeerSocket&) = delete;
  ~PeerSocket();

  // Exactly `size` bytes; nullopt when the connection ends first or 5 s pass.
  std::optional<Bytes> Read(size_t size);
  // One TPKT packet, whole.
  std::optional<Bytes> ReadTpkt();
  // The payload of one data TPDU (the tests' requests fit in one).
  std::optional<Bytes> ReadData();
  void Send(ByteView bytes);
  void SendData(ByteView payload) { Send(DataTpdus(payload, 1024)); }
  // Ends the connection with a reset rather than a close.
  void Reset();
  void Close();
  int fd() const { return fd_; }

  // The station's side of the set-up: the connection request (returned) and its confirm.
  std::optional<Bytes> AcceptIso();
  void Confirm();
  // Then the S7 setup, answered with `pdu` and `jobs`.
  bool AcceptSetup(uint16_t pdu = 480, uint16_t jobs = 1);

 private:
  int fd_;
};

class Peer {
 public:
  using Script = std::function<void(Peer&)>;
  explicit Peer(Script script);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  uint16_t port() const { return port_; }
  // The next connection; nullopt after 5 s or once the test ends.
  std::optional<PeerSocket> Accept();
  // Stops listening: connects are refused from then on.
  void StopListening();

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> ending_{false};
  std::thread thread_;
};

// S7 answers as a station sends them.
Bytes S7AckData(uint16_t reference, ByteView parameter, ByteView data, uint16_t error = 0);
Bytes S7ReadAnswer(uint16_t reference, uint8_t itemCode, ByteView bytes);
Bytes S7WriteAnswer(uint16_t reference, uint8_t itemCode);

}  // namespace tav::h1tcp::test
