// The eleven operations of the H1 driver library over TCP. Open driver reads the station map
// (the file named by TAV_H1TCP_MAP, else h1tcp.map beside this library) and reports its bad
// lines through the host log; the open operations create connections that set themselves up
// through the connection-state operation; the exchanges run on them. Identifiers run from 1 to
// 65,535. Single-threaded, as the driver is: one operation at a time.
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "connection.h"
#include "h1_front/connection_table.h"
#include "h1_front/library_files.h"
#include "h1_front/records.h"
#include "os.h"
#include "platform/host_log.h"
#include "results.h"
#include "sockets.h"
#include "station_map/station_map.h"
#include "vocabulary/configuration_file.h"

#pragma GCC visibility push(default)
#include "platform/h1_library.h"
#pragma GCC visibility pop

namespace tav::h1tcp {

namespace {

constexpr char kMapVariable[] = "TAV_H1TCP_MAP";
constexpr char kMapFileName[] = "h1tcp.map";

struct Library {
  bool open = false;
  bool socketsStarted = false;
  std::vector<Station> stations;
  front::ConnectionTable<std::unique_ptr<Connection>> connections;
};

Library& TheLibrary() {
  // The connections close their sockets when the process ends and the library is destroyed, so
  // the sockets must outlive it: made first, they are destroyed last.
  OsSockets();
  static Library library;
  return library;
}

void LogLine(const std::string& line) {
  err(kLogLevelNormal, "H1TCP: %s", line.c_str());
}

// What reading the map gave: its text, or why there is none.
enum class MapReading { kText, kMissing, kNotRegular, kTooLarge };

// The map's text, at most kStationMapByteLimit bytes. Only a regular file is opened: a FIFO
// would hold the driver's open until someone writes to it, and a folder reads as empty.
MapReading ReadMap(const std::string& path, std::string& text) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return MapReading::kMissing;
  if (!std::filesystem::is_regular_file(status)) return MapReading::kNotRegular;
  std::ifstream file(path, std::ios::binary);
  if (!file) return MapReading::kMissing;
  text.assign(kStationMapByteLimit + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(file.gcount()));
  return text.size() > kStationMapByteLimit ? MapReading::kTooLarge : MapReading::kText;
}

// The map's stations with their hosts looked up now, so that no connection waits for a name
// server while the driver polls. A name that does not resolve is the line's problem, said once.
void LoadStationMap(Library& library) {
  library.stations.clear();
  const std::string path = ConfigurationFilePath(
      front::Environment(kMapVariable), kMapFileName, front::LibraryFolder(),
      [](const std::string& candidate) { return std::ifstream(candidate).good(); });
  std::string text;
  switch (ReadMap(path, text)) {
    case MapReading::kText:
      break;
    case MapReading::kTooLarge:
      err(kLogLevelNormal, "H1TCP: station map %s is larger than %d bytes: no station is reachable",
          path.c_str(), static_cast<int>(kStationMapByteLimit));
      return;
    case MapReading::kNotRegular:
      err(kLogLevelNormal,
          "H1TCP: station map %s is no regular file (a folder, a FIFO or a device): no station is "
          "reachable",
          path.c_str());
      return;
    case MapReading::kMissing:
      err(kLogLevelNormal, "H1TCP: station map %s not found: no station is reachable",
          path.c_str());
      return;
  }
  const StationMap map = ParseStationMap(text);
  for (const MapProblem& problem : map.problems) {
    err(kLogLevelNormal, "H1TCP: %s line %d skipped: %s", path.c_str(), problem.line,
        problem.text.c_str());
  }
  for (const Route& route : map.routes) {
    Station station{route, OsSockets().Resolve(route.host, route.port), std::nullopt};
    if (station.endpoint && route.writePort != 0) {
      station.writeEndpoint = OsSockets().Resolve(route.host, route.writePort);
    }
    if (!station.endpoint || (route.writePort != 0 && !station.writeEndpoint)) {
      station.endpoint.reset();
      err(kLogLevelNormal, "H1TCP: %s line %d skipped: host name '%s' not found", path.c_str(),
          route.line, route.host.c_str());
    }
    library.stations.push_back(std::move(station));
  }
}

const Station* FindStation(const Library& library, const EthernetAddress& address) {
  for (const Station& station : library.stations) {
    if (station.route.address == address) return &station;
  }
  return nullptr;
}

Connection* Lookup(uint32_t id) {
  return TheLibrary().connections.Find(id);
}

uint16_t Open(void* connectRecord, bool s7) {
  Library& library = TheLibrary();
  if (!library.open) return kDriverNotOpen;
  ConnectRecord record;
  if (const uint16_t refused = front::TakeConnectRecord(connectRecord, record); refused != kOk) {
    return refused;
  }
  // The driver opens an S5 station's write connection with the record of its read connection,
  // whose identifier is still in it.
  const Role role = s7 ? Role::kS7 : record.connection != 0 ? Role::kS5Write : Role::kS5Read;
  auto connection =
      std::make_unique<Connection>(OsSockets(), FindStation(library, front::StationAddress(record)),
                                   role, front::WireTsap(front::LocalTsap(record), !s7),
                                   front::WireTsap(front::RemoteTsap(record), !s7), LogLine);

  const uint16_t id = library.connections.FreeIdentifier();
  if (id == 0) return kNoIdentifier;
  connection->Start();
  library.connections.Add(id, std::move(connection));
  front::AnswerConnectRecord(connectRecord, id, kConnectSettingUp);
  return kOk;
}

// The connection a request record names: kOk with `connection` set, or the result to answer.
uint16_t Take(const void* requestRecord, RequestRecord& request, Connection*& connection) {
  if (!TheLibrary().open) return kDriverNotOpen;
  if (const uint16_t refused = front::TakeRequestRecord(requestRecord, request); refused != kOk) {
    return refused;
  }
  connection = Lookup(request.connection);
  return connection == nullptr ? kUnknownConnection : kOk;
}

}  // namespace

}  // namespace tav::h1tcp

