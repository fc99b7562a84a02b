// The virtual IRD driven through its real pseudo-terminal by a small scripted PC.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/Link.h"
#include "sim/VirtualIrd.h"
#include "support/ScriptedPc.h"

namespace irdload::sim {
namespace {

using namespace std::chrono_literals;
using namespace irdload::test;

void ExpectReceivedIntact(const ReceivedFile& got, const TestFile& sent) {
  EXPECT_TRUE(
      std::equal(got.header.begin(), got.header.end(), sent.header.begin(), sent.header.end()));
  EXPECT_EQ(got.payload, sent.payload);
  const auto packets = static_cast<std::uint32_t>(sent.payload.size() / kChunkSize + 1);
  EXPECT_EQ(got.packetsExpected, packets);
  EXPECT_EQ(got.packetsAccepted, packets);
  EXPECT_TRUE(got.terminated);
}

class VirtualIrdTest : public ::testing::Test {
 protected:
  void StartIrd(VirtualIrd::Options options = {}) {
    ird_ = std::make_unique<VirtualIrd>(std::move(options));
    std::string error;
    ASSERT_TRUE(ird_->Start(&error)) << error;
    ASSERT_FALSE(ird_->SlavePath().empty());
    ASSERT_TRUE(pc_.Open(ird_->SlavePath()));
  }

  std::unique_ptr<VirtualIrd> ird_;
  PcEnd pc_;  // closed before the IRD goes away
};

// --- A clean download, byte for byte ---------------------------------------------------------

struct SizeCase {
  const char* name;
  std::uint32_t payloadSize;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
  *os << c.name;
}

class ExactExchangeTest : public VirtualIrdTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ExactExchangeTest, FollowsTheTableByteForByteAndReassemblesThePayload) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  const TestFile file = MakeFile(GetParam().payloadSize);
  Wire wire;
  ASSERT_TRUE(RunFile(pc_, wire, file));
  ASSERT_TRUE(ird_->WaitForTerminatedFiles(1, kReplyBound));

  const Report report = ird_->GetReport();
  ASSERT_EQ(report.files.size(), 1u);
  ExpectReceivedIntact(report.files[0], file);
  EXPECT_EQ(report.files[0].packetsRejected, 0u);
  EXPECT_EQ(report.files[0].headersRejected, 0u);
  EXPECT_TRUE(report.files[0].successTerminate);
  EXPECT_EQ(report.fromPc, wire.fromPc);
  EXPECT_EQ(report.toPc, wire.toPc);
  EXPECT_EQ(report.unexpectedBytes, 0u);
  EXPECT_TRUE(report.faultsInjected.empty());
  EXPECT_FALSE(report.lineGone);
  EXPECT_FALSE(report.fromPcTruncated);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ExactExchangeTest,
                         ::testing::Values(SizeCase{"Empty", 0}, SizeCase{"OnePacket", 700},
                                           SizeCase{"ThreePackets", 2500},
                                           // Exact multiples end with a packet of zero fill only.
                                           SizeCase{"OneChunkExactly", 1021},
                                           SizeCase{"TwoChunksExactly", 2042}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VirtualIrdTest, ChainedSecondFileIsTakenAsANewFile) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  const TestFile first = MakeFile(1500, kTypeFirstOfPair, 3);
  const TestFile second = MakeFile(2100, kTypeSecondOfPair, 9);
  Wire wire;
  ASSERT_TRUE(RunFile(pc_, wire, first));
  ASSERT_TRUE(RunFile(pc_, wire, second));
  ASSERT_TRUE(ird_->WaitForTerminatedFiles(2, kReplyBound));

  const Report report = ird_->GetReport();
  ASSERT_EQ(report.files.size(), 2u);
  ExpectReceivedIntact(report.files[0], first);
  ExpectReceivedIntact(report.files[1], second);
  EXPECT_EQ(report.fromPc, wire.fromPc);
  EXPECT_EQ(report.toPc, wire.toPc);
}

