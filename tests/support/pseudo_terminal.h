// A pseudo-terminal held open for a test: its device path stands in for a serial port. Both ends
// stay open, so the line keeps its settings between opens of the port; neither end passes on to
// a program the test starts.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace tav::testing {

class PseudoTerminal {
 public:
  PseudoTerminal() {
    char name[64] = {};
    EXPECT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0) << std::strerror(errno);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    path_ = name;
  }
  ~PseudoTerminal() {
    close(slave_);
    close(master_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& path() const { return path_; }
  int slave() const { return slave_; }

  termios Attributes() const {
    termios t{};
    EXPECT_EQ(tcgetattr(slave_, &t), 0);
    return t;
  }

  // Sets the line to `speed`, one stop bit and no parity, as another program on the port would.
  void ResetLine(speed_t speed) const {
    termios t = Attributes();
    cfsetspeed(&t, speed);
    t.c_cflag &= ~(CSTOPB | PARENB | PARODD | CMSPAR);
    EXPECT_EQ(tcsetattr(master_, TCSANOW, &t), 0);
  }
  // Bytes from the far end of the line, as a device on the port would send them.
  void Send(const std::string& bytes) const {
    EXPECT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Whether another open could take the terminal for itself.
  bool IsFree() const {
    const int fd = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace tav::testing
