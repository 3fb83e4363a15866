#include "sim/network.h"

#include <optional>
#include <string>
#include <utility>

#include "h1_front/records.h"
#include "sim/h1_codes.h"
#include "sim/network_file.h"

namespace tav::sim {

namespace {

constexpr uint8_t kS7RemoteTsapLength = 2;
constexpr uint8_t kS7RemoteTsapHead = 0x03;

}  // namespace

Station& Network::Add(StationConfig config) {
  if (Station* existing = Find(config.address); existing != nullptr) {
    *existing = Station(std::move(config));
    return *existing;
  }
  return stations_.emplace_back(std::move(config));
}

const Station* Network::Find(const EthernetAddress& address) const {
  for (const Station& station : stations_) {
    if (station.config().address == address) return &station;
  }
  return nullptr;
}

Station* Network::Find(const EthernetAddress& address) {
  return const_cast<Station*>(std::as_const(*this).Find(address));
}

Station* Network::Find(std::string_view address) {
  const std::optional<EthernetAddress> parsed = ParseEthernetAddress(address);
  return parsed ? Find(*parsed) : nullptr;
}

Network& Network::Inject(Operation operation, const Fault& fault) {
  faults_.Add(operation, fault);
  return *this;
}

void Network::Drop(const Station& station) {
  for (auto& [id, connection] : connections_) {
    if (StationOf(connection) != &station) continue;
    connection.state = ConnectionState::kBroken;
    connection.pendingRead.reset();
    connection.pendingWrite.reset();
  }
}

const Connection* Network::FindConnection(uint16_t id) const {
  return connections_.FindHeld(id);
}

const Station* Network::StationOf(const Connection& connection) const {
  return connection.station < 0 ? nullptr : &stations_[static_cast<size_t>(connection.station)];
}

Station* Network::StationFor(const Connection& connection) {
  return const_cast<Station*>(std::as_const(*this).StationOf(connection));
}

Connection* Network::Lookup(uint32_t connection) {
  return connections_.Find(connection);
}

std::optional<Fault> Network::FaultFor(const Connection& connection, Operation operation) {
  Station* station = StationFor(connection);
  return station == nullptr ? std::nullopt : station->faults().Take(operation);
}

uint16_t Network::Count(Operation operation) {
  ++calls_[static_cast<size_t>(operation)];
  return h1::kOk;
}

bool Network::CanComeUp(const Connection& connection) const {
  const Station* station = StationOf(connection);
  return station != nullptr && station->behaviour().reachable && connection.accepted;
}

void Network::Start(Connection& connection) {
  const Station* station = StationOf(connection);
  connection.state = ConnectionState::kSettingUp;
  connection.pollsLeft = station == nullptr ? 0 : station->behaviour().pollsBeforeEstablished;
  connection.exchanges = 0;
  connection.pendingRead.reset();
  connection.pendingWrite.reset();
  if (CanComeUp(connection) && connection.pollsLeft <= 0) {
    connection.state = ConnectionState::kEstablished;
  }
}

uint16_t Network::NotReady(const Connection& connection) {
  switch (connection.state) {
    case ConnectionState::kSettingUp:
      return h1::kNotEstablished;
    case ConnectionState::kBroken:
      return h1::kConnectionBroken;
    case ConnectionState::kEstablished:
      break;
  }
  return h1::kOk;
}

uint16_t Network::OpenDriver() {
  Count(Operation::kOpenDriver);
  if (const std::optional<Fault> fault = faults_.Take(Operation::kOpenDriver)) return fault->result;
  if (settings.openDriverResult != 0) return settings.openDriverResult;
  open_ = true;
  return h1::kOk;
}

uint16_t Network::CloseDriver() {
  Count(Operation::kCloseDriver);
  if (const std::optional<Fault> fault = faults_.Take(Operation::kCloseDriver)) {
    return fault->result;
  }
  open_ = false;
  connections_.Clear();
  return h1::kOk;
}

uint16_t Network::OpenS5Connection(void* connectRecord) {
  return Open(Operation::kOpenS5Connection, connectRecord);
}

uint16_t Network::OpenS7Connection(void* connectRecord) {
  return Open(Operation::kOpenS7Connection, connectRecord);
}

bool Network::Accepts(const Station& station, Operation operation, const ConnectRecord& record,
                      ConnectionRole& role) const {
  const StationConfig& config = station.config();
  if (operation == Operation::kOpenS7Connection) {
    role = ConnectionRole::kS7;
    return config.type != StationType::kS5 && record.remoteTsapLength == kS7RemoteTsapLength &&
           record.remoteTsap[0] == kS7RemoteTsapHead && record.remoteTsap[1] == config.slot;
  }
  if (config.type != StationType::kS5) return false;
  using front::Unpadded;
  if (front::UnpaddedTsap(front::LocalTsap(record)) != Unpadded(config.ltsap)) return false;
  const std::string_view remote = front::UnpaddedTsap(front::RemoteTsap(record));
  if (remote == Unpadded(config.rtsap)) {
    role = ConnectionRole::kRead;
    return true;
  }
  if (remote == Unpadded(config.wtsap)) {
    role = ConnectionRole::kWrite;
    return true;
  }
  return false;
}

uint16_t Network::Open(Operation operation, void* connectRecord) {
  Count(operation);
  if (!open_) return h1::kDriverNotOpen;
  ConnectRecord record;
  if (const uint16_t refused = front::TakeConnectRecord(connectRecord, record);
      refused != h1::kOk) {
    return refused;
  }
  // What goes back: the status word always, the identifier only with a new connection.
  auto answer = [connectRecord, &record](uint16_t result) {
    front::AnswerConnectRecord(connectRecord, record.connection, record.statusWord);
    return result;
  };

  const EthernetAddress address = front::StationAddress(record);
  Connection connection;
  connection.address = address;
  for (size_t i = 0; i < stations_.size(); ++i) {
    if (stations_[i].config().address == address) connection.station = static_cast<int>(i);
  }
  if (Station* station = StationFor(connection); station != nullptr) {
    if (const std::optional<Fault> fault = station->faults().Take(operation)) {
      record.statusWord = fault->statusWord;
      return answer(fault->result);
    }
    const Behaviour& behaviour = station->behaviour();
    if (behaviour.refuseResult != 0 || behaviour.refuseStatus != 0) {
      record.statusWord = behaviour.refuseStatus;
      return answer(behaviour.refuseResult);
    }
    connection.accepted = Accepts(*station, operation, record, connection.role);
  }

  const uint16_t id = connections_.FreeIdentifier();
  if (id == 0) return h1::kNoIdentifier;
  connection.id = id;
  Start(connection);
  record.connection = id;
  record.statusWord =
      connection.state == ConnectionState::kEstablished ? h1::kStatusGood : h1::kConnectSettingUp;
  connections_.Add(id, std::move(connection));
  return answer(h1::kOk);
}

uint16_t Network::ConnectionStateOf(uint32_t id) {
  Count(Operation::kConnectionState);
  if (!open_) return h1::kDriverNotOpen;
  Connection* connection = Lookup(id);
  if (connection == nullptr) return h1::kUnknownConnection;
  if (const std::optional<Fault> fault = FaultFor(*connection, Operation::kConnectionState)) {
    return fault->result;
  }
  if (connection->state != ConnectionState::kSettingUp) return NotReady(*connection);
  const Station* station = StationOf(*connection);
  if (station == nullptr || !station->behaviour().reachable) return h1::kNotEstablished;
  if (!connection->accepted) return h1::kRejected;
  if (connection->pollsLeft > 0) {
    --connection->pollsLeft;
    return h1::kNotEstablished;
  }
  connection->state = ConnectionState::kEstablished;
  return h1::kOk;
}

uint16_t Network::RestartConnection(uint32_t id) {
  Count(Operation::kRestartConnection);
  if (!open_) return h1::kDriverNotOpen;
  Connection* connection = Lookup(id);
  if (connection == nullptr) return h1::kUnknownConnection;
  if (const std::optional<Fault> fault = FaultFor(*connection, Operation::kRestartConnection)) {
    return fault->result;
  }
  Start(*connection);
  return h1::kOk;
}

uint16_t Network::ReleaseConnection(uint32_t id) {
  Count(Operation::kReleaseConnection);
  if (!open_) return h1::kDriverNotOpen;
  Connection* connection = Lookup(id);
  if (connection == nullptr) return h1::kUnknownConnection;
  if (const std::optional<Fault> fault = FaultFor(*connection, Operation::kReleaseConnection)) {
    return fault->result;
  }
  connections_.Release(connection->id);
  return h1::kOk;
}

uint16_t Network::TakeRequest(Operation operation, const void* requestRecord,
                              RequestRecord& request, Connection*& connection) {
  Count(operation);
  if (!open_) return h1::kDriverNotOpen;
  if (const uint16_t refused = front::TakeRequestRecord(requestRecord, request);
      refused != h1::kOk) {
    return refused;
  }
  connection = Lookup(request.connection);
  if (connection == nullptr) return h1::kUnknownConnection;
  if (const std::optional<Fault> fault = FaultFor(*connection, operation)) return fault->result;
  return NotReady(*connection);
}

uint16_t Network::SendReadRequest(const void* requestRecord) {
  RequestRecord request;
  Connection* connection = nullptr;
  if (const uint16_t refused =
          TakeRequest(Operation::kSendReadRequest, requestRecord, request, connection);
      refused != h1::kOk) {
    return refused;
  }
  connection->pendingRead =
      PendingRequest{request, StationOf(*connection)->behaviour().pollsBeforeResponse, {}, 0};
  return h1::kOk;
}

uint16_t Network::SendWriteRequest(const void* requestRecord, const void* buffer) {
  RequestRecord request;
  Connection* connection = nullptr;
  if (const uint16_t refused =
          TakeRequest(Operation::kSendWriteRequest, requestRecord, request, connection);
      refused != h1::kOk) {
    return refused;
  }
  const Station& station = *StationOf(*connection);
  PendingRequest pending{request, station.behaviour().pollsBeforeResponse, {}, 0};
  // The buffer is the driver's transfer buffer: never read past its end.
  const size_t bytes = station.TransferBytes(request);
  if (bytes > kTransferBufferSize) {
    pending.statusWord = h1::kStatusTooLong;
  } else if (bytes > 0) {
    if (buffer == nullptr) return h1::kBadArgument;
    const auto* data = static_cast<const uint8_t*>(buffer);
    pending.data.assign(data, data + bytes);
  }
  connection->pendingWrite = std::move(pending);
  return h1::kOk;
}

uint16_t Network::ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                  uint32_t id) {
  Count(Operation::kReceiveReadData);
  if (const uint16_t refused = front::TakeReadArguments(bufferSize, buffer, statusWord);
      refused != h1::kOk) {
    return refused;
  }
  if (!open_) return h1::kDriverNotOpen;
  Connection* connection = Lookup(id);
  if (connection == nullptr) return h1::kUnknownConnection;
  return Receive(Operation::kReceiveReadData, connection->pendingRead, buffer, bufferSize,
                 statusWord, *connection);
}

