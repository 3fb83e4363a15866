// The serial channel's commands through TavMain on pseudo-terminals, driven by the real Linux
// serial port; a pseudo-terminal keeps the speed, CSTOPB and PARODD of what it is given but always
// runs CS8 without PARENB, and has no modem lines.
#include "serial/serial_channel.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/serial_port_rate_linux.h"
#include "serial/port_operations.h"
#include "support/driver_test.h"
#include "support/pseudo_terminal.h"

namespace tav {
namespace {

using tav::testing::PseudoTerminal;

int OpenDescriptorCount() {
  int count = 0;
  DIR* directory = opendir("/proc/self/fd");
  while (readdir(directory) != nullptr) ++count;
  closedir(directory);
  return count;
}

bool IsOpen(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

std::string TerminalName(int fd) {
  char name[64] = {};
  return ttyname_r(fd, name, sizeof name) == 0 ? name : "";
}

PortParameters Parameters(std::string_view name, int32_t timeout, LineSettings line = {}) {
  PortParameters parameters{};
  name.copy(parameters.portName, std::min(name.size(), sizeof parameters.portName));
  parameters.timeout = timeout;
  parameters.baudRate = line.baudRate;
  parameters.dataBits = line.dataBits;
  parameters.stopBits = line.stopBits;
  parameters.parity = line.parity;
  return parameters;
}

void StoreName(DriverInstance& instance, std::string_view name) {
  std::memset(instance.portName, 0, sizeof instance.portName);
  name.copy(instance.portName, sizeof instance.portName);
}

constexpr LineSettings k9600Line = {9600, 8, ONESTOPBIT, NOPARITY};

class SerialChannelTest : public fake::DriverTest {
 protected:
  void TearDown() override {
    if (instance().portHandle != 0) Run(CommandCode::kCloseSerialPort, nullptr);
  }

  int port() { return static_cast<int>(instance().portHandle); }

  COMMTIMEOUTS PortTimeouts() {
    COMMTIMEOUTS timeouts{};
    EXPECT_TRUE(GetCommTimeouts(port(), &timeouts));
    return timeouts;
  }
};

TEST_F(SerialChannelTest, NullRecordsReturnTwoAndWriteNothing) {
  PortParameters parameters = Parameters("NUL", 5, k9600Line);
  for (CommandCode command : {CommandCode::kCloseSerialPort, CommandCode::kOpenSerialPort,
                              CommandCode::kConfigureSerialPort}) {
    Request request = MakeRequest(nullptr, command, &parameters);
    EXPECT_EQ(TavMain(&request), 2) << command;
  }
  instance().retryBudget = 77;
  StoreName(instance(), "NUL");
  const DriverInstance before = instance();
  EXPECT_EQ(Run(CommandCode::kConfigureSerialPort, nullptr), 2);
  EXPECT_EQ(std::memcmp(&before, &instance(), sizeof before), 0);
}

TEST_F(SerialChannelTest, ConfigureOpensThePortWithItsLineAndReadTimeout) {
  const struct {
    LineSettings line;
    speed_t speed;
    bool twoStopBits, odd;
  } kCases[] = {
      {{9600, 8, ONESTOPBIT, NOPARITY}, B9600, false, false},
      {{19200, 7, TWOSTOPBITS, EVENPARITY}, B19200, true, false},
      {{1200, 8, ONESTOPBIT, ODDPARITY}, B1200, false, true},
      {{300, 5, ONE5STOPBITS, NOPARITY}, B300, true, false},
      {{57600, 8, ONESTOPBIT, MARKPARITY}, B57600, false, true},
      {{2400, 6, TWOSTOPBITS, SPACEPARITY}, B2400, true, false},
      {{38400, 8, TWOSTOPBITS, ODDPARITY}, B38400, true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.line.baudRate);
    PseudoTerminal pty;
    PortParameters parameters = Parameters(pty.path(), 20, c.line);

    ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 0);

    EXPECT_EQ(TerminalName(port()), pty.path()) << "portHandle holds the descriptor";
    EXPECT_EQ(instance().activeFlag, 1);
    EXPECT_EQ(instance().retryBudget, 20);
    EXPECT_STREQ(instance().portName, pty.path().c_str());
    EXPECT_EQ(std::memcmp(&instance().lineSettings, &c.line, sizeof c.line), 0);
    const termios t = pty.Attributes();
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ((t.c_cflag & PARODD) != 0, c.odd);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 2) << "20 x 10 ms";
    EXPECT_FALSE(pty.IsFree());

    EXPECT_EQ(Run(CommandCode::kCloseSerialPort, nullptr), 0);
  }
}

TEST_F(SerialChannelTest, OpenTakesTheStoredSettingsInEveryDtrAndRtsMode) {
  PseudoTerminal pty;
  StoreName(instance(), pty.path());
  instance().lineSettings = {4800, 8, ONESTOPBIT, NOPARITY};
  instance().retryBudget = 500;
  // A pseudo-terminal has no modem lines: every mode opens, and only an RTS handshake shows.
  for (uint16_t lineFlags : std::initializer_list<uint16_t>{0x0000, 0x0001, 0x0100, 0x8000, 0x0202,
                                                            0x1000, 0x2000, 0xFFFF}) {
    SCOPED_TRACE(lineFlags);
    instance().lineFlags = lineFlags;
    ASSERT_EQ(Run(CommandCode::kOpenSerialPort, nullptr), 0);
    EXPECT_EQ(TerminalName(port()), pty.path());
    EXPECT_EQ(instance().activeFlag, 1);
    const termios t = pty.Attributes();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, RtsControlFor(lineFlags) == RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(t.c_cc[VTIME], 10) << "command 13 keeps the open's one second";
    EXPECT_EQ(PortTimeouts().ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(instance().retryBudget, 500);
    ASSERT_EQ(Run(CommandCode::kCloseSerialPort, nullptr), 0);
  }
}

TEST_F(SerialChannelTest, RatesWithoutSpeedCodeTakeTheFreeRateOrFailCleanly) {
  PseudoTerminal pty;
  const bool kernelHasFreeRates = TerminalRate(pty.slave()) != 0;  // not under every emulator
  const int descriptors = OpenDescriptorCount();
  PortParameters parameters = Parameters(pty.path(), 0, {31250, 8, ONESTOPBIT, NOPARITY});

  if (kernelHasFreeRates) {
    ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 0);
    EXPECT_EQ(TerminalRate(pty.slave()), 31250u);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 31250u);
  } else {
    EXPECT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 2);
    EXPECT_EQ(instance().portHandle, 0u);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_TRUE(pty.IsFree());
  }
}

