// Whole downloads: the engine's worker and a real SerialPort against the virtual IRD over a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "engine/DownloadEngine.h"
#include "engine/ImageWriter.h"
#include "sim/VirtualIrd.h"
#include "support/Outcomes.h"
#include "support/PtyPair.h"
#include "support/RecordingHost.h"
#include "support/StallingPort.h"
#include "support/TempDir.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;
using sim::VirtualIrd;
using test::RecordingHost;

constexpr auto kBound = 60s;  // generous: sanitizer builds on a loaded machine are slow

class EngineLinkTest : public ::testing::Test {
 protected:
  void StartIrd(VirtualIrd::Options options = {}) {
    ird_ = std::make_unique<VirtualIrd>(std::move(options));
    std::string error;
    ASSERT_TRUE(ird_->Start(&error)) << error;
    host().SetPortPath(ird_->SlavePath());
  }
  void MakeEngine(std::chrono::milliseconds replyWait = SerialPort::kDefaultReplyWait,
                  std::unique_ptr<PortLink> port = nullptr) {
    EngineOptions o;
    o.replyWait = replyWait;
    o.port = std::move(port);
    engine_ = std::make_unique<DownloadEngine>(std::move(o));
    ASSERT_EQ(engine_->Init(host(), host().SelectedPortName()), 1);
  }
  std::string Image(const std::string& name, std::uint32_t type,
                    const std::vector<std::uint8_t>& payload) {
    return dir_.WriteBytes(name, ComposeImage(type, payload));
  }
  void RunSingle(const std::vector<std::uint8_t>& payload) {
    host().SetFiles(Image("image.uuc", kTypeSingle, payload));
    ASSERT_EQ(engine_->StartDownload(), 1);
    ASSERT_TRUE(engine_->WaitIdle(kBound));
    // The engine is idle once its last byte is written; the IRD may not have read it yet.
    if (test::LastOutcomeKind(*engine_) == OutcomeKind::Success) {
      ASSERT_TRUE(ird_->WaitForTerminatedFiles(1, kBound));
    }
  }

  // A new IRD, engine and host for the next case of a table.
  void Fresh() {
    engine_.reset();
    ird_.reset();
    host_ = std::make_unique<RecordingHost>();
  }
  RecordingHost& host() { return *host_; }

  void TearDown() override {
    engine_.reset();  // the worker ends before the host and the IRD go
    ird_.reset();
  }

  test::TempDir dir_;
  std::unique_ptr<RecordingHost> host_ = std::make_unique<RecordingHost>();
  std::unique_ptr<VirtualIrd> ird_;
  std::unique_ptr<DownloadEngine> engine_;
};

TEST_F(EngineLinkTest, OnePacketDownloadPutsExactlyTheProtocolOnTheLine) {
  StartIrd();
  MakeEngine();
  const auto payload = PatternPayload(700);
  const auto file = ComposeImage(kTypeSingle, payload);
  RunSingle(payload);

  DataPacket packet;
  BuildDataPacket(packet, payload.data(), 700, 0, 0);
  std::vector<std::uint8_t> expectedFromPc = {CMD_CONNECT_REQ, CMD_CONNECT_RE_ACK};
  expectedFromPc.insert(expectedFromPc.end(), file.begin(), file.begin() + 64);
  expectedFromPc.push_back(CMD_HEADER_ANSWER);
  expectedFromPc.insert(expectedFromPc.end(), packet.begin(), packet.end());
  expectedFromPc.push_back(CMD_DATA_ANSWER);
  expectedFromPc.push_back(CMD_TERMINATE_ANSWER);
  const sim::Report report = ird_->GetReport();
  EXPECT_EQ(report.fromPc, expectedFromPc);
  EXPECT_EQ(report.toPc, (std::vector<std::uint8_t>{CMD_CONNECT_ACK, CMD_HEADER_REQ, CMD_HEADER_ACK,
                                                    CMD_DATA_REQ, CMD_DATA_ACK, CMD_TERMINATE_OK}));
  ASSERT_EQ(report.files.size(), 1u);
  EXPECT_EQ(report.files[0].payload, payload);

  EXPECT_EQ(host().fieldHistory(FIELD_STATUS),
            (std::vector<std::string>{
                "Sending connect request", "Waiting connect request ack",
                "Sending connect request re ack", "Waiting header request",
                "Sending header request", "Waiting header ACK", "Sending header transfer ACK",
                "Waiting data request", "Sendig data packet", "Waiting data ACK",
                "Please wait for saving", "Waiting terminate request",
                "Sending success terminate ACK", "Download end successfully."}));
  EXPECT_EQ(host().messageTexts(), std::vector<std::string>{"Download end successfully."});
  EXPECT_EQ(host().field(FIELD_TOTAL_SIZE), "700");
  EXPECT_EQ(host().field(FIELD_ESTIMATE), "00:02");
  EXPECT_EQ(host().field(FIELD_LAST_REPLY), "0xeb");
  EXPECT_EQ(host().field(FIELD_PACKET_NUMBER), "0");
  EXPECT_EQ(host().field(FIELD_BYTES_SENT), "0");
  EXPECT_EQ(host().range(), (std::pair<int, int>{0, 1}));
  EXPECT_EQ(host().clockStarts(), 1);
  EXPECT_FALSE(host().clockRunning());
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Success);
}

