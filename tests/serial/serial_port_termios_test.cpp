// The Linux serial port's pure mappings: port names to device paths, DCBs to terminal attributes
// and back, time-outs to read waits.
#include "platform/serial_port_termios.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tav {
namespace {

TEST(DevicePath, NamesMapAsWindowsDeviceNamesDo) {
  const struct {
    std::string name;
    std::optional<std::string> path;
  } kCases[] = {
      {"NUL", "/dev/null"},         {"nul", "/dev/null"},
      {"\\\\.\\NUL", "/dev/null"},  {"COM1", "/dev/ttyS0"},
      {"com12", "/dev/ttyS11"},     {"\\\\.\\COM10", "/dev/ttyS9"},
      {"COM256", "/dev/ttyS255"},   {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"/dev/pts/3", "/dev/pts/3"}, {"COM0", std::nullopt},
      {"COM257", std::nullopt},     {"COM01", std::nullopt},
      {"COM", std::nullopt},        {"COM1 ", std::nullopt},
      {"COM-1", std::nullopt},      {"NUL1", std::nullopt},
      {"ttyS0", std::nullopt},      {"dev/ttyS0", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(DevicePathFor(c.name), c.path) << c.name;
  }
}

DCB Line(DWORD rate, BYTE byteSize, BYTE parity, BYTE stopBits) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = rate;
  dcb.ByteSize = byteSize;
  dcb.Parity = parity;
  dcb.StopBits = stopBits;
  dcb.fBinary = 1;
  dcb.fParity = 1;
  return dcb;
}

// A terminal as Linux opens one: canonical, echoing, with output processing and XON/XOFF.
termios CookedTerminal() {
  termios t{};
  t.c_iflag = ICRNL | IXON | BRKINT | IMAXBEL;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = CS8 | CREAD | HUPCL | PARENB | CSTOPB | CRTSCTS;
  t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 7;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  return t;
}

TEST(TerminalLine, RatesTakeTheirSpeedCodeOrTheFreeRate) {
  const struct {
    DWORD rate;
    std::optional<speed_t> code;  // nullopt: the free rate setting
  } kCases[] = {
      {50, B50},
      {75, B75},
      {110, B110},
      {134, B134},
      {150, B150},
      {200, B200},
      {300, B300},
      {600, B600},
      {1200, B1200},
      {1800, B1800},
      {2400, B2400},
      {4800, B4800},
      {9600, B9600},
      {19200, B19200},
      {38400, B38400},
      {57600, B57600},
      {115200, B115200},
      {1, std::nullopt},
      {14400, std::nullopt},
      {28800, std::nullopt},
      {31250, std::nullopt},
      {56000, std::nullopt},
      {65535, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.rate);
    const std::optional<TerminalLine> line =
        TerminalLineFor(Line(c.rate, 8, NOPARITY, ONESTOPBIT), CookedTerminal());
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->rate, c.rate);
    EXPECT_EQ(line->freeRate, !c.code.has_value());
    const speed_t expected = c.code.value_or(B38400);  // a free rate keeps the old code for now
    EXPECT_EQ(cfgetospeed(&line->attributes), expected);
    EXPECT_EQ(cfgetispeed(&line->attributes), expected);
    EXPECT_EQ(RateOfSpeedCode(cfgetospeed(&line->attributes)), c.code ? c.rate : 38400);
  }
  EXPECT_EQ(RateOfSpeedCode(B0), 0u);
}