TEST_F(SerialChannelTest, CloseWithNoPortOpenReturnsZeroAndChangesNothing) {
  instance().activeFlag = 1;
  StoreName(instance(), "COM1");
  const DriverInstance before = instance();
  EXPECT_EQ(Run(CommandCode::kCloseSerialPort, nullptr), 0);
  EXPECT_EQ(std::memcmp(&before, &instance(), sizeof before), 0);
}

TEST_F(SerialChannelTest, CloseReleasesThePortAndKeepsTheActiveFlag) {
  PseudoTerminal pty;
  PortParameters parameters = Parameters(pty.path(), 0, k9600Line);
  ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 0);
  const int fd = port();

  EXPECT_EQ(Run(CommandCode::kCloseSerialPort, nullptr), 0);
  EXPECT_EQ(instance().portHandle, 0u);
  EXPECT_EQ(instance().activeFlag, 1);
  EXPECT_FALSE(IsOpen(fd));
  EXPECT_TRUE(pty.IsFree());
}

TEST_F(SerialChannelTest, AFailedCloseKeepsTheHandle) {
  const int closed = open("/dev/null", O_RDONLY | O_CLOEXEC);
  close(closed);
  instance().portHandle = static_cast<uint32_t>(closed);
  EXPECT_EQ(Run(CommandCode::kCloseSerialPort, nullptr), 2);
  EXPECT_EQ(instance().portHandle, static_cast<uint32_t>(closed));
  instance().portHandle = 0;
}