TEST_F(EngineLinkTest, PayloadsArriveByteForByte) {
  // Sizes around the chunk boundary, including an exact multiple (an all-fill last packet).
  for (std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{1021}, std::size_t{3063}, std::size_t{20000}}) {
    SCOPED_TRACE(size);
    Fresh();
    StartIrd();
    MakeEngine();
    const auto payload = PatternPayload(size, static_cast<std::uint32_t>(size));
    RunSingle(payload);
    const auto report = ird_->GetReport();
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].payload, payload);
    EXPECT_EQ(report.files[0].packetsAccepted, size / 1021 + 1);
    EXPECT_TRUE(report.files[0].successTerminate);
    EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Success);
  }
}

TEST_F(EngineLinkTest, PairChainsTheSecondFileAndRestartsTheClock) {
  StartIrd();
  MakeEngine();
  const auto first = PatternPayload(3000, 1), second = PatternPayload(2500, 2);
  host().SetFiles(Image("fw.u01", kTypeFirstOfPair, first),
                  Image("fw.u02", kTypeSecondOfPair, second));
  ASSERT_EQ(engine_->StartDownload(), 1);
  ASSERT_TRUE(engine_->WaitIdle(kBound));
  ASSERT_TRUE(ird_->WaitForTerminatedFiles(1, kBound));
  const auto report = ird_->GetReport();
  ASSERT_EQ(report.files.size(), 2u);
  EXPECT_EQ(report.files[0].payload, first);
  EXPECT_EQ(report.files[1].payload, second);
  EXPECT_TRUE(report.files[0].chainedToNext);
  EXPECT_TRUE(report.files[1].terminated);
  EXPECT_EQ(host().clockStarts(), 2);
  EXPECT_EQ(host().field(FIELD_TOTAL_SIZE), "2500");
  EXPECT_EQ(host().messageTexts(), std::vector<std::string>{"Download end successfully."});
}

TEST_F(EngineLinkTest, RejectedUnitsGoAgainAndCorruptedRepliesStillCount) {
  struct Case {
    const char* label;
    std::vector<Fault> faults;
    const char* statusSeen;
  };
  const Case cases[] = {
      {"header rejected", {{FaultKind::NackHeader, 0}}, "Sending header transfer NACK"},
      {"packet rejected", {{FaultKind::NackPacket, 1}}, "Sending data transfer NACK"},
      {"packet corrupted on the way in",
       {{FaultKind::CorruptPacketByte, 2}},
       "Sending data transfer NACK"},
      {"bit 0x20 cleared",
       {{FaultKind::ClearBit20, 0}, {FaultKind::ClearBit20, 4}, {FaultKind::ClearBit20, 9}},
       "Download end successfully."},
      {"noise before a reply", {{FaultKind::Garbage, 3, 5}}, "Download end successfully."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    VirtualIrd::Options o;
    o.faults = c.faults;
    StartIrd(o);
    MakeEngine();
    const auto payload = PatternPayload(4000);
    RunSingle(payload);
    const auto report = ird_->GetReport();
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].payload, payload);
    EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Success);
    EXPECT_TRUE(host().WaitForField(FIELD_STATUS, c.statusSeen, 1s));
  }
}

TEST_F(EngineLinkTest, FailureTerminateEndsWithDownloadFail) {
  VirtualIrd::Options o;
  o.faults = {{FaultKind::FailTerminate}};
  StartIrd(o);
  MakeEngine();
  RunSingle(PatternPayload(100));
  EXPECT_EQ(host().messageTexts(), std::vector<std::string>{"Download Fail."});
  EXPECT_EQ(host().field(FIELD_STATUS), "Download Fail.");
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Failed);
}