// --- Protocol rules -----------------------------------------------------------------------

TEST_F(VirtualIrdTest, EveryConnectRequestIsAnsweredUntilTheReAcknowledge) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  // Three requests queued before the IRD could answer, then one more while it waits for 0xEF.
  ASSERT_TRUE(pc_.Send({CMD_CONNECT_REQ, CMD_CONNECT_REQ, CMD_CONNECT_REQ}));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(pc_.Expect(CMD_CONNECT_ACK)) << "request " << i;
  ASSERT_TRUE(pc_.Send({CMD_CONNECT_REQ}));
  ASSERT_TRUE(pc_.Expect(CMD_CONNECT_ACK));
  ASSERT_TRUE(pc_.Send({CMD_CONNECT_RE_ACK}));
  ASSERT_TRUE(pc_.Expect(CMD_HEADER_REQ));

  const Report report = ird_->GetReport();
  EXPECT_EQ(report.toPc, (Bytes{CMD_CONNECT_ACK, CMD_CONNECT_ACK, CMD_CONNECT_ACK, CMD_CONNECT_ACK,
                                CMD_HEADER_REQ}));
  EXPECT_EQ(report.files.size(), 1u);
  EXPECT_EQ(report.unexpectedBytes, 0u);
}

TEST_F(VirtualIrdTest, BytesOutOfTurnAreCountedAndIgnored) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  const TestFile file = MakeFile(300);
  Wire wire;
  // Each reply checked below is the next byte on the line, so an answer to any of the stray
  // bytes would show up in its place.
  ASSERT_TRUE(Step(pc_, wire, {0x00, CMD_CONNECT_RE_ACK, CMD_DATA_ANSWER}, std::nullopt));
  ASSERT_TRUE(Connect(pc_, wire, file));
  ASSERT_TRUE(Step(pc_, wire, {CMD_CONNECT_REQ, CMD_DATA_ANSWER}, std::nullopt));
  ASSERT_TRUE(SendPayload(pc_, wire, file));
  ASSERT_TRUE(ird_->WaitForTerminatedFiles(1, kReplyBound));

  const Report report = ird_->GetReport();
  EXPECT_EQ(report.unexpectedBytes, 5u);
  ASSERT_EQ(report.files.size(), 1u);
  ExpectReceivedIntact(report.files[0], file);
  EXPECT_EQ(report.toPc, wire.toPc);
}

TEST_F(VirtualIrdTest, HeaderWithWrongMagicIsRejectedAndAskedForAgain) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  const TestFile file = MakeFile(900);
  TestFile byteSwapped = file;
  std::reverse(byteSwapped.header.begin(), byteSwapped.header.begin() + 4);
  Wire wire;
  ASSERT_TRUE(Step(pc_, wire, {CMD_CONNECT_REQ}, CMD_CONNECT_ACK));
  ASSERT_TRUE(Step(pc_, wire, {CMD_CONNECT_RE_ACK}, CMD_HEADER_REQ));
  ASSERT_TRUE(Step(pc_, wire, byteSwapped.header, CMD_HEADER_NACK));
  ASSERT_TRUE(Step(pc_, wire, {CMD_HEADER_ANSWER}, CMD_HEADER_REQ));
  ASSERT_TRUE(Step(pc_, wire, file.header, CMD_HEADER_ACK));
  ASSERT_TRUE(SendPayload(pc_, wire, file));
  ASSERT_TRUE(ird_->WaitForTerminatedFiles(1, kReplyBound));

  const Report report = ird_->GetReport();
  ASSERT_EQ(report.files.size(), 1u);
  EXPECT_EQ(report.files[0].headersRejected, 1u);
  ExpectReceivedIntact(report.files[0], file);
}

struct DamageCase {
  const char* name;
  std::size_t offset;
  std::uint8_t xorMask;
};

