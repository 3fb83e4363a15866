// The Win32 communications functions over Linux terminals. What a terminal holds itself (speed,
// line, flow control, read wait) is set and read through termios; what it has no place for (the
// DCB's remaining fields, the time-outs as given) is kept per open port in a small table.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <mutex>
#include <optional>
#include <string>

#include "platform/serial_port.h"
#include "platform/serial_port_rate_linux.h"
#include "platform/serial_port_termios.h"

namespace tav {
namespace {

// What the layer keeps of a terminal that CreateFileA opened.
struct PortRecord {
  HANDLE fd = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE: a free slot
  bool exclusive = false;            // the terminal was put into exclusive mode
  DCB dcb{};                         // as the last SetCommState left it
  COMMTIMEOUTS timeouts{};           // as the last SetCommTimeouts left them
};

// More ports than a process will ever drive at once: every driver instance holds one.
constexpr size_t kMaxOpenPorts = 64;

std::mutex openPortsMutex;
std::array<PortRecord, kMaxOpenPorts> openPorts;

PortRecord* FindPortRecord(HANDLE fd) {
  if (fd == INVALID_HANDLE_VALUE) return nullptr;
  for (PortRecord& port : openPorts) {
    if (port.fd == fd) return &port;
  }
  return nullptr;
}

// The record of an open port for a call that also needs `argument`. Sets errno as the call's
// failure reports it: ENOTTY for a handle that is no open port, EINVAL for a null argument.
PortRecord* PortForCall(HANDLE fd, const void* argument) {
  PortRecord* port = FindPortRecord(fd);
  if (port == nullptr || argument == nullptr) {
    errno = port == nullptr ? ENOTTY : EINVAL;
    return nullptr;
  }
  return port;
}

PortRecord* FreeRecord() {
  for (PortRecord& port : openPorts) {
    if (port.fd == INVALID_HANDLE_VALUE) return &port;
  }
  return nullptr;
}

// The DCB of a freshly opened terminal: Linux raises DTR and RTS when it opens one.
DCB InitialDcb() {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  return dcb;
}

int OpenFlags(DWORD desiredAccess) {
  const bool reads = (desiredAccess & GENERIC_READ) != 0;
  const bool writes = (desiredAccess & GENERIC_WRITE) != 0;
  const int access = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  // Without O_NONBLOCK the open of a modem port would wait for its carrier.
  return access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
}

// Closes `fd` on a failed open, keeping the open's errno.
HANDLE FailOpen(int fd) {
  const int error = errno;
  close(fd);
  errno = error;
  return INVALID_HANDLE_VALUE;
}

// Raises or lowers one modem-control line. A device without modem lines (a pseudo-terminal)
// answers ENOTTY or EINVAL, and the line is left alone.
bool ApplyLine(int fd, int line, LineAction action) {
  if (action == LineAction::kLeave) return true;
  const unsigned long request = action == LineAction::kRaise ? TIOCMBIS : TIOCMBIC;
  if (ioctl(fd, request, &line) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;
}

// Whether the terminal took the speed code of `wanted`: a device that cannot run at a rate falls
// back to another one and still reports success.
bool SpeedTaken(int fd, const termios& wanted) {
  termios now{};
  if (tcgetattr(fd, &now) != 0) return false;
  return cfgetospeed(&now) == cfgetospeed(&wanted);
}

// Puts back the attributes a failed SetCommState found, keeping the failure's errno.
BOOL FailSetState(int fd, const termios& previous, int error) {
  tcsetattr(fd, TCSANOW, &previous);
  errno = error;
  return FALSE;
}

}  // namespace

uint32_t PortHandleBits(HANDLE port) {
  return static_cast<uint32_t>(port);
}

HANDLE PortFromHandleBits(uint32_t bits) {
  return static_cast<HANDLE>(bits);
}

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   void* /*securityAttributes*/, DWORD creationDisposition,
                   DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
  if (fileName == nullptr || creationDisposition != OPEN_EXISTING) {
    errno = EINVAL;
    return INVALID_HANDLE_VALUE;
  }
  const std::optional<std::string> path = DevicePathFor(fileName);
  if (!path) {
    errno = ENOENT;
    return INVALID_HANDLE_VALUE;
  }

