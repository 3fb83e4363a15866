// The eleven operations of the H1 driver library over raw Ethernet: H1's class 4 transport on the
// network interface TAV_H1_INTERFACE names (there is no default: no frame goes out on an
// interface nobody chose). Open driver reads h1eth.conf, opens the interface (which needs
// CAP_NET_RAW) and, with TAV_H1_CAPTURE set, the capture file; the open operations create
// connections that set themselves up through the connection-state operation, addressed by the
// connect record's Ethernet address and TSAPs (an S7 connection to a station h1eth.conf names in
// word_addressed speaks to S5 word memory: its data blocks count words); the exchanges run on them.
// Identifiers run from 1 to 65,535. One library instance per process, as the driver expects.
//
// How state is shared: everything (the link's transport layer with its connections, the driver's
// connections, the open flag) belongs to one Library under one mutex. The calling thread takes the
// mutex for each operation. While the driver calls, the calling thread reads the link itself: each
// operation first hands the frames waiting on the link to the layer, and a receive that awaits its
// answer waits on the link (without the mutex), so an answer reaches the exchange without passing
// through another thread; so does a connection state while a set-up that has just begun runs. Every
// operation ends by a deadline taken once when it starts (the driver's pause, 1 ms): frames that
// keep arriving, whoever sends them, never extend it. The timer thread runs the transport's timers
// (acknowledgements, keep-alives, retransmissions, the inactivity check) and, once no operation has
// come for a while, reads the link itself (without the mutex, taking it to hand a frame over), so
// frames are answered while nobody calls; a receive that finds the timer thread took its answer
// notices it within a slice of its wait. The link sends from both threads, always under the mutex.
// Closing the driver releases every connection and waits a bounded time for the stations to
// confirm, so that none keeps a connection of ours.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "capture.h"
#include "file_access.h"
#include "h1_front/connection_table.h"
#include "h1_front/library_files.h"
#include "h1_front/records.h"
#include "link.h"
#include "platform/host_log.h"
#include "results.h"
#include "settings.h"
#include "station_connection.h"

#pragma GCC visibility push(default)
#include "platform/h1_library.h"
#pragma GCC visibility pop