void PrintTo(const DamageCase& c, std::ostream* os) {
  *os << c.name;
}

class DamagedPacketTest : public VirtualIrdTest,
                          public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedPacketTest, IsRejectedAndTheResendIsTaken) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  const TestFile file = MakeFile(800);
  const Bytes good = PacketsOf(file)[0];
  Bytes damaged = good;
  damaged[GetParam().offset] ^= GetParam().xorMask;
  Wire wire;
  ASSERT_TRUE(Connect(pc_, wire, file));
  ASSERT_TRUE(Step(pc_, wire, {CMD_HEADER_ANSWER}, CMD_DATA_REQ));
  ASSERT_TRUE(Step(pc_, wire, damaged, CMD_DATA_NACK));
  ASSERT_TRUE(Step(pc_, wire, {CMD_DATA_ANSWER}, CMD_DATA_REQ));
  ASSERT_TRUE(Step(pc_, wire, good, CMD_DATA_ACK));
  ASSERT_TRUE(Step(pc_, wire, {CMD_DATA_ANSWER}, CMD_TERMINATE_OK));
  ASSERT_TRUE(Step(pc_, wire, {CMD_TERMINATE_ANSWER}, std::nullopt));
  ASSERT_TRUE(ird_->WaitForTerminatedFiles(1, kReplyBound));

  const Report report = ird_->GetReport();
  ASSERT_EQ(report.files.size(), 1u);
  EXPECT_EQ(report.files[0].packetsRejected, 1u);
  ExpectReceivedIntact(report.files[0], file);
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedPacketTest,
                         ::testing::Values(DamageCase{"TypeByte", 0, 0x01},
                                           DamageCase{"FirstPayloadByte", 1, 0x80},
                                           DamageCase{"FillByte", 900, 0x10},
                                           DamageCase{"ChecksumHigh", 1022, 0x01},
                                           DamageCase{"ChecksumLow", 1023, 0xFF}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Scripted faults, each seen from the PC's side -------------------------------------------

struct FaultCase {
  const char* name;
  std::vector<Fault> faults;
  std::vector<std::uint32_t> payloadSizes;  // two sizes make a chained pair
  std::uint32_t injections;                 // expected count for the first fault's kind
  bool stalls;                              // the PC is expected to give up or lose the line
  std::function<void(const Report&, const PcOutcome&, const std::vector<TestFile>&)> check;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

std::size_t CountOf(const Bytes& bytes, std::uint8_t value) {
  return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), value));
}

void ExpectAllIntact(const Report& report, const std::vector<TestFile>& sent) {
  ASSERT_EQ(report.files.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) ExpectReceivedIntact(report.files[i], sent[i]);
}