TEST_F(SerialChannelTest, BaudZeroKeepsTheStoredLineButTakesNameAndTimeout) {
  PseudoTerminal pty;
  instance().lineSettings = {19200, 7, TWOSTOPBITS, EVENPARITY};
  instance().retryBudget = 40;
  PortParameters parameters = Parameters(pty.path(), 0, {0, 5, ONE5STOPBITS, ODDPARITY});

  ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 0);
  EXPECT_EQ(instance().lineSettings.baudRate, 19200);
  EXPECT_EQ(instance().lineSettings.dataBits, 7);
  EXPECT_EQ(instance().lineSettings.stopBits, TWOSTOPBITS);
  EXPECT_EQ(instance().lineSettings.parity, EVENPARITY);
  EXPECT_EQ(instance().retryBudget, 40);
  EXPECT_STREQ(instance().portName, pty.path().c_str());
  const termios t = pty.Attributes();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_cc[VTIME], 4) << "retryBudget 40 x 10 ms";
}

TEST_F(SerialChannelTest, ReadTimeoutIsTenTimesTheTimeoutOrTheRetryBudget) {
  const struct {
    int32_t timeout, retryBudget;
    int32_t storedBudget;
    DWORD milliseconds;
    cc_t vtime;
  } kCases[] = {
      {100, 7, 100, 1000, 10},     {0, 30, 30, 300, 3}, {0, 1000, 1000, 10000, 100},
      {0, 5000, 5000, 50000, 255},  // the terminal waits 25.5 s at most
      {3, 1000, 3, 30, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.timeout);
    PseudoTerminal pty;
    instance().retryBudget = c.retryBudget;
    PortParameters parameters = Parameters(pty.path(), c.timeout, k9600Line);
    ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 0);
    EXPECT_EQ(instance().retryBudget, c.storedBudget);
    EXPECT_EQ(PortTimeouts().ReadTotalTimeoutConstant, c.milliseconds);
    EXPECT_EQ(pty.Attributes().c_cc[VTIME], c.vtime);
    EXPECT_EQ(pty.Attributes().c_cc[VMIN], 0);
    EXPECT_EQ(Run(CommandCode::kCloseSerialPort, nullptr), 0);
  }
}

TEST_F(SerialChannelTest, ReopeningTheOpenPortFailsAndKeepsTheFirstHandle) {
  PseudoTerminal pty;
  PortParameters first = Parameters(pty.path(), 0, k9600Line);
  ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &first), 0);
  const uint32_t handle = instance().portHandle;
  const int descriptors = OpenDescriptorCount();

  EXPECT_EQ(Run(CommandCode::kOpenSerialPort, nullptr), 2);
  EXPECT_EQ(instance().portHandle, handle);

  PortParameters second = Parameters(pty.path(), 60, {1200, 8, ONESTOPBIT, NOPARITY});
  EXPECT_EQ(Run(CommandCode::kConfigureSerialPort, &second), 2);
  EXPECT_EQ(instance().portHandle, handle);
  EXPECT_TRUE(IsOpen(port()));
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  // The new settings are stored for the next open; the open port runs as before.
  EXPECT_EQ(instance().lineSettings.baudRate, 1200);
  EXPECT_EQ(instance().retryBudget, 60);
  const termios t = pty.Attributes();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_FALSE(pty.IsFree());
}