using namespace tav::h1tcp;
namespace front = tav::front;

extern "C" {

uint16_t TAV_H1_CALL H1OpenDriver(void) {
  Library& library = TheLibrary();
  if (!library.socketsStarted) {
    if (!StartSockets()) return kNoSockets;
    library.socketsStarted = true;
  }
  LoadStationMap(library);
  library.open = true;
  return kOk;
}

uint16_t TAV_H1_CALL H1CloseDriver(void) {
  Library& library = TheLibrary();
  library.connections.Clear();
  library.open = false;
  if (library.socketsStarted) StopSockets();
  library.socketsStarted = false;
  return kOk;
}

uint16_t TAV_H1_CALL H1OpenS5Connection(void* connectRecord) {
  return Open(connectRecord, false);
}

// The second argument is reserved; the driver passes 0.
uint16_t TAV_H1_CALL H1OpenS7Connection(void* connectRecord, uint32_t /*reserved*/) {
  return Open(connectRecord, true);
}

uint16_t TAV_H1_CALL H1ConnectionState(uint32_t id) {
  if (!TheLibrary().open) return kDriverNotOpen;
  Connection* connection = Lookup(id);
  return connection == nullptr ? kUnknownConnection : connection->State();
}

uint16_t TAV_H1_CALL H1RestartConnection(uint32_t id) {
  if (!TheLibrary().open) return kDriverNotOpen;
  Connection* connection = Lookup(id);
  if (connection == nullptr) return kUnknownConnection;
  connection->Start();
  return kOk;
}

uint16_t TAV_H1_CALL H1ReleaseConnection(uint32_t id) {
  if (!TheLibrary().open) return kDriverNotOpen;
  if (!TheLibrary().connections.Release(id)) return kUnknownConnection;
  return kOk;
}

uint16_t TAV_H1_CALL H1SendReadRequest(void* requestRecord) {
  tav::RequestRecord request;
  Connection* connection = nullptr;
  if (const uint16_t refused = Take(requestRecord, request, connection); refused != kOk) {
    return refused;
  }
  return connection->SendRead(request);
}

uint16_t TAV_H1_CALL H1ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                       uint32_t id) {
  if (const uint16_t refused = front::TakeReadArguments(bufferSize, buffer, statusWord);
      refused != kOk) {
    return refused;
  }
  if (!TheLibrary().open) return kDriverNotOpen;
  Connection* connection = Lookup(id);
  if (connection == nullptr) return kUnknownConnection;
  return connection->ReceiveRead(bufferSize, static_cast<uint8_t*>(buffer), *statusWord);
}

uint16_t TAV_H1_CALL H1SendWriteRequest(void* requestRecord, void* buffer) {
  tav::RequestRecord request;
  Connection* connection = nullptr;
  if (const uint16_t refused = Take(requestRecord, request, connection); refused != kOk) {
    return refused;
  }
  return connection->SendWrite(request, static_cast<const uint8_t*>(buffer));
}

uint16_t TAV_H1_CALL H1ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t id) {
  if (const uint16_t refused = front::TakeAcknowledgeArguments(statusWord); refused != kOk) {
    return refused;
  }
  if (!TheLibrary().open) return kDriverNotOpen;
  Connection* connection = Lookup(id);
  if (connection == nullptr) return kUnknownConnection;
  return connection->ReceiveWriteAcknowledge(*statusWord);
}

}  // extern "C"