const std::vector<FaultCase>& FaultCases() {
  static const std::vector<FaultCase> cases = {
      {"NackHeader",
       {{FaultKind::NackHeader, 0}},
       {2500},
       1,
       false,
       [](const Report& r, const PcOutcome& pc, const auto& sent) {
         ExpectAllIntact(r, sent);
         EXPECT_EQ(r.files[0].headersRejected, 1u);
         const auto nack = std::find(pc.received.begin(), pc.received.end(), CMD_HEADER_NACK);
         ASSERT_LT(nack + 2, pc.received.end());
         EXPECT_EQ(nack[1], CMD_HEADER_REQ);
         EXPECT_EQ(nack[2], CMD_HEADER_ACK);
       }},
      {"NackHeaderCountsOverTheSession",
       {{FaultKind::NackHeader, 1}},
       {1500, 600},
       1,
       false,
       [](const Report& r, const PcOutcome&, const auto& sent) {
         ExpectAllIntact(r, sent);
         EXPECT_EQ(r.files[0].headersRejected, 0u);
         EXPECT_EQ(r.files[1].headersRejected, 1u);
       }},
      {"NackPacket",
       {{FaultKind::NackPacket, 1}},
       {2500},
       1,
       false,
       [](const Report& r, const PcOutcome& pc, const auto& sent) {
         ExpectAllIntact(r, sent);
         EXPECT_EQ(r.files[0].packetsRejected, 1u);
         EXPECT_EQ(pc.packetsSent, 4u);
       }},
      {"CorruptPacketByte",
       {{FaultKind::CorruptPacketByte, 2}},
       {2500},
       1,
       false,
       [](const Report& r, const PcOutcome& pc, const auto& sent) {
         ExpectAllIntact(r, sent);
         EXPECT_EQ(r.files[0].packetsRejected, 1u);
         EXPECT_EQ(pc.packetsSent, 4u);
       }},
      {"DropReply",
       {{FaultKind::DropReply, 0}},
       {700},
       1,
       false,
       [](const Report& r, const PcOutcome&, const auto& sent) {
         ExpectAllIntact(r, sent);
         // The first acknowledge never came, so the PC had to ask again.
         EXPECT_GE(CountOf(r.fromPc, CMD_CONNECT_REQ), 2u);
       }},
      {"CorruptReply",
       {{FaultKind::CorruptReply, 0, 0x100}},
       {700},
       1,
       false,
       [](const Report& r, const PcOutcome& pc, const auto& sent) {
         ExpectAllIntact(r, sent);
         EXPECT_EQ(pc.received.front(), 0x00);  // the low 8 bits of the value
         EXPECT_GE(CountOf(r.fromPc, CMD_CONNECT_REQ), 2u);
       }},
      {"ClearBit20",
       {{FaultKind::ClearBit20, 2}},
       {700},
       1,
       false,
       [](const Report& r, const PcOutcome& pc, const auto& sent) {
         // The PC normalises the byte and carries on.
         ExpectAllIntact(r, sent);
         ASSERT_GT(pc.received.size(), 2u);
         EXPECT_EQ(pc.received[2] & 0x20, 0);
         EXPECT_TRUE(IsCommandLike(pc.received[2]));
         EXPECT_EQ(std::count_if(pc.received.begin(), pc.received.end(),
                                 [](std::uint8_t b) { return (b & 0x20) == 0; }),
                   1);
       }},
      {"Garbage",
       {{FaultKind::Garbage, 1, 6}},
       {700},
       1,
       false,
       [](const Report& r, const PcOutcome& pc, const auto& sent) {
         ExpectAllIntact(r, sent);
         ASSERT_GT(pc.received.size(), 7u);
         EXPECT_EQ(pc.received[0], CMD_CONNECT_ACK);
         for (std::size_t i = 1; i <= 6; ++i) {
           EXPECT_FALSE(IsCommandLike(pc.received[i])) << Hex(pc.received[i]);
         }
         EXPECT_TRUE(IsCommandLike(pc.received[7]));
       }},
      {"SilentFrom",
       {{FaultKind::SilentFrom, 3}},
       {2500},
       1,
       true,
       [](const Report& r, const PcOutcome& pc, const auto&) {
         EXPECT_EQ(pc.received.size(), 3u);
         EXPECT_EQ(r.toPc.size(), 3u);
         ASSERT_EQ(r.files.size(), 1u);
         EXPECT_EQ(r.files[0].packetsAccepted, 0u);
         EXPECT_FALSE(r.files[0].terminated);
         EXPECT_FALSE(r.lineGone);
       }},
      {"FailTerminateEveryFile",
       {{FaultKind::FailTerminate}},
       {100, 1100},
       2,
       false,
       [](const Report& r, const PcOutcome& pc, const auto& sent) {
         ExpectAllIntact(r, sent);
         EXPECT_EQ(CountOf(pc.received, CMD_TERMINATE_FAIL), 2u);
         EXPECT_EQ(CountOf(pc.received, CMD_TERMINATE_OK), 0u);
         for (const ReceivedFile& file : r.files) EXPECT_FALSE(file.successTerminate);
       }},
      {"DelayReply",
       {{FaultKind::DelayReply, 1, 0, 30ms}},
       {700},
       1,
       false,
       [](const Report& r, const PcOutcome&, const auto& sent) { ExpectAllIntact(r, sent); }},
      {"HangUpAt",
       {{FaultKind::HangUpAt, 3}},
       {2500},
       1,
       true,
       [](const Report& r, const PcOutcome& pc, const auto&) {
         EXPECT_TRUE(pc.lineGone);
         EXPECT_TRUE(r.lineGone);
         EXPECT_EQ(r.toPc.size(), 3u);
       }},
  };
  return cases;
}

