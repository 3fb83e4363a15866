// The Win32 serial path of tavsh1.dll under Wine, checked from the Linux side. Wine opens a COM
// port through the symbolic link $WINEPREFIX/dosdevices/comN; each test points one at the slave of
// a pseudo-terminal it holds, drives commands 15, 13 and 12 through the DLL in a Windows program
// (serial_port_host.exe, one request per line), and reads on the master side with tcgetattr what
// the port was set to.
//
// A pseudo-terminal keeps the speed, CSTOPB, PARODD, CMSPAR and CRTSCTS it is given and the input
// flags, but always runs CS8 without PARENB, so the character size and the parity bit itself cannot
// be seen here; the parity check Wine switches on with any parity (INPCK) can. What Wine itself
// does not carry to the terminal is named in each row.
//
// Usage: wine_serial_test --runner RUN_UNDER_WINE --prefix WINEPREFIX (--probe PROBE | --win64)
//                         --program SERIAL_PORT_HOST.EXE --com N [GoogleTest options]
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "support/pseudo_terminal.h"
#include "wine_runner.h"

namespace tav {
namespace {

using wine::Exec;
using wine::kSkipped;
using wine::RunToEnd;

// Where the Windows side runs, from the command line.
struct Options : wine::RunnerOptions {
  std::string program;
  std::string com;
};
Options options;

// Every reply of the Windows side comes within this; a first start of Wine takes seconds.
constexpr int kReplyTimeoutMs = 120'000;

std::vector<std::string> RunnerCommand(const std::vector<std::string>& tail) {
  return wine::RunnerCommand(options, tail);
}

using tav::testing::PseudoTerminal;

// $WINEPREFIX/dosdevices/comN pointing at the pseudo-terminal while the object lives.
class ComPortLink {
 public:
  explicit ComPortLink(const std::string& device) {
    const std::filesystem::path folder = std::filesystem::path(options.prefix) / "dosdevices";
    std::filesystem::create_directories(folder);
    link_ = folder / ("com" + options.com);
    std::filesystem::remove(link_);
    std::filesystem::create_symlink(device, link_);
  }
  ~ComPortLink() { std::filesystem::remove(link_); }
  ComPortLink(const ComPortLink&) = delete;
  ComPortLink& operator=(const ComPortLink&) = delete;

 private:
  std::filesystem::path link_;
};

// serial_port_host.exe under Wine, answering one line per request.
class WindowsHost {
 public:
  WindowsHost() {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return;
    }
    child_ = fork();
    if (child_ == 0) {
      dup2(toChild[0], STDIN_FILENO);
      dup2(fromChild[1], STDOUT_FILENO);
      Exec(RunnerCommand({options.program}));
    }
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
  }
  ~WindowsHost() {
    close(input_);  // the end of its input ends the program
    int status = 0;
    if (child_ > 0) waitpid(child_, &status, 0);
    close(output_);
  }
  WindowsHost(const WindowsHost&) = delete;
  WindowsHost& operator=(const WindowsHost&) = delete;