TEST(TerminalLine, DataBitsParityAndStopBitsTakeTheirFlags) {
  constexpr tcflag_t kLineFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  const struct {
    BYTE byteSize, parity, stopBits;
    std::optional<tcflag_t> cflag;  // the line's flags; nullopt: no valid line
  } kCases[] = {
      {8, NOPARITY, ONESTOPBIT, CS8},
      {7, NOPARITY, ONESTOPBIT, CS7},
      {6, NOPARITY, ONESTOPBIT, CS6},
      {5, NOPARITY, ONESTOPBIT, CS5},
      {8, ODDPARITY, ONESTOPBIT, CS8 | PARENB | PARODD},
      {8, EVENPARITY, ONESTOPBIT, CS8 | PARENB},
      {8, MARKPARITY, ONESTOPBIT, CS8 | PARENB | CMSPAR | PARODD},
      {8, SPACEPARITY, ONESTOPBIT, CS8 | PARENB | CMSPAR},
      {7, EVENPARITY, TWOSTOPBITS, CS7 | PARENB | CSTOPB},
      {5, NOPARITY, ONE5STOPBITS, CS5 | CSTOPB},
      {6, NOPARITY, ONE5STOPBITS, std::nullopt},
      {8, NOPARITY, ONE5STOPBITS, std::nullopt},
      {5, NOPARITY, TWOSTOPBITS, std::nullopt},
      {8, NOPARITY, 3, std::nullopt},
      {8, 5, ONESTOPBIT, std::nullopt},
      {4, NOPARITY, ONESTOPBIT, std::nullopt},
      {9, NOPARITY, ONESTOPBIT, std::nullopt},
      {0, NOPARITY, ONESTOPBIT, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << int{c.byteSize} << "/" << int{c.parity} << "/" << int{c.stopBits});
    const std::optional<TerminalLine> line =
        TerminalLineFor(Line(9600, c.byteSize, c.parity, c.stopBits), CookedTerminal());
    ASSERT_EQ(line.has_value(), c.cflag.has_value());
    if (!line) continue;
    EXPECT_EQ(line->attributes.c_cflag & kLineFlags, *c.cflag);
    EXPECT_EQ((line->attributes.c_iflag & INPCK) != 0, c.parity != NOPARITY) << "fParity checks";
  }
  EXPECT_FALSE(TerminalLineFor(Line(0, 8, NOPARITY, ONESTOPBIT), CookedTerminal()).has_value())
      << "rate 0 would hang the line up";
}

TEST(TerminalLine, DtrAndRtsModesBecomeLineActionsAndHardwareFlowControl) {
  const struct {
    DWORD dtrControl, rtsControl, outxCtsFlow;
    std::optional<LineAction> dtr;  // nullopt: no valid line
    LineAction rts;
    bool crtscts;
  } kCases[] = {
      {DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0, LineAction::kLower, LineAction::kLower, false},
      {DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, 0, LineAction::kRaise, LineAction::kRaise, false},
      {DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE, 0, LineAction::kRaise, LineAction::kRaise,
       true},
      {DTR_CONTROL_ENABLE, RTS_CONTROL_TOGGLE, 0, LineAction::kRaise, LineAction::kLeave, false},
      {DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, 1, LineAction::kLower, LineAction::kRaise, true},
      {3, RTS_CONTROL_ENABLE, 0, std::nullopt, LineAction::kRaise, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.dtrControl << "/" << c.rtsControl << "/" << c.outxCtsFlow);
    DCB dcb = Line(9600, 8, NOPARITY, ONESTOPBIT);
    dcb.fDtrControl = c.dtrControl & 0x3;
    dcb.fRtsControl = c.rtsControl & 0x3;
    dcb.fOutxCtsFlow = c.outxCtsFlow & 0x1;
    const std::optional<TerminalLine> line = TerminalLineFor(dcb, CookedTerminal());
    ASSERT_EQ(line.has_value(), c.dtr.has_value());
    if (!line) continue;
    EXPECT_EQ(line->dtr, *c.dtr);
    EXPECT_EQ(line->rts, c.rts);
    EXPECT_EQ((line->attributes.c_cflag & CRTSCTS) != 0, c.crtscts);
  }
}