class FaultTest : public VirtualIrdTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, IsInjectedAndSeenByThePc) {
  const FaultCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartIrd({.faults = c.faults, .seed = 42}));
  std::vector<TestFile> files;
  for (std::size_t i = 0; i < c.payloadSizes.size(); ++i) {
    const std::uint32_t type = c.payloadSizes.size() == 1 ? kTypeSingle
                               : i == 0                   ? kTypeFirstOfPair
                                                          : kTypeSecondOfPair;
    files.push_back(MakeFile(c.payloadSizes[i], type, static_cast<std::uint8_t>(i + 5)));
  }
  // A stalling IRD is done once it went silent or away and the PC has read all it did send: no
  // window of quiet time decides it.
  const auto settled = [&](std::size_t received) {
    const Report r = ird_->GetReport();
    return r.lineGone ||
           (r.faultsInjected.count(FaultKind::SilentFrom) > 0 && received >= r.toPc.size());
  };
  const PcOutcome outcome = RunReactingPc(pc_, files, kReplyBound,
                                          c.stalls ? settled : std::function<bool(std::size_t)>{});
  EXPECT_FALSE(outcome.confused);
  EXPECT_EQ(outcome.finished, !c.stalls);
  // Returns at once when the files are in or the IRD has stopped, so the report is settled.
  ird_->WaitForTerminatedFiles(files.size(), c.stalls && !outcome.lineGone ? 0ms : kReplyBound);

  const Report report = ird_->GetReport();
  const auto injected = report.faultsInjected.find(c.faults[0].kind);
  ASSERT_NE(injected, report.faultsInjected.end());
  EXPECT_EQ(injected->second, c.injections);
  EXPECT_EQ(report.faultsInjected.size(), 1u);
  c.check(report, outcome, files);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultTest, ::testing::ValuesIn(FaultCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VirtualIrdTest, GarbageFollowsTheSeed) {
  const auto noiseFor = [this](std::uint64_t seed) {
    ird_.reset();
    VirtualIrd::Options options;
    options.faults = {{FaultKind::Garbage, 1, 8}};
    options.seed = seed;
    StartIrd(std::move(options));
    Bytes received;
    if (!pc_.Send({CMD_CONNECT_REQ, CMD_CONNECT_RE_ACK})) return received;
    // Acknowledge, eight noise bytes, header request.
    for (int i = 0; i < 10; ++i) {
      const std::optional<std::uint8_t> byte = pc_.Receive(kReplyBound);
      if (!byte) break;
      received.push_back(*byte);
    }
    return received;
  };
  const Bytes first = noiseFor(7);
  ASSERT_EQ(first.size(), 10u);
  EXPECT_EQ(first.back(), CMD_HEADER_REQ);
  EXPECT_EQ(noiseFor(7), first);
  EXPECT_NE(noiseFor(8), first);
}

// --- The line itself ------------------------------------------------------------------------

struct PacingCase {
  const char* name;
  std::uint32_t baud;
  std::chrono::microseconds latency;
};

void PrintTo(const PacingCase& c, std::ostream* os) {
  *os << c.name;
}

class PacedExchangeTest : public VirtualIrdTest,
                          public ::testing::WithParamInterface<PacingCase> {};