uint16_t Network::ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t id) {
  Count(Operation::kReceiveWriteAcknowledge);
  if (const uint16_t refused = front::TakeAcknowledgeArguments(statusWord); refused != h1::kOk) {
    return refused;
  }
  if (!open_) return h1::kDriverNotOpen;
  Connection* connection = Lookup(id);
  if (connection == nullptr) return h1::kUnknownConnection;
  return Receive(Operation::kReceiveWriteAcknowledge, connection->pendingWrite, nullptr, 0,
                 statusWord, *connection);
}

uint16_t Network::Receive(Operation operation, std::optional<PendingRequest>& pending, void* buffer,
                          uint32_t bufferSize, uint16_t* statusWord, Connection& connection) {
  if (const std::optional<Fault> fault = FaultFor(connection, operation)) {
    *statusWord = fault->statusWord;
    if (fault->result != h1::kNoData && fault->result != h1::kReceiving) pending.reset();
    return fault->result;
  }
  if (const uint16_t notReady = NotReady(connection); notReady != h1::kOk) return notReady;
  if (!pending) return h1::kNoRequest;
  if (pending->pollsLeft > 0) {
    --pending->pollsLeft;
    return h1::kNoData;
  }

  Station& station = *StationFor(connection);
  Exchange exchange{connection.id, connection.address, false, pending->request, 0, {}};
  if (operation == Operation::kReceiveWriteAcknowledge) {
    exchange.write = true;
    exchange.statusWord = pending->statusWord != h1::kStatusGood
                              ? pending->statusWord
                              : station.Store(pending->request, pending->data);
    exchange.data = std::move(pending->data);
  } else {
    auto* bytes = static_cast<uint8_t*>(buffer);
    exchange.statusWord = station.Fetch(pending->request, {bytes, bufferSize});
    if (exchange.statusWord == h1::kStatusGood) {
      exchange.data.assign(bytes, bytes + station.TransferBytes(pending->request));
    }
  }
  pending.reset();
  *statusWord = exchange.statusWord;
  exchanges_.push_back(std::move(exchange));

  const int dropAfter = station.behaviour().dropAfterExchanges;
  if (++connection.exchanges >= dropAfter && dropAfter > 0) {
    connection.state = ConnectionState::kBroken;
    connection.pendingRead.reset();
    connection.pendingWrite.reset();
  }
  return h1::kOk;
}

namespace {

std::optional<Network>& ActiveSlot() {
  static std::optional<Network> network;
  return network;
}

}  // namespace

Network& ActiveNetwork() {
  std::optional<Network>& active = ActiveSlot();
  if (!active) active.emplace(DefaultNetwork());
  return *active;
}

Network& InstallNetwork(Network network) {
  std::optional<Network>& active = ActiveSlot();
  active = std::move(network);
  return *active;
}

}  // namespace tav::sim
