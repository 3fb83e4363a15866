// One connection of the driver over H1: an S7 station's one transport connection, or an S5
// station's read or write connection. It binds a class 4 transport connection of a TransportLayer
// to a session in the station's dialect (plc_sessions): each session message is one TSDU. The
// transport runs its timers on its own (the layer's owner ticks it); the station connection moves
// the session on whenever the driver calls, and says what the transport knows: being set up,
// refused by the station (DR answering the CR, or the S7 setup refused), broken (retransmissions
// exhausted, the station silent, disconnected).
//
// Setting up: CR with the record's TSAPs; on CC the session's own set-up (S7: the setup with the
// PDU size). A CR that goes unanswered N times is tried again after a pause, and each failed
// attempt is reported once with its reason; a connection that broke once established stays
// broken until it is restarted.
//
// A station's message is an answer only while a request waits for one: one that arrives while
// none does (a station repeating an answer of an earlier connection, say) is dropped and counted,
// never kept for the next request.
//
// Not safe for concurrent use: it shares the layer's lock with whoever ticks the layer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "h1eth/class4.h"
#include "platform/h1_records.h"
#include "plc_sessions/session.h"

namespace tav::h1eth {

// Where a connection reports each failed set-up and each break: one line, without a prefix.
using ConnectionLog = std::function<void(const std::string& line)>;

// A set-up that ran out of answers starts again this long after.
inline constexpr Microseconds kSetUpRetryDelay = 1'000'000;

struct StationAddressing {
  Endpoints endpoints;  // this interface's address and the station's
  Bytes localTsap;      // as they go into the CR: calling
  Bytes remoteTsap;     // called
};

class StationConnection {
 public:
  StationConnection(TransportLayer& layer, StationAddressing addressing, sessions::Dialect dialect,
                    const sessions::SessionSettings& session, ConnectionLog log = {});
  ~StationConnection();  // lets its transport connection go (DR once)
  StationConnection(const StationConnection&) = delete;
  StationConnection& operator=(const StationConnection&) = delete;

  // Sets the connection up afresh: lets the transport connection go, sends a new CR.
  void Start(Microseconds now);
  // Connection state: kOk established; else kNotEstablished, kRejected or kConnectionBroken.
  uint16_t State(Microseconds now);
  uint16_t SendRead(const RequestRecord& request, Microseconds now);
  uint16_t SendWrite(const RequestRecord& request, const uint8_t* buffer, Microseconds now);
  // Takes what the transport delivered; the answer once complete, else kNoData or kReceiving.
  uint16_t ReceiveRead(std::span<uint8_t> buffer, uint16_t& statusWord, Microseconds now);
  uint16_t ReceiveWriteAcknowledge(uint16_t& statusWord, Microseconds now);
  // Whether the read (or write) exchange waits for the station: worth waiting a moment for.
  bool Awaiting(bool write) const;
  // Whether a set-up that began less than `within` ago still runs: as worth waiting for, since a
  // station near by answers within tens of microseconds, while one that stays silent is waited
  // for only that long after each start.
  bool SettingUp(Microseconds now, Microseconds within) const;

  // For tests and tools: the transport connection while one exists.
  const TransportConnection* transport() const;
  // Messages from the station dropped because no request awaited an answer.
  uint32_t strayMessages() const { return strayMessages_; }
  uint16_t pduBytes() const { return session_->pduBytes(); }

 private:
  enum class Phase : uint8_t {
    kIdle,            // not started
    kRetryWait,       // the last set-up failed; the next starts at retryAt_
    kConnecting,      // CR sent
    kSessionOpening,  // the transport is open, the session's set-up runs
    kEstablished,
    kRejected,  // the station refused (DR to the CR, or the S7 setup): until restarted
    kBroken,    // broke once established: until restarted
  };
  class Sink;

  // Moves set-up and exchanges on with what the transport has delivered.
  void Advance(Microseconds now);
  void TakeMessages(Microseconds now);
  void FailSetUp(const std::string& why, Microseconds now, bool refused);
  void Break(const std::string& why);
  TransportConnection* Transport();
  uint16_t Send(const RequestRecord& request, bool write, const uint8_t* buffer, Microseconds now);
  uint16_t Deliver(bool write, uint16_t& statusWord, std::span<uint8_t> buffer, Microseconds now);
  std::string StationText() const;

  TransportLayer& layer_;
  StationAddressing addressing_;
  ConnectionLog log_;
  std::unique_ptr<sessions::Session> session_;
  std::optional<ConnectionId> id_;
  Phase phase_ = Phase::kIdle;
  Microseconds retryAt_ = 0;
  Microseconds startedAt_ = 0;  // when the last set-up began
  Microseconds lastNow_ = 0;
  bool sinkFailed_ = false;  // the transport refused a TSDU the session sent
  uint32_t strayMessages_ = 0;
};

// Why a transport connection ended, in words, for log lines and tools.
std::string DescribeTransportEnd(const TransportConnection& connection);

}  // namespace tav::h1eth