namespace tav::h1eth {

namespace {

constexpr char kInterfaceVariable[] = "TAV_H1_INTERFACE";
// The driver's pause between two polls: the longest an operation reads the link, and a receive
// waits for its answer.
constexpr Microseconds kPauseMicroseconds = 1'000;
// Closing the driver waits at most this long for the stations to confirm the release.
constexpr Microseconds kLongestReleaseWait = 1'000'000;
// The timer thread looks at the layer's deadlines at least this often, so that a deadline an
// operation set while it waited for a frame is met this late at the most.
constexpr Microseconds kLongestTimerWait = 10'000;
// The link belongs to the calling thread for this long after each operation; then the timer thread
// reads it again. Longer than the driver's pause, so that a driver that keeps polling keeps it.
constexpr Microseconds kCallerKeepsLink = 3 * kPauseMicroseconds;
// A receive waiting on the link looks this often whether the timer thread handed its answer over.
constexpr Microseconds kCallerWaitSlice = 100;
// How long a receive asks the link for its answer without sleeping before it waits on it.
constexpr Microseconds kCallerSpin = 50;

struct Library {
  std::mutex mutex;
  std::condition_variable wake;  // the timer thread's: stopping
  uint64_t frames = 0;           // frames handed to the layer
  Microseconds lastCall = 0;     // when an operation last ran
  bool open = false;
  bool stopping = false;
  std::unique_ptr<Link> link;
  std::unique_ptr<TransportLayer> layer;
  Settings settings;  // h1eth.conf as read when the driver was opened
  front::ConnectionTable<std::unique_ptr<StationConnection>> connections;
  std::thread timer;
};

// The library's state lives as long as the process and is never destroyed itself: nothing of it
// may be torn down behind a thread that the end of the process has already stopped (see
// CloseAtExit below).
Library& TheLibrary() {
  static Library& library = *new Library;
  return library;
}

Microseconds Now() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void LogLine(const std::string& line) {
  err(kLogLevelNormal, "H1ETH: %s", line.c_str());
}

// h1eth.conf where it is looked for; the defaults when there is none. Each problem is one line.
Settings ReadSettings() {
  const std::string named = front::Environment(kSettingsVariable);
  const std::string path = SettingsFilePath(named, front::LibraryFolder());
  const SettingsReading reading = ReadSettingsFile(path, !named.empty());
  for (const std::string& problem : reading.problems) {
    err(kLogLevelNormal, "H1ETH: %s %s", path.c_str(), problem.c_str());
  }
  return reading.settings;
}

// Hands one frame to the layer and runs its timers; under the mutex.
void HandOver(Library& library, const FrameBytes& frame, Microseconds now) {
  library.layer->TakeFrame(frame, now);
  ++library.frames;
  library.layer->Tick(now);
}

// The timer thread: the layer's timers, and frames from the link into the layer while no operation
// runs, until stopped.
void RunTimers(Library& library) {
  FrameBytes frame;
  for (;;) {
    Microseconds wait = 0;
    {
      std::unique_lock lock(library.mutex);
      if (library.stopping) return;
      const Microseconds now = Now();
      const Microseconds deadline = library.layer->NextDeadline();
      const Microseconds callerLeaves = library.lastCall + kCallerKeepsLink;
      if (now < callerLeaves) {
        // The calling thread reads the link: the timers only.
        library.layer->Tick(now);
        const Microseconds until = std::min(callerLeaves, deadline);
        library.wake.wait_for(lock, std::chrono::microseconds(std::clamp(
                                        until - now, Microseconds{1}, kLongestTimerWait)));
        continue;
      }
      wait = std::clamp(deadline - now, Microseconds{0}, kLongestTimerWait);
    }
    const bool received = library.link->Receive(frame, wait);
    const std::lock_guard lock(library.mutex);
    if (library.stopping) return;
    const Microseconds now = Now();
    if (received) {
      HandOver(library, frame, now);
    } else {
      library.layer->Tick(now);
    }
  }
}

// Repeats the DRs of the connections let go until every station confirmed or the wait is over;
// the timer thread is stopped, so this thread reads the link.
void AwaitReleases(Library& library) {
  FrameBytes frame;
  const Microseconds deadline = Now() + kLongestReleaseWait;
  std::unique_lock lock(library.mutex);
  for (Microseconds now = Now(); library.layer->releasingConnections() > 0 && now < deadline;
       now = Now()) {
    const Microseconds until = std::min(library.layer->NextDeadline(), deadline);
    lock.unlock();
    const bool received =
        library.link->Receive(frame, std::clamp(until - now, Microseconds{0}, kLongestTimerWait));
    lock.lock();
    if (received) {
      HandOver(library, frame, Now());
    } else {
      library.layer->Tick(Now());
    }
  }
}

// Lets every connection go (DR to each open one), stops and joins the timer thread, waits a
// bounded time for the DRs to be confirmed, closes the link and the capture file.
void Shut(Library& library) {
  {
    const std::lock_guard lock(library.mutex);
    library.connections.Clear();
    library.stopping = true;
    library.open = false;
  }
  library.wake.notify_all();
  if (library.timer.joinable()) library.timer.join();
  if (library.layer) AwaitReleases(library);
  library.layer.reset();
  library.link.reset();
  library.stopping = false;
}

// A host that ends without closing the driver: the connections are released as at a close, except
// where the process's other threads are already gone (Windows), and with them perhaps a lock
// they held: there nothing is waited for and the stations notice the end by their own inactivity
// timers.
struct CloseAtExit {
  ~CloseAtExit() {
    if (!HostProcessEnding()) Shut(TheLibrary());
  }
};
const CloseAtExit closeAtExit;

// The link on the named interface, wrapped for the capture file when one is asked for; nothing
// (and one log line) when the interface cannot be had.
std::unique_ptr<Link> OpenLink() {
  const std::string interfaceName = front::Environment(kInterfaceVariable);
  LinkOpening opening = OpenPacketLink(interfaceName);
  if (!opening.link) {
    LogLine(DescribeLinkFailure(opening, interfaceName));
    return nullptr;
  }
  return CaptureWhenAsked(std::move(opening.link), front::Environment(kCaptureVariable), LogLine);
}

uint16_t Open(void* connectRecord, bool s7) {
  Library& library = TheLibrary();
  const std::lock_guard lock(library.mutex);
  if (!library.open) return kDriverNotOpen;
  ConnectRecord record;
  if (const uint16_t refused = front::TakeConnectRecord(connectRecord, record); refused != kOk) {
    return refused;
  }
  StationAddressing addressing;
  addressing.endpoints.local = library.link->Address();
  addressing.endpoints.remote = front::StationAddress(record);
  addressing.localTsap = front::WireTsap(front::LocalTsap(record), !s7);
  addressing.remoteTsap = front::WireTsap(front::RemoteTsap(record), !s7);

  const uint16_t id = library.connections.FreeIdentifier();
  if (id == 0) return kNoIdentifier;
  const sessions::Dialect dialect = !s7 ? sessions::Dialect::kS5
                                    : IsWordAddressed(library.settings, addressing.endpoints.remote)
                                        ? sessions::Dialect::kS7Words
                                        : sessions::Dialect::kS7;
  auto connection = std::make_unique<StationConnection>(
      *library.layer, std::move(addressing), dialect, sessions::SessionSettings{}, LogLine);
  connection->Start(Now());
  library.connections.Add(id, std::move(connection));
  front::AnswerConnectRecord(connectRecord, id, kConnectSettingUp);
  return kOk;
}

// Takes the link for the calling thread and hands the frames waiting on it to the layer, until
// the operation's deadline at the latest.
void TakeLink(Library& library, Microseconds deadline) {
  thread_local FrameBytes frame;
  while (Now() < deadline && library.link->Receive(frame, 0)) HandOver(library, frame, Now());
  library.lastCall = Now();
}

// Runs `operation` on the connection `id` under the lock, after the frames waiting on the link,
// with the operation's deadline; the results of a closed library or an unknown identifier
// otherwise.
template <typename Operation>
uint16_t OnConnection(uint32_t id, Operation operation) {
  const Microseconds deadline = Now() + kPauseMicroseconds;
  Library& library = TheLibrary();
  std::unique_lock lock(library.mutex);
  if (!library.open) return kDriverNotOpen;
  StationConnection* connection = library.connections.Find(id);
  if (connection == nullptr) return kUnknownConnection;
  TakeLink(library, deadline);
  return operation(*connection, lock, deadline);
}

// Waits on the link while `awaiting` says the connection waits for the station (its answer, its
// set-up), until `until` (the operation's deadline, whatever arrives meanwhile); the mutex is
// free while it waits.
template <typename Awaiting>
void Collect(Library& library, StationConnection& connection, Awaiting awaiting,
             std::unique_lock<std::mutex>& lock, Microseconds until) {
  thread_local FrameBytes frame;
  while (awaiting()) {
    const Microseconds now = Now();
    if (now >= until) return;
    const uint64_t seen = library.frames;
    lock.unlock();
    bool received = false;
    // A station near by answers within tens of microseconds: asking the link without sleeping
    // meanwhile spares the wake-up of a sleeping processor, which costs as much again.
    while (!received && Now() < std::min(until, now + kCallerSpin)) {
      received = library.link->Receive(frame, 0);
    }
    if (!received) {
      received = library.link->Receive(frame, std::min(until - Now(), kCallerWaitSlice));
    }
    lock.lock();
    const Microseconds after = Now();
    library.lastCall = after;
    if (received) HandOver(library, frame, after);
    if (library.frames == seen) continue;
    // Moves the session on with what arrived (and lets further requests out).
    connection.State(after);
  }
}

}  // namespace

}  // namespace tav::h1eth