TEST_P(PacedExchangeTest, StillExchangesCorrectly) {
  ASSERT_NO_FATAL_FAILURE(StartIrd({.baud = GetParam().baud, .replyLatency = GetParam().latency}));
  const TestFile file = MakeFile(2500);
  Wire wire;
  ASSERT_TRUE(RunFile(pc_, wire, file));
  ASSERT_TRUE(ird_->WaitForTerminatedFiles(1, kReplyBound));
  const Report report = ird_->GetReport();
  ASSERT_EQ(report.files.size(), 1u);
  ExpectReceivedIntact(report.files[0], file);
  EXPECT_EQ(report.toPc, wire.toPc);
}

TEST_P(PacedExchangeTest, GarbageAndDelaysAreStillPacedInOrder) {
  ASSERT_NO_FATAL_FAILURE(
      StartIrd({.baud = GetParam().baud,
                .replyLatency = GetParam().latency,
                .faults = {{FaultKind::Garbage, 2, 20}, {FaultKind::DelayReply, 3, 0, 2ms}}}));
  const std::vector<TestFile> files = {MakeFile(2500)};
  const PcOutcome outcome = RunReactingPc(pc_, files, kReplyBound);
  ASSERT_TRUE(outcome.finished);
  ASSERT_TRUE(ird_->WaitForTerminatedFiles(1, kReplyBound));
  const Report report = ird_->GetReport();
  ExpectAllIntact(report, files);
  EXPECT_EQ(report.toPc, outcome.received);
}

INSTANTIATE_TEST_SUITE_P(Lines, PacedExchangeTest,
                         ::testing::Values(PacingCase{"Baud115200", 115200, 0us},
                                           PacingCase{"Baud115200WithTurnaround", 115200, 1500us},
                                           PacingCase{"Baud57600", 57600, 200us},
                                           PacingCase{"UnpacedWithTurnaround", 0, 1500us}),
                         [](const auto& info) { return std::string(info.param.name); });

class ReopenTest : public VirtualIrdTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ReopenTest, PcClosingAndReopeningMidSessionDoesNotStopTheIrd) {
  ASSERT_NO_FATAL_FAILURE(StartIrd({.keepSlaveOpen = GetParam()}));
  const TestFile file = MakeFile(2500);
  Wire wire;
  ASSERT_TRUE(Connect(pc_, wire, file));
  pc_.Close();
  // Long enough for the IRD to find nobody on the line when the slave is not held.
  std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(pc_.Open(ird_->SlavePath()));
  ASSERT_TRUE(SendPayload(pc_, wire, file));
  ASSERT_TRUE(ird_->WaitForTerminatedFiles(1, kReplyBound));

  const Report report = ird_->GetReport();
  ASSERT_EQ(report.files.size(), 1u);
  ExpectReceivedIntact(report.files[0], file);
  EXPECT_FALSE(report.lineGone);
}

INSTANTIATE_TEST_SUITE_P(Slave, ReopenTest, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "Held" : "NotHeld");
});

class SlaveModeTest : public VirtualIrdTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SlaveModeTest, SlaveIsRawBeforeThePcTouchesIt) {
  ird_ = std::make_unique<VirtualIrd>(VirtualIrd::Options{.keepSlaveOpen = GetParam()});
  std::string error;
  ASSERT_TRUE(ird_->Start(&error)) << error;
  const int fd = open(ird_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  termios tio{};
  const int got = tcgetattr(fd, &tio);
  close(fd);
  ASSERT_EQ(got, 0);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_iflag & (ICRNL | IXON), 0u);
}

INSTANTIATE_TEST_SUITE_P(Slave, SlaveModeTest, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "Held" : "NotHeld");
});

