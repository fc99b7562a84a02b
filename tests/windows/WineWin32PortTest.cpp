// The Win32 port layer on a pseudo-terminal: the Windows check program (Win32PortCheck.cpp) runs
// each case under wine on COM5, and this side plays the far end of the line.
#include <gtest/gtest.h>
#include <termios.h>

#include <thread>

#include "support/PtyPair.h"
#include "windows/Wine.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
using test::ComLink;
using test::PtyPair;
using test::WineProgram;

constexpr std::uint8_t kReady = 0xA5;
constexpr auto kBound = 60s;

class WineWin32PortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(com5_.made()); }

  // Starts the check program's case on COM5 (and `more` ports).
  std::unique_ptr<WineProgram> Start(const std::string& name, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {name, "COM5"};
    args.insert(args.end(), more.begin(), more.end());
    return std::make_unique<WineProgram>(IRDLOAD_WIN32_CHECK, args);
  }

  // Waits for the program's ready byte on the line; false when it never came.
  bool AwaitReady(const PtyPair& line) {
    return line.Receive(1, kBound) == std::vector<std::uint8_t>{kReady};
  }

  // The program's verdict: it passed, or the test fails with what it said.
  void ExpectPass(WineProgram& program) {
    const std::optional<int> code = program.Wait(kBound);
    ASSERT_TRUE(code.has_value()) << "the check program did not end\n" << program.out();
    if (*code == 77) GTEST_SKIP() << program.out();
    EXPECT_EQ(*code, 0) << program.out() << program.err();
  }

  PtyPair pty_;
  ComLink com5_{5, pty_.slavePath()};
};

TEST_F(WineWin32PortTest, BytesThatArrivedBeforeOpenAreDiscarded) {
  pty_.Send({0xE2, 0xE3, 0xE4});
  ASSERT_TRUE(pty_.WaitQueued(3));
  auto program = Start("purge-at-open");
  ASSERT_TRUE(AwaitReady(pty_)) << program->out();
  pty_.Send({0xE7});
  ExpectPass(*program);
}

TEST_F(WineWin32PortTest, ReadTakesOnlyTheBytesWaiting) {
  auto program = Start("bytes-waiting");
  ASSERT_TRUE(AwaitReady(pty_)) << program->out();
  pty_.Send({1, 2, 3});
  ASSERT_TRUE(pty_.WaitQueued(3));
  program->Tell("queued");
  ExpectPass(*program);
}

TEST_F(WineWin32PortTest, ReadByteWaitsItsPausesAndTakesAByteThatComesDuringThem) {
  auto program = Start("pause-bound");
  ASSERT_TRUE(AwaitReady(pty_)) << program->out();
  std::this_thread::sleep_for(300ms);
  pty_.Send({0x44});
  ExpectPass(*program);
}

TEST_F(WineWin32PortTest, HangUpEndsTheWaitAndTheLineCountsAsLost) {
  auto program = Start("hang-up");
  ASSERT_TRUE(AwaitReady(pty_)) << program->out();
  pty_.CloseSlave();
  pty_.CloseMaster();
  ExpectPass(*program);
}

TEST_F(WineWin32PortTest, BytesPassUnalteredAtTheModesSettingsWithSoftwareFlowControlOff) {
  termios t{};
  ASSERT_EQ(::tcgetattr(pty_.slave(), &t), 0);
  t.c_iflag |= IXON | IXOFF;
  t.c_cflag |= PARENB | CSTOPB;
  ::cfsetspeed(&t, B9600);
  ASSERT_EQ(::tcsetattr(pty_.slave(), TCSANOW, &t), 0);
  auto program = Start("bytes-and-settings");
  EXPECT_EQ(pty_.Receive(11, kBound), (std::vector<std::uint8_t>{'a', 'b', 'c', 0xE1, 0x00, 0x0D,
                                                                 0x0A, 0x11, 0x13, 0xFF, 0x7F}))
      << program->out();
  ASSERT_EQ(::tcgetattr(pty_.slave(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B115200);
  EXPECT_EQ(::cfgetispeed(&t), B115200);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  pty_.Send({0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1A});
  ASSERT_TRUE(pty_.WaitQueued(6));
  program->Tell("queued");
  program->Tell("checked");
  ExpectPass(*program);
}

TEST_F(WineWin32PortTest, CloseThenOpenMovesToAnotherPortAboveCom9) {
  PtyPair other;
  ComLink com12(12, other.slavePath());
  ASSERT_TRUE(com12.made());
  auto program = Start("close-reopen", {"COM12"});
  EXPECT_EQ(other.Receive(1, kBound), std::vector<std::uint8_t>{0xEF}) << program->out();
  program->Tell("received");
  ExpectPass(*program);
}

TEST_F(WineWin32PortTest, PortInUseIsRefused) {
  auto program = Start("port-in-use");
  ExpectPass(*program);
}

// Cases of the program alone: failed opens, port names, the upgrade file.
TEST_F(WineWin32PortTest, CasesWithoutAFarEnd) {
  for (const char* name : {"open-failures", "port-names", "image-files"}) {
    SCOPED_TRACE(name);
    WineProgram program(IRDLOAD_WIN32_CHECK, {name});
    program.process().CloseInput();
    ExpectPass(program);
  }
}

}  // namespace
}  // namespace irdload