  // Sends one request and returns the answer line, without its line end.
  std::string Ask(const std::string& request) {
    const std::string line = request + "\n";
    if (write(input_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      return "(the Windows side is gone)";
    }
    std::string reply;
    char c = 0;
    pollfd ready{output_, POLLIN, 0};
    while (poll(&ready, 1, kReplyTimeoutMs) == 1 && read(output_, &c, 1) == 1 && c != '\n') {
      if (c != '\r') reply += c;
    }
    return reply;
  }
  std::string Configure(const std::string& name, int baud, int dataBits, int stopBits, int parity,
                        int timeout) {
    return Ask("configure " + name + " " + std::to_string(baud) + " " + std::to_string(dataBits) +
               " " + std::to_string(stopBits) + " " + std::to_string(parity) + " " +
               std::to_string(timeout));
  }

 private:
  pid_t child_ = -1;
  int input_ = -1;
  int output_ = -1;
};

std::string ComName() {
  // Above COM9 Windows takes a port only in the device namespace; Wine's own ports count from 1.
  return "\\\\.\\COM" + options.com;
}

std::string Hex(const std::string& bytes) {
  std::string text;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", c);
    text += digits;
  }
  return text;
}

// The speed code of a rate set through termios2 (BOTHER of <asm/termbits.h>, which cannot be
// included beside <termios.h>): the rate itself is in the kernel's c_ospeed.
constexpr speed_t kOtherRate = 0010000;

constexpr const char* kOk = "result 0";
constexpr const char* kFailed = "result 2";

// The Windows codes of PortParameters.
enum StopBits { kOneStopBit = 0, kOneAndAHalfStopBits = 1, kTwoStopBits = 2 };
enum Parity { kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4 };

struct LineCase {
  int baud, dataBits, stopBits, parity;
  unsigned lineFlags;
  // What the terminal shows afterwards.
  std::vector<speed_t> speeds;  // the one speed, or what each Wine release sets
  bool twoStopBits, odd, stick, parityChecked, rtsCts;
  const char* wineDoesNotCarry;  // what Wine leaves off the terminal, by name; "" for nothing
};

const LineCase kLines[] = {
    {9600, 8, kOneStopBit, kNoParity, 0, {B9600}, false, false, false, false, false, ""},
    {19200, 7, kTwoStopBits, kEvenParity, 0, {B19200}, true, false, false, true, false, ""},
    {1200, 8, kOneStopBit, kOddParity, 0, {B1200}, false, true, false, true, false, ""},
    {300,
     5,
     kOneAndAHalfStopBits,
     kNoParity,
     0,
     {B300},
     true,
     false,
     false,
     false,
     false,
     "one and a half stop bits: CSTOPB, as two"},
    {57600, 8, kOneStopBit, kMarkParity, 0, {B57600}, false, true, true, true, false, ""},
    {2400, 6, kTwoStopBits, kSpaceParity, 0, {B2400}, true, false, true, true, false, ""},
    {57600,
     8,
     kOneStopBit,
     kNoParity,
     0x0001,
     {B57600},
     false,
     false,
     false,
     false,
     false,
     "DTR on: a pseudo-terminal has no modem lines"},
    {38400, 8, kTwoStopBits, kOddParity, 0x1000, {B38400}, true, true, false, true, true, ""},
    {4800,
     8,
     kOneStopBit,
     kNoParity,
     0x8000,
     {B4800},
     false,
     false,
     false,
     false,
     false,
     "DTR handshake: Wine has no DTR/DSR flow control"},
    {14400,
     8,
     kOneStopBit,
     kNoParity,
     0,
     {B38400, kOtherRate},
     false,
     false,
     false,
     false,
     false,
     "14,400 bit/s: Wine 8 asks the serial driver for a divisor of 38,400, which a "
     "pseudo-terminal does not have; later Wine sets the rate itself through termios2"},
};

class WineSerialTest : public ::testing::Test {
 protected:
  PseudoTerminal pty_;
  ComPortLink link_{pty_.path()};
  WindowsHost host_;
};

TEST_F(WineSerialTest, ConfigureSetsTheLineAndTheReadTimeoutAndReadsWhatArrives) {
  int timeout = 20;
  for (const LineCase& c : kLines) {
    SCOPED_TRACE(::testing::Message()
                 << c.baud << " bit/s, " << c.dataBits << " data bits, stop " << c.stopBits
                 << ", parity " << c.parity << ", lineFlags 0x" << std::hex << c.lineFlags);
    if (*c.wineDoesNotCarry != '\0')
      std::cout << "Wine does not carry: " << c.wineDoesNotCarry << "\n";
    char flags[8];
    std::snprintf(flags, sizeof flags, "%X", c.lineFlags);
    ASSERT_EQ(host_.Ask(std::string("flags ") + flags), "ok");
    ASSERT_EQ(host_.Configure(ComName(), c.baud, c.dataBits, c.stopBits, c.parity, timeout), kOk);

    const termios t = pty_.Attributes();
    EXPECT_NE(std::find(c.speeds.begin(), c.speeds.end(), cfgetospeed(&t)), c.speeds.end())
        << "speed code " << cfgetospeed(&t);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ((t.c_cflag & PARODD) != 0, c.odd);
    EXPECT_EQ((t.c_cflag & CMSPAR) != 0, c.stick);
    EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parityChecked);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.rtsCts);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "the line runs raw";
    EXPECT_EQ(host_.Ask("timeout"), "timeout " + std::to_string(timeout * 10));