TEST_F(SerialChannelTest, ANewNameClosesTheOpenPortFirst) {
  PseudoTerminal a;
  PseudoTerminal b;
  PortParameters first = Parameters(a.path(), 0, k9600Line);
  ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &first), 0);

  PortParameters second = Parameters(b.path(), 0, {});
  ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &second), 0);
  EXPECT_EQ(TerminalName(port()), b.path());
  EXPECT_TRUE(a.IsFree());
  EXPECT_FALSE(b.IsFree());

  PortParameters missing = Parameters("/dev/nothere", 0, {});
  EXPECT_EQ(Run(CommandCode::kConfigureSerialPort, &missing), 2);
  EXPECT_EQ(instance().portHandle, 0u) << "closed before the open that failed";
  EXPECT_TRUE(b.IsFree());
  EXPECT_EQ(std::memcmp(instance().portName, "/dev/nothere", 12), 0) << "12 characters, no NUL";
}

TEST_F(SerialChannelTest, FailedOpensLeaveNothingOpen) {
  PseudoTerminal pty;
  const struct {
    std::string name;  // empty: the pseudo-terminal
    LineSettings line;
    PortResult result;
  } kCases[] = {
      {"nosuchport", k9600Line, PortResult::kNotOpened},
      {"COM0", k9600Line, PortResult::kNotOpened},
      {"/dev/null", k9600Line, PortResult::kStateNotRead},  // no terminal
      {"nul", k9600Line, PortResult::kStateNotRead},        // not the exact name "NUL"
      {"", {9600, 9, ONESTOPBIT, NOPARITY}, PortResult::kStateNotSet},
      {"", {9600, 8, ONE5STOPBITS, NOPARITY}, PortResult::kStateNotSet},
      {"", {9600, 8, ONESTOPBIT, 5}, PortResult::kStateNotSet},
      {"", {0, 8, ONESTOPBIT, NOPARITY}, PortResult::kStateNotSet},
      {"", {9600, 0x0108, 0x0100, 0x0100}, PortResult::kOk},  // only the low bytes count
  };
  for (const auto& c : kCases) {
    const std::string name = c.name.empty() ? pty.path() : c.name;
    SCOPED_TRACE(name);
    const int descriptors = OpenDescriptorCount();

    HANDLE handle = 12345;
    const PortResult result = OpenPort(name.c_str(), c.line, 0, handle);
    EXPECT_EQ(result, c.result);
    if (result == PortResult::kOk) {
      EXPECT_EQ(ClosePort(handle), PortResult::kOk);
      continue;
    }
    EXPECT_EQ(handle, 12345) << "untouched";

    StoreName(instance(), name);
    instance().lineSettings = c.line;
    const DriverInstance before = instance();
    EXPECT_EQ(Run(CommandCode::kOpenSerialPort, nullptr), 2);
    EXPECT_EQ(std::memcmp(&before, &instance(), sizeof before), 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_TRUE(pty.IsFree());
  }
}

TEST_F(SerialChannelTest, TheNullDeviceOpensWithoutConfiguration) {
  struct stat null {};
  ASSERT_EQ(stat("/dev/null", &null), 0);
  instance().retryBudget = 9;
  instance().lineSettings = {123, 4, 7, 9};  // no valid line, and never looked at
  PortParameters parameters = Parameters("NUL", 50, {});

  ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 0);
  struct stat opened {};
  ASSERT_EQ(fstat(port(), &opened), 0);
  EXPECT_EQ(opened.st_rdev, null.st_rdev);
  EXPECT_EQ(instance().activeFlag, 1);
  EXPECT_EQ(instance().retryBudget, 50);
  EXPECT_EQ(SetReadTimeout(port(), 50), 0) << "the null device has no time-outs";
}

