// The simulated H1 network: PLC stations found by their Ethernet addresses, and the connections
// and exchanges the H1 driver library would run with them. A Network answers the eleven H1
// operations (h1_library.cpp forwards them to the active network); tests build one, install it,
// inject faults and look at the connections, the exchanges and the stations' memory.
//
// Connections. An open creates a connection with a fresh identifier (1 to 65,535) in the state
// "being set up", even for an address no station has: as on a real network, such a connection
// simply never comes up. The station must be reachable and accept the connection: an S5
// station by one of its TSAP pairs through open S5 connection, a type-6 or S7 station by remote
// TSAP 0x03 and its slot through open S7 connection. Polls of the connection state then answer
// "being set up" `pollsBeforeEstablished` times before the connection is established. A broken
// connection (station dropped, or `dropAfterExchanges` reached) answers every exchange with
// "connection broken" until it is restarted. Closing the driver ends every connection.
//
// Exchanges. Send read request and send write request leave a request pending on an established
// connection (the write takes its data from the buffer at once); the receive operations answer
// "no data yet" `pollsBeforeResponse` times, then deliver the station's answer: result 0 with
// status word 0 and the data, or result 0 with the station's error status word (unknown area or
// block, range past the area's end, more than the buffer holds) and no data.
//
// The network is single-threaded, as the driver is: one operation at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "abi/driver_instance.h"
#include "h1_front/connection_table.h"
#include "platform/h1_records.h"
#include "sim/api.h"
#include "sim/fault.h"
#include "sim/station.h"

namespace tav::sim {

enum class ConnectionRole : uint8_t {
  kRead,   // an S5 read (fetch) connection, opened with the station's `rtsap`
  kWrite,  // an S5 write connection, opened with its `wtsap`
  kS7,     // the one connection of an S7 or type-6 station
};

enum class ConnectionState : uint8_t { kSettingUp, kEstablished, kBroken };

// A request waiting for its answer.
struct PendingRequest {
  RequestRecord request{};
  int pollsLeft = 0;          // receive polls that still answer "no data yet"
  std::vector<uint8_t> data;  // a write's data, taken from the buffer when it was sent
  uint16_t statusWord = 0;    // non-zero: the answer is already decided (a write too long)
};

struct Connection {
  uint16_t id = 0;
  EthernetAddress address{};
  int station = -1;  // index into the network's stations; -1 when no station has the address
  ConnectionRole role = ConnectionRole::kRead;
  ConnectionState state = ConnectionState::kSettingUp;
  bool accepted = false;  // the station accepts the connection's TSAPs and open operation
  int pollsLeft = 0;      // state polls that still answer "being set up"
  int exchanges = 0;      // answered since the open or the last restart
  std::optional<PendingRequest> pendingRead;
  std::optional<PendingRequest> pendingWrite;
};

// One answered exchange, as the station saw it.
struct Exchange {
  uint16_t connection = 0;
  EthernetAddress station{};
  bool write = false;
  RequestRecord request{};
  uint16_t statusWord = 0;
  // A write: the bytes taken from the buffer. A read: the bytes delivered into it (none on error).
  std::vector<uint8_t> data;
};

// What the library answers for the network as a whole.
struct NetworkSettings {
  uint16_t openDriverResult = 0;  // non-zero: open driver fails with it
};

class TAV_SIM_API Network {
 public:
  NetworkSettings settings;

  // Adds a station; an address that a station already has replaces that station's entry.
  Station& Add(StationConfig config);
  Station* Find(const EthernetAddress& address);
  const Station* Find(const EthernetAddress& address) const;
  // By 12 hexadecimal digits; nullptr for an unknown or malformed address.
  Station* Find(std::string_view address);
  std::deque<Station>& stations() { return stations_; }
  const std::deque<Station>& stations() const { return stations_; }

  // Faults on open driver and close driver (the others belong to the stations).
  Network& Inject(Operation operation, const Fault& fault);
  // Breaks every connection of `station`, as a station does when it drops off the network.
  void Drop(const Station& station);

  bool isOpen() const { return open_; }
  const std::map<uint16_t, Connection>& connections() const { return connections_.All(); }
  const Connection* FindConnection(uint16_t id) const;
  // The station at the other end of a connection; nullptr when none has its address.
  const Station* StationOf(const Connection& connection) const;
  const std::vector<Exchange>& exchanges() const { return exchanges_; }
  void ClearExchanges() { exchanges_.clear(); }
  // Calls of each operation since the network was made.
  int CallCount(Operation operation) const { return calls_[static_cast<size_t>(operation)]; }

  // The H1 operations. Records arrive as the caller's bytes; a null pointer answers
  // h1::kBadArgument.
  uint16_t OpenDriver();
  uint16_t CloseDriver();
  uint16_t OpenS5Connection(void* connectRecord);
  uint16_t OpenS7Connection(void* connectRecord);
  uint16_t ConnectionStateOf(uint32_t connection);
  uint16_t RestartConnection(uint32_t connection);
  uint16_t ReleaseConnection(uint32_t connection);
  uint16_t SendReadRequest(const void* requestRecord);
  uint16_t ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                           uint32_t connection);
  uint16_t SendWriteRequest(const void* requestRecord, const void* buffer);
  uint16_t ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t connection);

 private:
  uint16_t Open(Operation operation, void* connectRecord);
  bool Accepts(const Station& station, Operation operation, const ConnectRecord& record,
               ConnectionRole& role) const;
  // Sets a connection up afresh (open, restart); it comes up at once when nothing delays it.
  void Start(Connection& connection);
  bool CanComeUp(const Connection& connection) const;
  Connection* Lookup(uint32_t connection);
  Station* StationFor(const Connection& connection);
  // The fault answering this call, taken from the connection's station.
  std::optional<Fault> FaultFor(const Connection& connection, Operation operation);
  // Result of an exchange operation on a connection that is not established; 0 when it is.
  static uint16_t NotReady(const Connection& connection);
  // Takes a send request's record: counts the call and checks the driver, the record, the
  // connection, any fault and the connection's state. Returns 0 with `request` and `connection`
  // set, or the result the call answers.
  uint16_t TakeRequest(Operation operation, const void* requestRecord, RequestRecord& request,
                       Connection*& connection);
  uint16_t Receive(Operation operation, std::optional<PendingRequest>& pending, void* buffer,
                   uint32_t bufferSize, uint16_t* statusWord, Connection& connection);
  uint16_t Count(Operation operation);

  std::deque<Station> stations_;
  front::ConnectionTable<Connection> connections_;
  std::vector<Exchange> exchanges_;
  FaultQueue faults_;
  std::array<int, kOperationCount> calls_{};
  bool open_ = false;
};

// The network the H1 operations work on. Until a network is installed, the built-in default:
// the stations of examples/tavSH101.int.
TAV_SIM_API Network& ActiveNetwork();
// Makes `network` the active network and returns it.
TAV_SIM_API Network& InstallNetwork(Network network);

}  // namespace tav::sim