  int fd = open(path->c_str(), OpenFlags(desiredAccess));
  if (fd < 0) return INVALID_HANDLE_VALUE;
  // Handle 0 means "no port" to the driver; a process without standard input could get it.
  if (fd == 0) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    if (moved < 0) return INVALID_HANDLE_VALUE;
    fd = moved;
  }
  if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return FailOpen(fd);

  const std::lock_guard lock(openPortsMutex);
  // A record of a descriptor that was closed behind the layer's back no longer holds.
  if (PortRecord* stale = FindPortRecord(fd)) *stale = PortRecord{};
  if (!isatty(fd)) return fd;  // the null device: no comm state, nothing to share

  // The lock keeps every other open out, root's and other processes' included; exclusive mode
  // stops even programs that do not lock from opening the terminal.
  const bool exclusive = shareMode == 0;
  if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) errno = EBUSY;
    return FailOpen(fd);
  }
  if (exclusive && ioctl(fd, TIOCEXCL) != 0) return FailOpen(fd);

  PortRecord* port = FreeRecord();
  if (port == nullptr) {
    if (exclusive) ioctl(fd, TIOCNXCL);
    errno = EMFILE;
    return FailOpen(fd);
  }
  *port = PortRecord{fd, exclusive, InitialDcb(), {}};
  return fd;
}

BOOL CloseHandle(HANDLE object) {
  {
    const std::lock_guard lock(openPortsMutex);
    if (PortRecord* port = FindPortRecord(object)) {
      if (port->exclusive) ioctl(object, TIOCNXCL);
      *port = PortRecord{};
    }
  }
  // Linux releases the descriptor even when close is interrupted.
  if (close(object) != 0 && errno != EINTR) return FALSE;
  return TRUE;
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
  const std::lock_guard lock(openPortsMutex);
  const PortRecord* port = PortForCall(file, dcb);
  if (port == nullptr) return FALSE;
  termios attributes{};
  if (tcgetattr(file, &attributes) != 0) return FALSE;
  uint32_t rate = RateOfSpeedCode(cfgetospeed(&attributes));
  if (rate == 0) rate = TerminalRate(file);

  *dcb = port->dcb;
  ReadTerminalLine(attributes, rate, *dcb);
  return TRUE;
}

BOOL SetCommState(HANDLE file, DCB* dcb) {
  const std::lock_guard lock(openPortsMutex);
  PortRecord* port = PortForCall(file, dcb);
  if (port == nullptr) return FALSE;
  termios previous{};
  if (tcgetattr(file, &previous) != 0) return FALSE;
  const std::optional<TerminalLine> line = TerminalLineFor(*dcb, previous);
  if (!line) {
    errno = EINVAL;
    return FALSE;
  }

  if (tcsetattr(file, TCSANOW, &line->attributes) != 0) return FailSetState(file, previous, errno);
  if (line->freeRate) {
    if (!SetTerminalRate(file, line->rate)) return FailSetState(file, previous, errno);
  } else if (!SpeedTaken(file, line->attributes)) {
    return FailSetState(file, previous, EINVAL);
  }
  if (!ApplyLine(file, TIOCM_DTR, line->dtr) || !ApplyLine(file, TIOCM_RTS, line->rts)) {
    return FailSetState(file, previous, errno);
  }
  port->dcb = *dcb;
  port->dcb.DCBlength = sizeof(DCB);
  return TRUE;
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
  const std::lock_guard lock(openPortsMutex);
  const PortRecord* port = PortForCall(file, timeouts);
  if (port == nullptr) return FALSE;
  *timeouts = port->timeouts;
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
  const std::lock_guard lock(openPortsMutex);
  PortRecord* port = PortForCall(file, timeouts);
  if (port == nullptr) return FALSE;
  termios attributes{};
  if (tcgetattr(file, &attributes) != 0) return FALSE;
  const ReadWait wait = ReadWaitFor(*timeouts);
  attributes.c_cc[VMIN] = wait.vmin;
  attributes.c_cc[VTIME] = wait.vtime;
  if (tcsetattr(file, TCSANOW, &attributes) != 0) return FALSE;
  port->timeouts = *timeouts;
  return TRUE;
}

BOOL SetupComm(HANDLE file, DWORD /*inQueue*/, DWORD /*outQueue*/) {
  const std::lock_guard lock(openPortsMutex);
  if (FindPortRecord(file) == nullptr) {
    errno = ENOTTY;
    return FALSE;
  }
  return TRUE;
}

}  // namespace tav
