#include <gtest/gtest.h>
#include <termios.h>

#include <thread>

#include "ports/PortAdvice.h"
#include "serial/LineSettings.h"
#include "serial/PortName.h"
#include "serial/SerialPort.h"
#include "support/Child.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
using test::PtyPair;

const std::string kMode = "115200,N,8,1";

class SerialPortTest : public ::testing::Test {
 protected:
  PtyPair pty_;
};

struct FailedOpenCase {
  const char* label;
  std::function<std::string(const PtyPair&, const test::TempDir&)> portName;
  const char* detailFragment;
  OpenFailureKind kind;  // what the reason beside the text says
};

TEST_F(SerialPortTest, FailedOpenShowsTheNameAndReasonAndLeavesAPortThatNeverAnswers) {
  test::TempDir dir;
  SerialPort holder;
  ASSERT_EQ(holder.Open(pty_.slavePath(), kMode), 1);
  const FailedOpenCase cases[] = {
      {"absent", [](auto&, auto&) { return std::string("/dev/irdload-no-such-port"); },
       "no such device", OpenFailureKind::NoSuchDevice},
      {"busy", [](const PtyPair& p, auto&) { return p.slavePath(); }, "busy",
       OpenFailureKind::Busy},
      {"not a terminal",
       [](auto&, const test::TempDir& d) {
         return d.WriteBytes("plain.txt", {1, 2, 3});
       },
       "not a serial port", OpenFailureKind::Unexplained},
      {"COM0", [](auto&, auto&) { return std::string("COM0"); }, "names no serial port",
       OpenFailureKind::NotAPortName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SerialPort port(3ms);
    port.SetAdvice(SystemPortAdvice());
    const std::string name = c.portName(pty_, dir);
    EXPECT_EQ(port.Open(name, kMode), 0);
    EXPECT_EQ(port.lastOpenFailure().message, name + " Open Error!");
    EXPECT_NE(port.lastOpenFailure().detail.find(c.detailFragment), std::string::npos)
        << port.lastOpenFailure().detail;
    const OpenFailureReason& reason = port.lastOpenFailure().reason;
    EXPECT_EQ(reason.kind, c.kind);
    EXPECT_EQ(reason.portName, name);
    // Unexplained: the system's own text is all there is, and the detail is it.
    if (c.kind == OpenFailureKind::Unexplained) {
      EXPECT_EQ(reason.systemText, port.lastOpenFailure().detail);
    }
    EXPECT_EQ(port.WriteByte(0xE1), 1);
    std::uint8_t b = 0x5A;
    EXPECT_EQ(port.ReadByte(b), 0);
    EXPECT_EQ(b, 0x5A);
  }
}

TEST_F(SerialPortTest, BusyReasonNamesTheHoldingProcess) {
  SerialPort holder;
  ASSERT_EQ(holder.Open(pty_.slavePath(), kMode), 1);
  SerialPort second;
  second.SetAdvice(SystemPortAdvice());
  EXPECT_EQ(second.Open(pty_.slavePath(), kMode), 0);
  EXPECT_NE(second.lastOpenFailure().detail.find("pid " + std::to_string(::getpid())),
            std::string::npos)
      << second.lastOpenFailure().detail;
  const OpenFailureReason& reason = second.lastOpenFailure().reason;
  EXPECT_EQ(reason.kind, OpenFailureKind::Busy);
  ASSERT_EQ(reason.holders.size(), 1u);
  EXPECT_EQ(reason.holders[0].pid, std::to_string(::getpid()));
  EXPECT_TRUE(reason.holders[0].self);
}

TEST_F(SerialPortTest, PermissionDeniedSaysHowToJoinThePortsGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  // The slave belongs to root and mode 0620: an unprivileged user may not open it.
  const test::ChildResult child = test::RunInChild([&](std::string& detail) {
    if (!test::BecomeNobody()) return 2;
    SerialPort port;
    port.SetAdvice(SystemPortAdvice());
    const int rc = port.Open(pty_.slavePath(), kMode);
    detail = port.lastOpenFailure().detail;
    return rc == 0 ? 0 : 1;
  });
  ASSERT_TRUE(child.exited);
  ASSERT_EQ(child.code, 0) << "the open should have failed";
  const std::string& detail = child.text;
  EXPECT_NE(detail.find("permission denied"), std::string::npos) << detail;
  EXPECT_NE(detail.find("usermod -aG"), std::string::npos) << detail;
}

TEST_F(SerialPortTest, BytesThatArrivedBeforeOpenAreDiscarded) {
  pty_.Send({0xE2, 0xE3, 0xE4});
  ASSERT_TRUE(pty_.WaitQueued(3));
  SerialPort port(10000ms);
  ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
  pty_.Send({0xE7});
  // The first byte the port gives is the one sent after it opened.
  std::uint8_t b = 0;
  EXPECT_EQ(port.ReadByte(b), 1);
  EXPECT_EQ(b, 0xE7);
}

// The bound is the pauses after the first attempt; a byte that lands in the last of them still
// counts, and an empty line gives 0 once the bound is over, not before.
TEST_F(SerialPortTest, ReadByteTakesALateByteAndOtherwiseReturnsAfterItsBound) {
  SerialPort port(3000ms);
  ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
  std::thread late([&] {
    std::this_thread::sleep_for(2500ms);
    pty_.Send({0x44});
  });
  std::uint8_t b = 0;
  EXPECT_EQ(port.ReadByte(b), 1);
  EXPECT_EQ(b, 0x44);
  late.join();

  PtyPair silent;
  SerialPort classic;  // 50 pauses of 1 ms
  ASSERT_EQ(classic.Open(silent.slavePath(), kMode), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(classic.ReadByte(b), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 50ms);
  EXPECT_LT(took, 5s);  // a loose bound: it must not wait on a silent line for long
}

TEST_F(SerialPortTest, ReadByteReturnsAWaitingByteAndOneThatArrivesDuringThePauses) {
  SerialPort port(2000ms);
  ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
  pty_.Send({0x42});
  ASSERT_TRUE(pty_.WaitQueued(1));
  std::uint8_t b = 0;
  ASSERT_EQ(port.ReadByte(b), 1);
  EXPECT_EQ(b, 0x42);

  std::thread late([&] {
    std::this_thread::sleep_for(30ms);
    pty_.Send({0x43});
  });
  EXPECT_EQ(port.ReadByte(b), 1);
  EXPECT_EQ(b, 0x43);
  late.join();
}

TEST_F(SerialPortTest, ReadByteWithNoPausesStillMakesItsFirstAttempt) {
  SerialPort port(0ms);
  ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
  std::uint8_t b = 0;
  EXPECT_EQ(port.ReadByte(b), 0);
  pty_.Send({0x99});
  ASSERT_TRUE(pty_.WaitQueued(1));
  EXPECT_EQ(port.ReadByte(b), 1);
  EXPECT_EQ(b, 0x99);
}

TEST_F(SerialPortTest, ReadTakesOnlyWhatIsWaiting) {
  SerialPort port;
  ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
  std::uint8_t buf[8] = {};
  EXPECT_EQ(port.Read(buf, 5), 0u);
  pty_.Send({1, 2, 3});
  ASSERT_TRUE(pty_.WaitQueued(3));
  EXPECT_EQ(port.Read(buf, 5), 3u);
  EXPECT_EQ(buf[2], 3);
}

TEST_F(SerialPortTest, WriteSendsExactBytes) {
  SerialPort port;
  ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
  const char text[] = "abc\0def";
  EXPECT_EQ(port.Write(text, 0), 1);
  EXPECT_EQ(pty_.Receive(3), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(port.WriteByte(0x1E1), 1);
  EXPECT_EQ(port.WriteByte(0x00), 1);
  // CR, LF, XON and XOFF must pass untouched in raw mode.
  const std::uint8_t raw[] = {0x0D, 0x0A, 0x11, 0x13, 0xFF, 0x7F};
  EXPECT_EQ(port.Write(raw, sizeof raw), 1);
  EXPECT_EQ(pty_.Receive(8),
            (std::vector<std::uint8_t>{0xE1, 0x00, 0x0D, 0x0A, 0x11, 0x13, 0xFF, 0x7F}));
  pty_.Send({0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1A});
  ASSERT_TRUE(pty_.WaitQueued(6));
  std::uint8_t in[6] = {};
  EXPECT_EQ(port.Read(in, 6), 6u);
  EXPECT_EQ(std::vector<std::uint8_t>(in, in + 6),
            (std::vector<std::uint8_t>{0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1A}));
}

TEST_F(SerialPortTest, WriteWithoutAnyOpenReportsFailure) {
  SerialPort port;
  EXPECT_EQ(port.WriteByte(0xE1), 0);
  std::uint8_t b = 7;
  EXPECT_EQ(port.Read(&b, 1), 0u);
}

TEST_F(SerialPortTest, OpenLeaves115200EightNoneOneRawWithSoftwareFlowControlOff) {
  const tcflag_t before[] = {IXON | IXOFF, 0, IXON, IXOFF};
  for (tcflag_t flags : before) {
    SCOPED_TRACE(flags);
    termios t{};
    ASSERT_EQ(::tcgetattr(pty_.slave(), &t), 0);
    t.c_iflag |= flags | ICRNL;
    t.c_lflag |= ICANON | ECHO;
    t.c_oflag |= OPOST;
    t.c_cflag |= PARENB | CSTOPB;
    ::cfsetspeed(&t, B9600);
    ASSERT_EQ(::tcsetattr(pty_.slave(), TCSANOW, &t), 0);

    SerialPort port;
    ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
    EXPECT_TRUE(port.settingsVerified());
    ASSERT_EQ(::tcgetattr(pty_.slave(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B115200);
    EXPECT_EQ(::cfgetispeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
  }
}

TEST_F(SerialPortTest, RejectedModeKeepsTheLineSettingsAndStillOpens) {
  termios t{};
  ASSERT_EQ(::tcgetattr(pty_.slave(), &t), 0);
  ::cfsetspeed(&t, B9600);
  ASSERT_EQ(::tcsetattr(pty_.slave(), TCSANOW, &t), 0);
  // A mode that does not parse, and one whose rate the driver has no speed for.
  for (const char* mode : {"fast,N,8,1", "115201,N,8,1"}) {
    SCOPED_TRACE(mode);
    SerialPort port;
    EXPECT_EQ(port.Open(pty_.slavePath(), mode), 1);
    EXPECT_FALSE(port.settingsVerified());
    ASSERT_EQ(::tcgetattr(pty_.slave(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B9600);
  }
}

TEST_F(SerialPortTest, CloseThenOpenMovesToTheOtherPortAndReleasesTheFirst) {
  PtyPair other;
  SerialPort port;
  ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
  port.Close();
  ASSERT_EQ(port.Open(other.slavePath(), kMode), 1);
  port.WriteByte(0xEF);
  EXPECT_EQ(other.Receive(1), (std::vector<std::uint8_t>{0xEF}));
  SerialPort again;
  EXPECT_EQ(again.Open(pty_.slavePath(), kMode), 1) << again.lastOpenFailure().detail;
}

// The last bytes written are on their way when the port closes right after: the close must not
// take them back (a pseudo-terminal's purge would, before the other end read them).
TEST_F(SerialPortTest, CloseRightAfterAWriteKeepsWhatWasSent) {
  for (int i = 0; i < 20; ++i) {
    SerialPort port;
    ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
    ASSERT_EQ(port.WriteByte(0xED), 1);
    port.Close();
    EXPECT_EQ(pty_.Receive(1), (std::vector<std::uint8_t>{0xED})) << "close number " << i;
  }
}

TEST_F(SerialPortTest, UnpluggedLineReadsNothingAndWritesStillReportOne) {
  SerialPort port(60000ms);
  ASSERT_EQ(port.Open(pty_.slavePath(), kMode), 1);
  EXPECT_FALSE(port.lineLost());
  pty_.CloseSlave();
  pty_.CloseMaster();
  std::uint8_t b = 0x11;
  // The hang-up ends the wait: no byte can come, and the caller hears so at once.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.ReadByte(b), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_EQ(b, 0x11);
  EXPECT_TRUE(port.lineLost());
  EXPECT_EQ(port.WriteByte(0xE1), 1);
  EXPECT_FALSE(port.lastTransferError().empty());
}

TEST(PortNameTest, ComNamesMapToTtySAndPathsStayAsTheyAre) {
  const std::pair<const char*, const char*> cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"COM4", "/dev/ttyS3"},
      {"COM12", "/dev/ttyS11"},
      {"COM5:", "/dev/ttyS4"},
      {"COM5::", ""},
      {"COM0", ""},
      {"COM", ""},
      {"COMx", ""},
      {"ttyUSB0", ""},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"/dev/serial/by-id/usb-FTDI-if00", "/dev/serial/by-id/usb-FTDI-if00"},
  };
  for (const auto& [name, path] : cases) {
    EXPECT_EQ(DevicePathForPortName(name), path) << name;
  }
}

TEST(ModeTest, ParsesTheFourFieldsAndRefusesTheRest) {
  struct Case {
    const char* mode;
    bool ok;
    std::uint32_t baud;
    char parity;
    int data, stop;
  };
  const Case cases[] = {
      {"115200,N,8,1", true, 115200, 'N', 8, 1},
      {"9600,e,7,2", true, 9600, 'E', 7, 2},
      {" 57600 , O , 8 , 1 ", true, 57600, 'O', 8, 1},
      {"115201,N,8,1", true, 115201, 'N', 8, 1},  // whether a driver has the rate is its own say
      {"115200,X,8,1", false, 0, 0, 0, 0},
      {"115200,N,9,1", false, 0, 0, 0, 0},
      {"115200,N,8,1.5", false, 0, 0, 0, 0},
      {"115200,N,8", false, 0, 0, 0, 0},
      {"", false, 0, 0, 0, 0},
      {"-1,N,8,1", false, 0, 0, 0, 0},
      {"0,N,8,1", false, 0, 0, 0, 0},
      {"99999999999,N,8,1", false, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const std::optional<LineSettings> parsed = ParseMode(c.mode);
    ASSERT_EQ(parsed.has_value(), c.ok);
    if (!c.ok) continue;
    const LineSettings& line = *parsed;
    EXPECT_EQ(line.baud, c.baud);
    EXPECT_EQ(line.parity, c.parity);
    EXPECT_EQ(line.dataBits, c.data);
    EXPECT_EQ(line.stopBits, c.stop);
  }
}

}  // namespace
}  // namespace irdload