TEST_F(SerialChannelTest, ReopeningTheNullDeviceClosesTheHandleItReplaces) {
  PortParameters parameters = Parameters("NUL", 0, {});
  ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 0);
  const int first = port();
  const int descriptors = OpenDescriptorCount();

  ASSERT_EQ(Run(CommandCode::kOpenSerialPort, nullptr), 0);
  EXPECT_NE(port(), first);
  EXPECT_TRUE(IsOpen(port()));
  EXPECT_FALSE(IsOpen(first));
  ASSERT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 0);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST_F(SerialChannelTest, ANameThatFillsTheFieldIsTakenWholeAndNotReadBeyond) {
  PseudoTerminal pty;
  char link[] = "/tmp/tXXXXXX";
  static_assert(sizeof link - 1 == sizeof(PortParameters::portName));
  const int placeholder = mkstemp(link);
  ASSERT_GE(placeholder, 0);
  close(placeholder);
  unlink(link);
  ASSERT_EQ(symlink(pty.path().c_str(), link), 0);
  instance().lineSettings = k9600Line;
  PortParameters parameters = Parameters(link, 0, {});  // no NUL within the 12 bytes

  EXPECT_EQ(Run(CommandCode::kConfigureSerialPort, &parameters), 0);
  EXPECT_EQ(std::memcmp(instance().portName, link, sizeof instance().portName), 0);
  EXPECT_EQ(instance().lineSettings.baudRate, 9600) << "the field after the name";
  EXPECT_EQ(TerminalName(port()), pty.path());
  EXPECT_EQ(Run(CommandCode::kOpenSerialPort, nullptr), 2)
      << "the stored 12-character name names the open port";
  unlink(link);
}

TEST_F(SerialChannelTest, SetReadTimeoutReturnsThePreviousTimeout) {
  PseudoTerminal pty;
  HANDLE port = INVALID_HANDLE_VALUE;
  ASSERT_EQ(OpenPort(pty.path().c_str(), k9600Line, 0, port), PortResult::kOk);
  const struct {
    int32_t timeout;
    int32_t previous;
    DWORD milliseconds;
  } kSteps[] = {
      {100, 100, 1000},  // the open's one second
      {5, 100, 50},       {5, 5, 50},
      {0, 5, 0},          {-1, 0, 0xFFFFFFF6},  // counted in the record's unsigned 32 bits
      {7, 429496728, 70},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.timeout);
    EXPECT_EQ(SetReadTimeout(port, step.timeout), step.previous);
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(port, &timeouts));
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, step.milliseconds);
  }
  EXPECT_EQ(ClosePort(port), PortResult::kOk);
  EXPECT_EQ(SetReadTimeout(port, 5), 0) << "a closed port";
}

// The DTR and RTS tables written out as conditions, first match winning.
uint32_t DtrOracle(uint16_t flags) {
  if (flags & 0x0101) return DTR_CONTROL_ENABLE;
  if (flags & 0x8000) return DTR_CONTROL_HANDSHAKE;
  return DTR_CONTROL_DISABLE;
}

uint32_t RtsOracle(uint16_t flags) {
  if (flags & 0x0202) return RTS_CONTROL_ENABLE;
  if (flags & 0x1000) return RTS_CONTROL_HANDSHAKE;
  if (flags & 0x2000) return RTS_CONTROL_TOGGLE;
  return RTS_CONTROL_DISABLE;
}

TEST(LineFlags, DtrAndRtsModesTakeTheFirstMatchingRow) {
  const struct {
    uint16_t flags;
    uint32_t dtr, rts;
  } kCases[] = {
      {0x0000, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
      {0x0001, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
      {0x0100, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
      {0x8100, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
      {0x8000, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE},
      {0x0002, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
      {0x3200, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
      {0x1000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
      {0x3000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
      {0x2000, DTR_CONTROL_DISABLE, RTS_CONTROL_TOGGLE},
      {0x4C7C, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},  // bits outside the tables
      {0xFFFF, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(DtrControlFor(c.flags), c.dtr) << c.flags;
    EXPECT_EQ(RtsControlFor(c.flags), c.rts) << c.flags;
  }
  for (uint32_t flags = 0; flags <= 0xFFFF; ++flags) {
    const auto value = static_cast<uint16_t>(flags);
    ASSERT_EQ(DtrControlFor(value), DtrOracle(value)) << flags;
    ASSERT_EQ(RtsControlFor(value), RtsOracle(value)) << flags;
  }
}

}  // namespace
}  // namespace tav
