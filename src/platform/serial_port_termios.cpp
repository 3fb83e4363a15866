#include "platform/serial_port_termios.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace tav {
namespace {

struct SpeedCode {
  speed_t code;
  uint32_t rate;
};

constexpr std::array<SpeedCode, 31> kSpeedCodes = {{
    {B50, 50},
    {B75, 75},
    {B110, 110},
    {B134, 134},
    {B150, 150},
    {B200, 200},
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B1800, 1800},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B500000, 500000},
    {B576000, 576000},
    {B921600, 921600},
    {B1000000, 1000000},
    {B1152000, 1152000},
    {B1500000, 1500000},
    {B2000000, 2000000},
    {B2500000, 2500000},
    {B3000000, 3000000},
    {B3500000, 3500000},
    {B4000000, 4000000},
    {B0, 0},
}};

constexpr uint32_t kHighestComPort = 256;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) ==
           std::toupper(static_cast<unsigned char>(y));
  });
}

// The number n of "COMn", or 0 when `name` is no COM port name.
uint32_t ComPortNumber(std::string_view name) {
  constexpr std::string_view kCom = "COM";
  if (name.size() <= kCom.size() || !EqualsIgnoringCase(name.substr(0, kCom.size()), kCom))
    return 0;
  const std::string_view digits = name.substr(kCom.size());
  if (digits.front() == '0') return 0;
  uint32_t number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size()) return 0;
  return number <= kHighestComPort ? number : 0;
}

