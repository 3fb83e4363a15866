// A transport of libh1tcp: what turns the bytes of a TCP connection into a session's messages and
// back. ISO on TCP frames each message in class 0 data TPDUs inside TPKT packets and is opened by
// a connection request; plain TCP (S5 fetch/write) adds nothing and leaves it to the session to
// say where a message ends. Which one a connection uses is fixed by its station's map line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frames.h"
#include "plc_sessions/session.h"

namespace tav::h1tcp {

// What the transport made of the bytes at the front of the input.
struct Arrival {
  enum class Kind : uint8_t {
    kIncomplete,  // nothing whole yet
    kTaken,       // a unit that carries nothing for the session
    kOpened,      // the station confirmed the transport connection
    kMessage,     // a whole message for the session
    kRefused,     // the station disconnected (its reason in `reason`)
    kMalformed,   // bytes that cannot be what the station sends
  };
  Kind kind = Kind::kIncomplete;
  size_t used = 0;     // bytes of the input taken
  ByteView message;    // kMessage: valid until the next call
  uint8_t reason = 0;  // kRefused
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Starts afresh on a new TCP connection: what opens the transport goes into `out`. True when
  // the transport is open with the TCP connection.
  virtual bool Open(Bytes& out) = 0;
  // One of the session's messages, framed, onto `out`.
  virtual void Frame(ByteView message, Bytes& out) = 0;
  // The next unit of `waiting`; `session` says where its messages end when the transport does
  // not.
  virtual Arrival Next(ByteView waiting, const sessions::Session& session) = 0;
};

// ISO on TCP with the TSAPs as they go into the connection request.
std::unique_ptr<Transport> MakeIsoTransport(Bytes localTsap, Bytes remoteTsap);
// Plain TCP.
std::unique_ptr<Transport> MakeStreamTransport();

}  // namespace tav::h1tcp