TEST_F(EngineLinkTest, WithNoIrdTheConnectRequestRepeatsUntilStopped) {
  test::PtyPair line;  // nobody answers on the master
  host().SetPortPath(line.slavePath());
  MakeEngine();
  host().SetFiles(Image("image.uuc", kTypeSingle, PatternPayload(10)));
  ASSERT_EQ(engine_->StartDownload(), 1);
  const auto requests = line.Receive(5, kBound);
  EXPECT_EQ(requests, std::vector<std::uint8_t>(5, CMD_CONNECT_REQ));
  EXPECT_FALSE(engine_->IsIdle());
  EXPECT_TRUE(host().messages().empty());
  ASSERT_EQ(engine_->Finish(), 1);
  EXPECT_TRUE(engine_->IsIdle());
  EXPECT_TRUE(host().messages().empty());
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Stopped);
}

TEST_F(EngineLinkTest, SilentIrdEndsWithNoResponse) {
  VirtualIrd::Options o;
  o.faults = {{FaultKind::SilentFrom, 5}};
  StartIrd(o);
  MakeEngine(1ms);  // a 1 ms read bound: 1501 awaits take seconds
  RunSingle(PatternPayload(5000));
  EXPECT_EQ(host().messageTexts(), std::vector<std::string>{"IRD No response: Retry download."});
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::NoResponse);
  EXPECT_FALSE(host().clockRunning());
}

// An adapter pulled out: the port reports the hang-up, and the download ends at once as failed,
// in the data phase and while calling alike.
TEST_F(EngineLinkTest, UnpluggedLineEndsAsFailedAtOnce) {
  struct Case {
    const char* label;
    std::uint32_t hangUpBeforeReply;
  };
  const Case cases[] = {{"mid-transfer", 6}, {"while calling", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    VirtualIrd::Options o;
    o.faults = {{FaultKind::HangUpAt, c.hangUpBeforeReply}};
    o.keepSlaveOpen = false;
    StartIrd(o);
    MakeEngine();
    RunSingle(PatternPayload(5000));
    EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Failed);
    ASSERT_FALSE(host().messages().empty());
    EXPECT_EQ(host().messages().back().text, "Download Fail.");
    EXPECT_EQ(host().messages().back().detail, "the serial adapter was disconnected");
    EXPECT_EQ(host().outcomes().back().reason, FailureReason::AdapterDisconnected);
  }
}

TEST_F(EngineLinkTest, StopDuringAPacedDownloadIsSilent) {
  VirtualIrd::Options o;
  o.baud = 115200;
  StartIrd(o);
  MakeEngine();
  host().SetFiles(Image("image.uuc", kTypeSingle, PatternPayload(64 * 1024)));
  ASSERT_EQ(engine_->StartDownload(), 1);
  ASSERT_TRUE(host().WaitForField(FIELD_PACKET_NUMBER, "3", kBound));
  ASSERT_EQ(engine_->Finish(), 1);
  EXPECT_TRUE(engine_->IsIdle());
  EXPECT_TRUE(host().messages().empty());
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Stopped);
  EXPECT_FALSE(host().clockRunning());
  // The receiver is left mid-transfer; once it is reset, the next start runs a whole download.
  ird_.reset();
  StartIrd();
  RunSingle(PatternPayload(2000));
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Success);
}

TEST_F(EngineLinkTest, StopWhileTheWorkerWaitsOnAMessageBoxDoesNotDeadlock) {
  VirtualIrd::Options o;
  o.faults = {{FaultKind::FailTerminate}};
  StartIrd(o);
  MakeEngine();
  host().HoldMessageBoxes(true);
  host().SetFiles(Image("image.uuc", kTypeSingle, PatternPayload(100)));
  ASSERT_EQ(engine_->StartDownload(), 1);
  ASSERT_TRUE(host().WaitForOpenBox(kBound));
  ASSERT_EQ(engine_->Finish(), 1);
  EXPECT_TRUE(engine_->IsIdle());
  EXPECT_EQ(host().messageTexts(), std::vector<std::string>{"Download Fail."});
  host().HoldMessageBoxes(false);
}

