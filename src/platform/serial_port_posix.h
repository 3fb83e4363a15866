// Linux's side of the serial-port seam: the Win32 communications functions the serial channel
// calls, with their records and constants, implemented over a terminal device and termios.
//
// Port names: "NUL" is the null device /dev/null; "COMn" (n from 1 to 256, also written
// "\\.\COMn") is the n-th serial port /dev/ttyS(n-1); a name beginning with "/" is a device path
// used as it is (/dev/ttyUSB0, /dev/pts/3). Like Windows's device names, "NUL" and "COM" are
// matched without regard to case. Any other name fails to open.
//
// A terminal opened with share mode 0 is exclusive: a second open of it, in this process or
// another, fails while the first is open (an exclusive lock on the device and the terminal's
// exclusive mode). The comm functions work on terminals that CreateFileA opened; on other files
// (the null device) they fail as Windows's do. Failures set errno, the counterpart of Win32's
// GetLastError.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using HANDLE = int;  // the file descriptor

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;
inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;
inline constexpr DWORD MAXDWORD = 0xFFFF'FFFF;

inline constexpr DWORD GENERIC_READ = 0x8000'0000;
inline constexpr DWORD GENERIC_WRITE = 0x4000'0000;
inline constexpr DWORD FILE_SHARE_READ = 0x0000'0001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x0000'0002;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x0000'0080;

inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 3;

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;

// A port's line and flow-control settings, field for field the Win32 record.
struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};
static_assert(offsetof(DCB, DCBlength) == 0);
static_assert(offsetof(DCB, BaudRate) == 4);
static_assert(offsetof(DCB, wReserved) == 12);
static_assert(offsetof(DCB, XonLim) == 14);
static_assert(offsetof(DCB, XoffLim) == 16);
static_assert(offsetof(DCB, ByteSize) == 18);
static_assert(offsetof(DCB, Parity) == 19);
static_assert(offsetof(DCB, StopBits) == 20);
static_assert(offsetof(DCB, XonChar) == 21);
static_assert(offsetof(DCB, XoffChar) == 22);
static_assert(offsetof(DCB, ErrorChar) == 23);
static_assert(offsetof(DCB, EofChar) == 24);
static_assert(offsetof(DCB, EvtChar) == 25);
static_assert(offsetof(DCB, wReserved1) == 26);
static_assert(sizeof(DCB) == 28);

// How long reads and writes on a port wait, in milliseconds.
struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
static_assert(offsetof(COMMTIMEOUTS, ReadIntervalTimeout) == 0);
static_assert(offsetof(COMMTIMEOUTS, ReadTotalTimeoutMultiplier) == 4);
static_assert(offsetof(COMMTIMEOUTS, ReadTotalTimeoutConstant) == 8);
static_assert(offsetof(COMMTIMEOUTS, WriteTotalTimeoutMultiplier) == 12);
static_assert(offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant) == 16);
static_assert(sizeof(COMMTIMEOUTS) == 20);

// Opens the device `fileName` names (see above) for reading and writing as `desiredAccess` asks.
// Only OPEN_EXISTING is supported; the attributes and the template are ignored. Returns the file
// descriptor, never 0, or INVALID_HANDLE_VALUE.
HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile);

// Closes what CreateFileA opened, releasing its exclusivity. FALSE when the close failed.
BOOL CloseHandle(HANDLE object);

// Reads the terminal's settings into `dcb`: rate, data bits, parity, stop bits and flow control
// from the terminal itself, the fields termios has no place for as the last SetCommState left them.
BOOL GetCommState(HANDLE file, DCB* dcb);

// Applies `dcb` to the terminal: termios flags and speed (rates without a termios speed code
// through the kernel's free rate setting), DTR and RTS through the modem-control lines. FALSE, with
// the terminal unchanged, when the DCB is no valid line or the device refuses its rate. Lines a
// device does not have (a pseudo-terminal has none) are left alone.
BOOL SetCommState(HANDLE file, DCB* dcb);

// Reads back the time-outs that SetCommTimeouts set (all zero after the open).
BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);

// Sets how reads wait (the terminal's VMIN and VTIME, in tenths of a second, at most 25.5 seconds).
// Writes always wait until the terminal takes the bytes.
BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);

// A terminal's queues are the kernel's; this checks the handle and changes nothing.
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);

}  // namespace tav
