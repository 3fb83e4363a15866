#include "platform/serial_port_rate_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace tav {

bool SetTerminalRate(int fd, uint32_t rate) {
  termios2 attributes{};
  if (ioctl(fd, TCGETS2, &attributes) != 0) return false;
  attributes.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  attributes.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  attributes.c_ispeed = rate;
  attributes.c_ospeed = rate;
  if (ioctl(fd, TCSETS2, &attributes) != 0) return false;
  // A device that cannot run at the rate falls back to another one and still reports success.
  if (TerminalRate(fd) != rate) {
    errno = EINVAL;
    return false;
  }
  return true;
}

uint32_t TerminalRate(int fd) {
  termios2 attributes{};
  if (ioctl(fd, TCGETS2, &attributes) != 0) return 0;
  return attributes.c_ospeed;
}

}  // namespace tav
