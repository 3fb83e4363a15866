// The H1 operations the loaded driver binds to. tavhost defines and exports them itself, ahead
// of every library in the process, and hands each call on: to the simulated H1 network that it
// links, or, after UseH1OverTcp or UseH1OverEthernet, to libh1tcp's or libh1eth's operations,
// so that the same driver reaches real PLCs over TCP or H1.
#include "runtime/h1_operations.h"

#include <dlfcn.h>
#include <fmt/core.h>

#include <cstdlib>

#include "cli/output.h"
#include "runtime/simulation_control.h"
#include "sim/network.h"

#pragma GCC visibility push(default)
#include "platform/h1_library.h"
#pragma GCC visibility pop

namespace tavhost {

namespace {

// Null until a library is loaded: the simulated network answers.
tav::H1Operations* loaded = nullptr;
bool overEthernet = false;
std::string loadedPath;
std::optional<std::string> openFailure;

// Keeps why the open failed: the library logs its reason before it returns, the driver only its
// result after.
uint16_t NoteOpening(uint16_t result, uint64_t linesBefore) {
  if (result == 0) {
    openFailure.reset();
  } else if (loaded != nullptr && DriverLogCount() != linesBefore) {
    openFailure = LastDriverLogText();
  } else {
    openFailure = fmt::format("the H1 library {} did not open (result {})",
                              loaded != nullptr ? loadedPath : "of the simulated network", result);
  }
  return result;
}

template <typename Function>
void Bind(void* library, const std::string& path, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  if (function == nullptr) {
    fmt::print(stderr, "{} has no {}\n", path, name);
    std::exit(1);
  }
}

// The eleven operations of the library at `path`.
tav::H1Operations* Load(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    fmt::print(stderr, "cannot load {}: {}\n", path, dlerror());
    std::exit(1);
  }
  static tav::H1Operations operations;
  Bind(handle, path, "H1OpenDriver", operations.openDriver);
  Bind(handle, path, "H1CloseDriver", operations.closeDriver);
  Bind(handle, path, "H1OpenS5Connection", operations.openS5);
  Bind(handle, path, "H1OpenS7Connection", operations.openS7);
  Bind(handle, path, "H1ConnectionState", operations.state);
  Bind(handle, path, "H1RestartConnection", operations.restart);
  Bind(handle, path, "H1ReleaseConnection", operations.release);
  Bind(handle, path, "H1SendReadRequest", operations.sendRead);
  Bind(handle, path, "H1ReceiveReadData", operations.receiveRead);
  Bind(handle, path, "H1SendWriteRequest", operations.sendWrite);
  Bind(handle, path, "H1ReceiveWriteAcknowledge", operations.receiveWrite);
  return &operations;
}

// Every operation on the simulated network first takes in a changed simulation file, so that a
// station switched on or off shows even inside one long request (a connection wait).
tav::sim::Network& Simulated() {
  RefreshSimulation();
  return tav::sim::ActiveNetwork();
}

}  // namespace

bool UsingH1OverTcp() {
  return loaded != nullptr && !overEthernet;
}

bool UsingH1OverEthernet() {
  return loaded != nullptr && overEthernet;
}

bool UsingRealStations() {
  return loaded != nullptr;
}

std::optional<std::string> H1LibraryOpenFailure() {
  return openFailure;
}

void UseH1OverTcp(const std::string& library, const std::string& map) {
  setenv("TAV_H1TCP_MAP", map.c_str(), 1);
  loaded = Load(library);
  loadedPath = library;
}

void UseH1OverEthernet(const std::string& library, const std::string& interfaceName) {
  setenv("TAV_H1_INTERFACE", interfaceName.c_str(), 1);
  loaded = Load(library);
  loadedPath = library;
  overEthernet = true;
}

}  // namespace tavhost

using tavhost::loaded;
using tavhost::Simulated;

extern "C" {

uint16_t H1OpenDriver(void) {
  const uint64_t linesBefore = tavhost::DriverLogCount();
  return tavhost::NoteOpening(loaded ? loaded->openDriver() : Simulated().OpenDriver(),
                              linesBefore);
}

uint16_t H1CloseDriver(void) {
  return loaded ? loaded->closeDriver() : Simulated().CloseDriver();
}

uint16_t H1OpenS5Connection(void* record) {
  return loaded ? loaded->openS5(record) : Simulated().OpenS5Connection(record);
}

uint16_t H1OpenS7Connection(void* record, uint32_t reserved) {
  return loaded ? loaded->openS7(record, reserved) : Simulated().OpenS7Connection(record);
}

uint16_t H1ConnectionState(uint32_t connection) {
  return loaded ? loaded->state(connection) : Simulated().ConnectionStateOf(connection);
}

uint16_t H1RestartConnection(uint32_t connection) {
  return loaded ? loaded->restart(connection) : Simulated().RestartConnection(connection);
}

uint16_t H1ReleaseConnection(uint32_t connection) {
  return loaded ? loaded->release(connection) : Simulated().ReleaseConnection(connection);
}

uint16_t H1SendReadRequest(void* record) {
  return loaded ? loaded->sendRead(record) : Simulated().SendReadRequest(record);
}

uint16_t H1ReceiveReadData(uint32_t size, void* buffer, uint16_t* statusWord, uint32_t connection) {
  return loaded ? loaded->receiveRead(size, buffer, statusWord, connection)
                : Simulated().ReceiveReadData(size, buffer, statusWord, connection);
}

uint16_t H1SendWriteRequest(void* record, void* buffer) {
  return loaded ? loaded->sendWrite(record, buffer) : Simulated().SendWriteRequest(record, buffer);
}

uint16_t H1ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t connection) {
  return loaded ? loaded->receiveWrite(statusWord, connection)
                : Simulated().ReceiveWriteAcknowledge(statusWord, connection);
}

}  // extern "C"