    const std::string bytes = "\x01\x7F\x80\xFE" + std::to_string(c.baud);
    pty_.Send(bytes);
    EXPECT_EQ(host_.Ask("read " + std::to_string(bytes.size())), "read " + Hex(bytes));
    EXPECT_EQ(host_.Ask("close"), kOk);
    timeout += 5;
  }
}

TEST_F(WineSerialTest, RtsToggleIsRefusedByWine) {
  // Wine's serial layer answers RTS toggle (RTS control and handshake at once) with "not
  // supported", so SetCommState fails and the open with it.
  std::cout << "Wine does not carry: RTS toggle (SetCommState fails)\n";
  ASSERT_EQ(host_.Ask("flags 2000"), "ok");
  EXPECT_EQ(host_.Configure(ComName(), 9600, 8, kOneStopBit, kNoParity, 20), kFailed);
  ASSERT_EQ(host_.Ask("flags 0"), "ok");
  EXPECT_EQ(host_.Ask("open"), kOk) << "the settings stayed stored";
  EXPECT_EQ(host_.Ask("close"), kOk);
}

TEST_F(WineSerialTest, OpenSetsTheStoredLineAgainWithAOneSecondReadTimeout) {
  ASSERT_EQ(host_.Configure(ComName(), 19200, 8, kTwoStopBits, kOddParity, 30), kOk);
  ASSERT_EQ(host_.Ask("close"), kOk);
  // Someone else sets the line in between, so the open has all of it to set again. (Left as the
  // configuration set it, the terminal holds PARODD and CSTOPB but not PARENB, which it never
  // keeps; Wine 8 then fails the second identical line control with EINVAL, and command 15 twice
  // fails the same way: Wine on a pseudo-terminal, not the driver.)
  pty_.ResetLine(B4800);

  ASSERT_EQ(host_.Ask("open"), kOk);
  const termios t = pty_.Attributes();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_NE(t.c_cflag & PARODD, 0u);
  EXPECT_EQ(host_.Ask("timeout"), "timeout 1000");
  pty_.Send("OK");
  EXPECT_EQ(host_.Ask("read 2"), "read 4F4B");
  EXPECT_EQ(host_.Ask("close"), kOk);
  EXPECT_EQ(host_.Ask("close"), kOk) << "closing without an open port";
}

TEST_F(WineSerialTest, ThePortThatIsNotThereFailsAndNulOpensWithoutConfiguration) {
  // A COM port with no link in the prefix, clear of the other runs' ports.
  const std::string missing = "\\\\.\\COM" + std::to_string(std::stoi(options.com) + 50);
  EXPECT_EQ(host_.Configure(missing, 9600, 8, kOneStopBit, kNoParity, 20), kFailed);
  EXPECT_EQ(host_.Configure("NUL", 9600, 8, kOneStopBit, kNoParity, 20), kOk);
  EXPECT_EQ(host_.Ask("close"), kOk);
  EXPECT_EQ(host_.Ask("open"), kOk);
  EXPECT_EQ(host_.Ask("close"), kOk);
}

}  // namespace
}  // namespace tav

using tav::options;
using tav::RunToEnd;
using tav::RunnerCommand;
using tav::kSkipped;

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::signal(SIGPIPE, SIG_IGN);  // a Windows side that ended shows as a wrong answer
  if (!tav::wine::ReadRunnerOptions(argc, argv, options,
                                    {{"--program", &options.program}, {"--com", &options.com}})) {
    std::fprintf(stderr,
                 "usage: %s --runner RUN --prefix DIR (--probe PROBE | --win64) --program EXE"
                 " --com N\n",
                 argv[0]);
    return 2;
  }
  // The runner says whether Wine can run here, and makes the prefix the links go into.
  const int check = RunToEnd(RunnerCommand({"--check"}));
  if (check != 0) return check == kSkipped ? kSkipped : 1;
  return RUN_ALL_TESTS();
}
