// Linux: the terminal's attributes and its modem-control lines. The attributes are translated by
// the serial layer's own rules, so tavhost reports them in the terms the driver set them in.
#include <sys/ioctl.h>
#include <termios.h>

#include <filesystem>
#include <optional>

#include "platform/serial_port_rate_linux.h"
#include "platform/serial_port_termios.h"
#include "runtime/device_line.h"

namespace tavhost {

std::optional<DeviceLine> ReadDeviceLine(uint32_t portHandle) {
  const int fd = static_cast<int>(portHandle);
  termios attributes{};
  if (portHandle == 0 || tcgetattr(fd, &attributes) != 0) return std::nullopt;
  // A rate with a speed code reads from the attributes; only a free rate needs the kernel's own
  // call (which emulators such as qemu-user may not pass on).
  uint32_t rate = tav::RateOfSpeedCode(cfgetospeed(&attributes));
  if (rate == 0) rate = tav::TerminalRate(fd);
  tav::DCB dcb{};
  tav::ReadTerminalLine(attributes, rate, dcb);
  DeviceLine line = LineOfControlBlock(dcb);
  int lines = 0;
  if (ioctl(fd, TIOCMGET, &lines) == 0) {
    line.dtr = (lines & TIOCM_DTR) != 0;
    line.rts = (lines & TIOCM_RTS) != 0;
  }
  return line;
}

std::string WhyPortDidNotOpen(const std::string& name) {
  const std::optional<std::string> path = tav::DevicePathFor(name);
  if (!path) return "the name is none of NUL, COMn (n from 1 to 256) and a path beginning with /";
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(*path, error);
  if (!std::filesystem::exists(status)) return *path + ": no such device";
  if (!std::filesystem::is_character_file(status)) return *path + ": not a device";
  return *path +
         ": held by another program or instance, not a terminal, or it refused the "
         "settings";
}

}  // namespace tavhost