tcflag_t DataBitsFlag(BYTE byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

BYTE ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

// Linux marks a parity bit that is always 1 (mark) or always 0 (space) with CMSPAR, the level
// being PARODD.
tcflag_t ParityFlags(BYTE parity) {
  switch (parity) {
    case ODDPARITY:
      return PARENB | PARODD;
    case EVENPARITY:
      return PARENB;
    case MARKPARITY:
      return PARENB | CMSPAR | PARODD;
    case SPACEPARITY:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

BYTE ParityOf(tcflag_t cflag) {
  if ((cflag & PARENB) == 0) return NOPARITY;
  const bool odd = (cflag & PARODD) != 0;
  if ((cflag & CMSPAR) != 0) return odd ? MARKPARITY : SPACEPARITY;
  return odd ? ODDPARITY : EVENPARITY;
}

bool IsValidLine(const DCB& dcb) {
  if (dcb.BaudRate == 0) return false;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.Parity > SPACEPARITY) return false;
  switch (dcb.StopBits) {
    case ONESTOPBIT:
      break;
    case ONE5STOPBITS:
      if (dcb.ByteSize != 5) return false;
      break;
    case TWOSTOPBITS:
      if (dcb.ByteSize == 5) return false;
      break;
    default:
      return false;
  }
  return dcb.fDtrControl <= DTR_CONTROL_HANDSHAKE;
}

// Linux has no DTR/DSR flow control: a DTR handshake keeps DTR raised, as Windows does while its
// input queue has room.
LineAction DtrAction(DWORD dtrControl) {
  return dtrControl == DTR_CONTROL_DISABLE ? LineAction::kLower : LineAction::kRaise;
}

// Under a handshake the kernel drives RTS (CRTSCTS). A toggle leaves RTS to the device, which
// drives it per frame where the system put the port into RS-485 mode.
LineAction RtsAction(DWORD rtsControl) {
  switch (rtsControl) {
    case RTS_CONTROL_DISABLE:
      return LineAction::kLower;
    case RTS_CONTROL_TOGGLE:
      return LineAction::kLeave;
    default:
      return LineAction::kRaise;
  }
}

cc_t TenthsOfSecond(uint64_t milliseconds) {
  constexpr uint64_t kLongestWait = 255;  // VTIME is one byte
  return static_cast<cc_t>(std::clamp<uint64_t>((milliseconds + 99) / 100, 1, kLongestWait));
}

}  // namespace

std::optional<std::string> DevicePathFor(std::string_view name) {
  if (name.starts_with('/')) return std::string(name);
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (name.starts_with(kDevicePrefix)) name.remove_prefix(kDevicePrefix.size());
  if (EqualsIgnoringCase(name, "NUL")) return "/dev/null";
  const uint32_t number = ComPortNumber(name);
  if (number == 0) return std::nullopt;
  return "/dev/ttyS" + std::to_string(number - 1);
}

uint32_t RateOfSpeedCode(speed_t code) {
  for (const SpeedCode& entry : kSpeedCodes) {
    if (entry.code == code) return entry.rate;
  }
  return 0;
}

std::optional<speed_t> SpeedCodeFor(uint32_t rate) {
  if (rate == 0) return std::nullopt;
  for (const SpeedCode& entry : kSpeedCodes) {
    if (entry.rate == rate) return entry.code;
  }
  return std::nullopt;
}

std::optional<TerminalLine> TerminalLineFor(const DCB& dcb, const termios& current) {
  if (!IsValidLine(dcb)) return std::nullopt;

  TerminalLine line{current, dcb.BaudRate, false, DtrAction(dcb.fDtrControl),
                    RtsAction(dcb.fRtsControl)};
  termios& t = line.attributes;

  // Raw bytes both ways, as Windows ports always run.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR |
                                      IGNCR | ICRNL | IXON | IXOFF | IXANY | IMAXBEL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);

  // Modem status lines other than CTS play no part, as with the DSR and DCD settings of the DCB.
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL | DataBitsFlag(dcb.ByteSize) | ParityFlags(dcb.Parity);
  if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;  // with 5 data bits, 1.5 stop bits
  // Linux has one switch for CTS output and RTS input flow control.
  if (dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;

  // Received bytes with a parity or framing error arrive as NUL bytes.
  if (dcb.fParity != 0 && dcb.Parity != NOPARITY) t.c_iflag |= INPCK;
  if (dcb.fOutX != 0) t.c_iflag |= IXON;
  if (dcb.fInX != 0) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

  if (const std::optional<speed_t> code = SpeedCodeFor(dcb.BaudRate)) {
    cfsetispeed(&t, *code);
    cfsetospeed(&t, *code);
  } else {
    line.freeRate = true;
  }
  return line;
}

void ReadTerminalLine(const termios& attributes, uint32_t rate, DCB& dcb) {
  const tcflag_t cflag = attributes.c_cflag;
  dcb.BaudRate = rate;
  dcb.fBinary = 1;
  dcb.ByteSize = ByteSizeOf(cflag);
  dcb.Parity = ParityOf(cflag);
  if ((cflag & CSTOPB) == 0) {
    dcb.StopBits = ONESTOPBIT;
  } else {
    dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  }
  // Without a parity bit there is nothing to check, and the DCB's switch stays as it was set.
  if (dcb.Parity != NOPARITY) dcb.fParity = (attributes.c_iflag & INPCK) != 0 ? 1 : 0;
  dcb.fOutX = (attributes.c_iflag & IXON) != 0 ? 1 : 0;
  dcb.fInX = (attributes.c_iflag & IXOFF) != 0 ? 1 : 0;
  dcb.XonChar = static_cast<char>(attributes.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(attributes.c_cc[VSTOP]);
  if ((cflag & CRTSCTS) != 0) {
    dcb.fOutxCtsFlow = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else {
    dcb.fOutxCtsFlow = 0;
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) dcb.fRtsControl = RTS_CONTROL_ENABLE;
  }
}

ReadWait ReadWaitFor(const COMMTIMEOUTS& timeouts) {
  const DWORD interval = timeouts.ReadIntervalTimeout;
  const DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
  const DWORD constant = timeouts.ReadTotalTimeoutConstant;
  if (interval == MAXDWORD && multiplier == 0 && constant == 0) return {0, 0};
  // The total time-out for the first byte; MAXDWORD for interval and multiplier means "wait up to
  // the constant for the first byte".
  const uint64_t total =
      multiplier == MAXDWORD ? constant : static_cast<uint64_t>(multiplier) + constant;
  if (total > 0) return {0, TenthsOfSecond(total)};
  if (interval > 0) return {1, TenthsOfSecond(interval)};
  return {1, 0};
}

}  // namespace tav