TEST_F(VirtualIrdTest, HangUpTakesTheLineAwayFromThePc) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  ASSERT_TRUE(pc_.Send({CMD_CONNECT_REQ}));
  ASSERT_TRUE(pc_.Expect(CMD_CONNECT_ACK));

  ird_->HangUp();

  pollfd p{pc_.fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, static_cast<int>(kReplyBound.count())), 1);
  EXPECT_NE(p.revents & POLLHUP, 0);
  const std::uint8_t byte = CMD_CONNECT_RE_ACK;
  const ssize_t written = write(pc_.fd(), &byte, 1);
  const int writeErrno = errno;
  EXPECT_EQ(written, -1);
  EXPECT_EQ(writeErrno, EIO);
  EXPECT_FALSE(ird_->WaitForTerminatedFiles(1, kReplyBound));
  EXPECT_TRUE(ird_->GetReport().lineGone);
}

TEST_F(VirtualIrdTest, DestructionCutsAPendingDelayShort) {
  // An hour's delay: if destruction waited it out, this test would hit its time limit.
  ASSERT_NO_FATAL_FAILURE(
      StartIrd({.faults = {{FaultKind::DelayReply, 0, 0, std::chrono::hours{1}}}}));
  ASSERT_TRUE(pc_.Send({CMD_CONNECT_REQ}));
  // Wait until the IRD has read the request, so it is inside the delay when it is destroyed.
  const auto deadline = std::chrono::steady_clock::now() + kReplyBound;
  while (ird_->GetReport().faultsInjected.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_FALSE(ird_->GetReport().faultsInjected.empty());
  ird_.reset();
  EXPECT_FALSE(pc_.Receive(0ms).has_value());
}

TEST_F(VirtualIrdTest, ReportCanBeReadWhileTheTransferRuns) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  const std::vector<TestFile> files = {MakeFile(10 * 1021 + 5)};
  std::atomic<bool> done{false};
  std::vector<std::uint32_t> seen;  // the reader's alone until it is joined
  std::thread reader([&] {
    while (!done.load()) {
      const Report report = ird_->GetReport();
      if (!report.files.empty()) seen.push_back(report.files[0].packetsAccepted);
      ird_->WaitForTerminatedFiles(1, 1ms);
    }
  });
  const PcOutcome outcome = RunReactingPc(pc_, files, kReplyBound);
  const bool terminated = ird_->WaitForTerminatedFiles(1, kReplyBound);
  done.store(true);
  reader.join();

  ASSERT_TRUE(outcome.finished);
  ASSERT_TRUE(terminated);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  ExpectAllIntact(ird_->GetReport(), files);
}

TEST_F(VirtualIrdTest, WireLogStopsAtItsCapAndSaysSo) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  // Zero bytes are out of turn before a connect request, so each one is also counted.
  const std::size_t extra = 1000;
  ASSERT_TRUE(pc_.Send(Bytes(kWireLogCapBytes + extra, 0x00)));
  ASSERT_TRUE(pc_.Send({CMD_CONNECT_REQ}));
  ASSERT_TRUE(pc_.Expect(CMD_CONNECT_ACK));

  const Report report = ird_->GetReport();
  EXPECT_EQ(report.unexpectedBytes, kWireLogCapBytes + extra);
  EXPECT_EQ(report.fromPc.size(), kWireLogCapBytes);
  EXPECT_TRUE(report.fromPcTruncated);
  EXPECT_EQ(report.toPc, Bytes{CMD_CONNECT_ACK});
  EXPECT_FALSE(report.toPcTruncated);
}

TEST_F(VirtualIrdTest, StartingTwiceIsRefusedWithAReason) {
  ASSERT_NO_FATAL_FAILURE(StartIrd());
  std::string error;
  EXPECT_FALSE(ird_->Start(&error));
  EXPECT_FALSE(error.empty());
  Wire wire;
  EXPECT_TRUE(RunFile(pc_, wire, MakeFile(10)));
}

}  // namespace
}  // namespace irdload::sim