using namespace tav::h1eth;
namespace front = tav::front;

namespace {

// Whether the driver has opened the library; read under the mutex like every other state.
bool IsOpen() {
  Library& library = TheLibrary();
  const std::lock_guard lock(library.mutex);
  return library.open;
}

}  // namespace

extern "C" {

uint16_t TAV_H1_CALL H1OpenDriver(void) {
  Library& library = TheLibrary();
  {
    const std::lock_guard lock(library.mutex);
    if (library.open) return kOk;
  }
  Settings settings = ReadSettings();
  std::unique_ptr<Link> link = OpenLink();
  if (!link) return kNoSockets;
  const std::lock_guard lock(library.mutex);
  library.link = std::move(link);
  library.settings = std::move(settings);
  Link& sender = *library.link;
  library.layer = std::make_unique<TransportLayer>(
      TransportSettingsOf(library.settings), [&sender](ByteView frame) { sender.Send(frame); });
  library.layer->AddLocalAddress(library.link->Address());
  library.open = true;
  library.timer = std::thread(RunTimers, std::ref(library));
  return kOk;
}

uint16_t TAV_H1_CALL H1CloseDriver(void) {
  Shut(TheLibrary());
  return kOk;
}

uint16_t TAV_H1_CALL H1OpenS5Connection(void* connectRecord) {
  return Open(connectRecord, false);
}

// The second argument is reserved; the driver passes 0.
uint16_t TAV_H1_CALL H1OpenS7Connection(void* connectRecord, uint32_t /*reserved*/) {
  return Open(connectRecord, true);
}

// A set-up that has just begun is waited for within the driver's pause, so that a station near by
// is connected at the first poll rather than after the driver's sleep.
uint16_t TAV_H1_CALL H1ConnectionState(uint32_t id) {
  return OnConnection(id, [](StationConnection& connection, std::unique_lock<std::mutex>& lock,
                             Microseconds deadline) {
    connection.State(Now());
    Collect(
        TheLibrary(), connection,
        [&connection] { return connection.SettingUp(Now(), kPauseMicroseconds); }, lock, deadline);
    return connection.State(Now());
  });
}

uint16_t TAV_H1_CALL H1RestartConnection(uint32_t id) {
  return OnConnection(id, [](StationConnection& connection, auto&, Microseconds) {
    connection.Start(Now());
    return kOk;
  });
}

uint16_t TAV_H1_CALL H1ReleaseConnection(uint32_t id) {
  Library& library = TheLibrary();
  const std::lock_guard lock(library.mutex);
  if (!library.open) return kDriverNotOpen;
  if (!library.connections.Release(id)) return kUnknownConnection;
  return kOk;
}

uint16_t TAV_H1_CALL H1SendReadRequest(void* requestRecord) {
  tav::RequestRecord request;
  if (const uint16_t refused = front::TakeRequestRecord(requestRecord, request); refused != kOk) {
    return IsOpen() ? refused : kDriverNotOpen;
  }
  return OnConnection(request.connection,
                      [&request](StationConnection& connection, auto&, Microseconds) {
                        return connection.SendRead(request, Now());
                      });
}

uint16_t TAV_H1_CALL H1ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                       uint32_t id) {
  if (const uint16_t refused = front::TakeReadArguments(bufferSize, buffer, statusWord);
      refused != kOk) {
    return refused;
  }
  return OnConnection(id, [&](StationConnection& connection, std::unique_lock<std::mutex>& lock,
                              Microseconds deadline) {
    connection.State(Now());
    Collect(
        TheLibrary(), connection, [&connection] { return connection.Awaiting(false); }, lock,
        deadline);
    return connection.ReceiveRead(
        {static_cast<uint8_t*>(buffer), buffer == nullptr ? 0 : bufferSize}, *statusWord, Now());
  });
}

uint16_t TAV_H1_CALL H1SendWriteRequest(void* requestRecord, void* buffer) {
  tav::RequestRecord request;
  if (const uint16_t refused = front::TakeRequestRecord(requestRecord, request); refused != kOk) {
    return IsOpen() ? refused : kDriverNotOpen;
  }
  return OnConnection(request.connection, [&](StationConnection& connection, auto&, Microseconds) {
    return connection.SendWrite(request, static_cast<const uint8_t*>(buffer), Now());
  });
}

uint16_t TAV_H1_CALL H1ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t id) {
  if (const uint16_t refused = front::TakeAcknowledgeArguments(statusWord); refused != kOk) {
    return refused;
  }
  return OnConnection(id, [&](StationConnection& connection, std::unique_lock<std::mutex>& lock,
                              Microseconds deadline) {
    connection.State(Now());
    Collect(
        TheLibrary(), connection, [&connection] { return connection.Awaiting(true); }, lock,
        deadline);
    return connection.ReceiveWriteAcknowledge(*statusWord, Now());
  });
}

}  // extern "C"