TEST_F(EngineLinkTest, DestroyingTheEngineMidDownloadEndsTheWorker) {
  VirtualIrd::Options o;
  o.baud = 115200;
  StartIrd(o);
  MakeEngine();
  host().HoldMessageBoxes(true);
  host().SetFiles(Image("image.uuc", kTypeSingle, PatternPayload(64 * 1024)));
  ASSERT_EQ(engine_->StartDownload(), 1);
  ASSERT_TRUE(host().WaitForField(FIELD_PACKET_NUMBER, "2", kBound));
  engine_.reset();
  // Nothing of the engine is left to write: the IRD's log stops growing once it has read what
  // the last write left in the pseudo-terminal.
  std::size_t written = ird_->GetReport().fromPc.size();
  for (const auto until = std::chrono::steady_clock::now() + 10s;
       std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(200ms);
    const std::size_t now = ird_->GetReport().fromPc.size();
    if (now == written) break;
    written = now;
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(ird_->GetReport().fromPc.size(), written);
  EXPECT_TRUE(host().messages().empty());
}

// What the line did, as the engine counts it: a clean paced download has nothing to count but
// the waits the packets' own line time causes; an IRD that repeats a reply a stalled PC answered
// late leaves one repeat dropped as stale; a lost answer leaves one repeat answered.
TEST_F(EngineLinkTest, CountsWhatTheLineDid) {
  struct Case {
    const char* label;
    std::vector<Fault> faults;
    std::optional<std::uint32_t> stallAfterReply;
    std::uint32_t repeats, stale, late;
  };
  // Three packets: E2 E3 E4 E7 E8 E7 E8 E7 E8 EB.
  const Case cases[] = {
      {"clean", {}, std::nullopt, 0, 0, 0},
      {"an answer lost", {{FaultKind::LoseAnswer, 4}}, std::nullopt, 1, 0, 1},
      {"the PC stalled after a reply", {}, 4, 0, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    VirtualIrd::Options o;
    o.baud = 115200;
    o.repeatAfter = 300ms;
    o.faults = c.faults;
    StartIrd(o);
    std::unique_ptr<PortLink> port;
    if (c.stallAfterReply) {
      port = std::make_unique<test::StallingPort>(SerialPort::kDefaultReplyWait, *c.stallAfterReply,
                                                  450ms);
    }
    MakeEngine(SerialPort::kDefaultReplyWait, std::move(port));
    RunSingle(PatternPayload(2500));
    ASSERT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Success);
    const auto events = host().events();
    const DownloadEnded* end = nullptr;
    for (const EngineEvent& e : events) {
      if (const auto* ended = std::get_if<DownloadEnded>(&e)) end = ended;
    }
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end->counts.rejections, 0u);
    EXPECT_EQ(end->counts.repeats, c.repeats);
    // Real threads on a real pseudo-terminal: a scheduler that holds one of them past the 50 ms
    // bound adds a late reply, or stretches the stall over a second repeat. A lateness that
    // forgot the packets' own line time would count every packet.
    EXPECT_GE(end->counts.staleBytes, c.stale);
    EXPECT_LE(end->counts.staleBytes, c.stale + 1);
    EXPECT_GE(end->counts.lateReplies, c.late);
    EXPECT_LE(end->counts.lateReplies, c.late + 1);
    // The retry counter the dialog shows still counts every wait that came back empty, so a
    // paced packet (89 ms of line time against a 50 ms bound) adds one; the sum is not lateness.
    EXPECT_GE(end->counts.failedSteps, 3u);
    std::uint32_t repeatEvents = 0, staleEvents = 0, connected = 0;
    for (const EngineEvent& e : events) {
      repeatEvents += std::holds_alternative<RepeatAnswered>(e);
      if (const auto* stale = std::get_if<StaleBytesDropped>(&e)) staleEvents += stale->count;
      connected += std::holds_alternative<Connected>(e);
    }
    EXPECT_EQ(repeatEvents, c.repeats);
    EXPECT_EQ(staleEvents, end->counts.staleBytes);
    EXPECT_EQ(connected, 1u);
  }
}

TEST_F(EngineLinkTest, PortThatCannotOpenIsReportedWithItsReason) {
  host().SetPortPath("/dev/irdload-absent");
  MakeEngine();
  const auto messages = host().messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "/dev/irdload-absent Open Error!");
  EXPECT_NE(messages[0].detail.find("no such device"), std::string::npos);
}

}  // namespace
}  // namespace irdload