TEST(TerminalLine, TheTerminalRunsRawWithTheDcbsSoftwareFlowControl) {
  DCB dcb = Line(9600, 8, NOPARITY, ONESTOPBIT);
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  const termios cooked = CookedTerminal();

  const termios raw = TerminalLineFor(dcb, cooked)->attributes;
  EXPECT_EQ(raw.c_iflag, 0u);
  EXPECT_EQ(raw.c_oflag, cooked.c_oflag & ~static_cast<tcflag_t>(OPOST));
  EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), 0u);
  EXPECT_EQ(raw.c_cflag & (CREAD | CLOCAL | HUPCL), CREAD | CLOCAL | HUPCL);
  EXPECT_EQ(raw.c_cc[VMIN], 1) << "the read wait belongs to the time-outs";
  EXPECT_EQ(raw.c_cc[VTIME], 7);

  dcb.fOutX = 1;
  dcb.fInX = 1;
  const termios flowing = TerminalLineFor(dcb, cooked)->attributes;
  EXPECT_EQ(flowing.c_iflag, static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(flowing.c_cc[VSTART], 0x11);
  EXPECT_EQ(flowing.c_cc[VSTOP], 0x13);
}

TEST(TerminalLine, EveryValidLineReadsBackAsSet) {
  for (DWORD rate : {300u, 9600u, 57600u, 31250u}) {
    for (BYTE byteSize = 5; byteSize <= 8; ++byteSize) {
      for (BYTE parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
        for (BYTE stopBits = ONESTOPBIT; stopBits <= TWOSTOPBITS; ++stopBits) {
          for (DWORD rts = RTS_CONTROL_DISABLE; rts <= RTS_CONTROL_TOGGLE; ++rts) {
            DCB set = Line(rate, byteSize, parity, stopBits);
            set.fRtsControl = rts & 0x3;
            const std::optional<TerminalLine> line = TerminalLineFor(set, CookedTerminal());
            if (!line) continue;
            DCB read{};
            read.fRtsControl = set.fRtsControl;  // kept by the layer, not by the terminal
            ReadTerminalLine(line->attributes, rate, read);
            SCOPED_TRACE(testing::Message() << rate << " " << int{byteSize} << int{parity}
                                            << int{stopBits} << " rts " << rts);
            EXPECT_EQ(read.BaudRate, rate);
            EXPECT_EQ(read.ByteSize, byteSize);
            EXPECT_EQ(read.Parity, parity);
            EXPECT_EQ(read.StopBits, stopBits);
            EXPECT_EQ(read.fRtsControl, set.fRtsControl);
            EXPECT_EQ(read.fOutxCtsFlow, rts == RTS_CONTROL_HANDSHAKE ? 1u : 0u);
          }
        }
      }
    }
  }
}

TEST(ReadWait, TimeoutsBecomeVminAndVtime) {
  const struct {
    COMMTIMEOUTS timeouts;
    cc_t vmin, vtime;
  } kCases[] = {
      {{0, 0, 1000, 0, 0}, 0, 10},     // the open's one second
      {{0, 0, 150, 0, 0}, 0, 2},       // rounded up to the next tenth
      {{0, 0, 1, 0, 0}, 0, 1},         // never down to "no wait"
      {{0, 0, 25500, 0, 0}, 0, 255},   //
      {{0, 0, 100000, 0, 0}, 0, 255},  // VTIME's longest
      {{0, 0, 0xFFFFFFF6, 0, 0}, 0, 255},
      {{0, 10, 90, 0, 0}, 0, 1},  // multiplier and constant for the first byte
      {{MAXDWORD, MAXDWORD, 500, 0, 0}, 0, 5},
      {{MAXDWORD, 0, 0, 0, 0}, 0, 0},  // return at once
      {{200, 0, 0, 0, 0}, 1, 2},       // wait for data, then gaps of 200 ms
      {{0, 0, 0, 0, 0}, 1, 0},         // wait for data without limit
      {{0, 0, 0, 5, 5}, 1, 0},         // write time-outs play no part
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.timeouts.ReadIntervalTimeout << "/" << c.timeouts.ReadTotalTimeoutMultiplier
                 << "/" << c.timeouts.ReadTotalTimeoutConstant);
    const ReadWait wait = ReadWaitFor(c.timeouts);
    EXPECT_EQ(wait.vmin, c.vmin);
    EXPECT_EQ(wait.vtime, c.vtime);
  }
}

}  // namespace
}  // namespace tav
