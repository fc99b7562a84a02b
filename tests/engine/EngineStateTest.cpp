// The state machine stepped pass by pass against a scripted line.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>

#include "engine/DownloadEngine.h"
#include "engine/ImageWriter.h"
#include "support/Outcomes.h"
#include "support/RecordingHost.h"
#include "support/ScriptedPort.h"
#include "support/TempDir.h"

namespace irdload {
namespace {

using test::RecordingHost;
using test::ScriptedLine;
using test::ScriptedPort;

class EngineStateTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeEngine(); }

  void MakeEngine(int retryLimit = 1500) {
    engine_.reset();
    line_ = std::make_shared<ScriptedLine>();
    EngineOptions o;
    o.manualWorker = true;
    o.limits.retryLimit = retryLimit;
    o.port = std::make_unique<ScriptedPort>(line_);
    // Reads of a path named in shortReads_ stop half-way through the payload.
    o.openFile = [this](const std::string& path,
                        std::string* error) -> std::unique_ptr<UpgradeFile> {
      auto file = OpenUpgradeFile(path, error);
      if (!file || shortReads_.count(path) == 0) return file;
      return std::make_unique<ShortReads>(std::move(file));
    };
    engine_ = std::make_unique<DownloadEngine>(std::move(o));
    ASSERT_EQ(engine_->Init(host_, "COM1"), 1);
  }

  void StartWith(std::size_t payloadSize, std::uint32_t type = kTypeSingle) {
    payload_ = PatternPayload(payloadSize);
    host_.SetFiles(dir_.WriteBytes("image.uuc", ComposeImage(type, payload_)));
    ASSERT_EQ(engine_->StartDownload(), 1);
    ASSERT_EQ(engine_->state(), STATUS_SEND_CONNECT_REQ);
  }

  // Replaces whatever replies are still queued.
  void SetReplies(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lk(line_->mu);
    line_->replies.assign(bytes.begin(), bytes.end());
  }

  void Reply(std::initializer_list<std::uint8_t> bytes) {
    std::lock_guard lk(line_->mu);
    line_->replies.insert(line_->replies.end(), bytes);
  }

  // Runs at least one pass, then passes until the state is `target`; fails after `limit`.
  void RunTo(int target, int limit = 50) {
    int i = 0;
    do {
      engine_->RunPass();
    } while (++i < limit && engine_->state() != target);
    ASSERT_EQ(engine_->state(), target);
  }

  // From the start to waiting for the first data request.
  void Handshake() {
    Reply({CMD_CONNECT_ACK, CMD_HEADER_REQ, CMD_HEADER_ACK});
    RunTo(STATUS_WAIT_DATA_REQ);
  }

  std::vector<std::uint8_t> Written() {
    std::lock_guard lk(line_->mu);
    return line_->written;
  }
  void ClearWritten() {
    std::lock_guard lk(line_->mu);
    line_->written.clear();
    line_->writeSizes.clear();
  }
  // The chunk of the last 1024-byte packet written.
  std::vector<std::uint8_t> LastPacketChunk() {
    const auto w = Written();
    EXPECT_GE(w.size(), kPacketSize);
    auto start = w.end() - static_cast<long>(kPacketSize) - 1;  // packet then one answer byte
    for (auto it = w.end() - static_cast<long>(kPacketSize); it >= w.begin(); --it) {
      if (*it == kPacketType && (w.end() - it) >= static_cast<long>(kPacketSize)) {
        start = it;
        break;
      }
    }
    return {start + 1, start + 1 + kChunkSize};
  }
  std::vector<std::uint8_t> Chunk(std::uint32_t k) {
    std::vector<std::uint8_t> c(kChunkSize, 0);
    const std::size_t begin = std::size_t{k} * kChunkSize;
    for (std::size_t i = 0; i < kChunkSize && begin + i < payload_.size(); ++i)
      c[i] = payload_[begin + i];
    return c;
  }

  // Payload reads give half of what was asked, as a failing disk would.
  class ShortReads final : public UpgradeFile {
   public:
    explicit ShortReads(std::unique_ptr<UpgradeFile> file) : file_(std::move(file)) {}
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
      return file_->ReadAt(offset, buffer, offset < kHeaderSize ? length : length / 2);
    }
    std::uint64_t Length() override { return file_->Length(); }

   private:
    std::unique_ptr<UpgradeFile> file_;
  };

  std::set<std::string> shortReads_;
  test::TempDir dir_;
  RecordingHost host_;
  std::shared_ptr<ScriptedLine> line_;
  std::unique_ptr<DownloadEngine> engine_;
  std::vector<std::uint8_t> payload_;
};

TEST_F(EngineStateTest, WithoutAnIrdTheConnectRequestRepeatsAndNoTimeoutComes) {
  StartWith(10);
  for (int i = 0; i < 4000; ++i) engine_->RunPass();
  EXPECT_FALSE(engine_->IsIdle());
  EXPECT_TRUE(host_.messages().empty());
  for (const auto& t : host_.fieldHistory(FIELD_STATUS)) {
    EXPECT_TRUE(t == "Sending connect request" || t == "Waiting connect request ack") << t;
  }
  for (const auto& t : host_.fieldHistory(FIELD_RETRY_COUNT))
    EXPECT_TRUE(t == "0" || t == "1") << t;
  const auto w = Written();
  EXPECT_EQ(w.size(), 2000u);
  EXPECT_TRUE(std::all_of(w.begin(), w.end(), [](std::uint8_t b) { return b == CMD_CONNECT_REQ; }));
}

TEST_F(EngineStateTest, AlternativeRepliesMoveTheMachine) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> prefix;  // replies that bring the machine to `from`
    int from;
    std::uint8_t reply;
    int to;
    const char* retries;
  };
  const std::vector<std::uint8_t> toHeaderReq = {CMD_CONNECT_ACK};
  const std::vector<std::uint8_t> toHeaderAck = {CMD_CONNECT_ACK, CMD_HEADER_REQ};
  const std::vector<std::uint8_t> toDataReq = {CMD_CONNECT_ACK, CMD_HEADER_REQ, CMD_HEADER_ACK};
  const Case cases[] = {
      {"connect ack while waiting for the header request", toHeaderReq, STATUS_WAIT_HEADER_REQ,
       CMD_CONNECT_ACK, STATUS_WAIT_HEADER_REQ, "0"},
      {"header rejected", toHeaderAck, STATUS_WAIT_HEADER_ACK, CMD_HEADER_NACK,
       STATUS_SEND_HEADER_NACK, "0"},
      // No packet may go before the header was accepted: the ends are out of step.
      {"data request while waiting for the header ack", toHeaderAck, STATUS_WAIT_HEADER_ACK,
       CMD_DATA_REQ, STATUS_ERREND, "0"},
      {"failure terminate in the data phase", toDataReq, STATUS_WAIT_DATA_REQ, CMD_TERMINATE_FAIL,
       STATUS_SEND_FAIL_TERMINATE_ACK, "0"},
      {"bit 0x20 cleared still counts", toDataReq, STATUS_WAIT_DATA_REQ, CMD_DATA_REQ & ~0x20,
       STATUS_SEND_DATA, "0"},
      {"noise counts as a failed await", toDataReq, STATUS_WAIT_DATA_REQ, 0x47,
       STATUS_WAIT_DATA_REQ, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    MakeEngine();
    StartWith(3000);
    SetReplies(c.prefix);
    RunTo(c.from);
    Reply({c.reply});
    engine_->RunPass();
    EXPECT_EQ(engine_->state(), c.to);
    EXPECT_EQ(host_.field(FIELD_RETRY_COUNT), c.retries);
    char shown[8];
    std::snprintf(shown, sizeof shown, "0x%02x", c.reply | 0x20);
    EXPECT_EQ(host_.field(FIELD_LAST_REPLY), shown);
  }
}

TEST_F(EngineStateTest, RejectedPacketGoesAgainWithTheSameFields) {
  StartWith(3000);  // three packets
  Handshake();
  Reply({CMD_DATA_REQ, CMD_DATA_ACK, CMD_DATA_REQ});
  RunTo(STATUS_WAIT_DATA_ACK, 10);  // packet 0 sent
  RunTo(STATUS_WAIT_DATA_REQ);      // acked, answered
  RunTo(STATUS_WAIT_DATA_ACK);      // packet 1 sent
  EXPECT_EQ(LastPacketChunk(), Chunk(1));
  const std::string bytes = host_.field(FIELD_BYTES_SENT),
                    number = host_.field(FIELD_PACKET_NUMBER);
  EXPECT_EQ(number, "2");
  EXPECT_EQ(bytes, "2042");
  Reply({CMD_DATA_NACK});
  engine_->RunPass();
  EXPECT_EQ(engine_->state(), STATUS_SEND_DATA_NACK);
  engine_->RunPass();
  EXPECT_EQ(host_.field(FIELD_STATUS), "Sending data transfer NACK");
  Reply({CMD_DATA_REQ});
  RunTo(STATUS_WAIT_DATA_ACK);
  EXPECT_EQ(LastPacketChunk(), Chunk(1));
  EXPECT_EQ(host_.field(FIELD_PACKET_NUMBER), number);
  EXPECT_EQ(host_.field(FIELD_BYTES_SENT), bytes);
}

TEST_F(EngineStateTest, RejectedLastPacketGoesAgainNotPacketZero) {
  StartWith(1500);  // two packets
  Handshake();
  Reply({CMD_DATA_REQ, CMD_DATA_ACK, CMD_DATA_REQ});
  RunTo(STATUS_WAIT_DATA_ACK);
  RunTo(STATUS_WAIT_DATA_REQ);
  RunTo(STATUS_WAIT_DATA_ACK);
  EXPECT_EQ(host_.field(FIELD_PACKET_NUMBER), "0");  // wrapped after the last packet
  Reply({CMD_DATA_NACK, CMD_DATA_REQ});
  RunTo(STATUS_WAIT_DATA_ACK);
  EXPECT_EQ(LastPacketChunk(), Chunk(1));
  Reply({CMD_DATA_ACK});
  engine_->RunPass();
  engine_->RunPass();
  EXPECT_EQ(host_.field(FIELD_STATUS), "Please wait for saving");
  EXPECT_EQ(engine_->state(), STATUS_WAIT_TERMINATE_REQ);
}

// A rejection when no packet awaits an answer is a reply changed on the line: which packet the
// IRD will store next cannot be known, so no packet goes.
TEST_F(EngineStateTest, NegativeAcknowledgeBeforeAnyPacketEndsTheTransfer) {
  StartWith(3000);
  Handshake();
  Reply({CMD_DATA_NACK, CMD_DATA_REQ});
  RunTo(STATUS_IDLE, 10);
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Failed);
  EXPECT_EQ(host_.messageTexts(), std::vector<std::string>{"Download Fail."});
  EXPECT_NE(host_.messages().back().detail.find("out of step"), std::string::npos);
  for (std::size_t size : line_->writeSizes) EXPECT_NE(size, kPacketSize);
}

TEST_F(EngineStateTest, OnePacketDownloadEndsSuccessfully) {
  StartWith(1);
  Handshake();
  Reply({CMD_DATA_REQ, CMD_DATA_ACK});
  RunTo(STATUS_SEND_DATA_ACK);
  engine_->RunPass();
  EXPECT_EQ(host_.field(FIELD_STATUS), "Please wait for saving");
  Reply({CMD_TERMINATE_OK});
  RunTo(STATUS_IDLE);
  EXPECT_EQ(host_.messageTexts(), std::vector<std::string>{"Download end successfully."});
  EXPECT_EQ(host_.field(FIELD_STATUS), "Download end successfully.");
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Success);
  EXPECT_EQ(host_.clockStarts(), 1);
  EXPECT_FALSE(host_.clockRunning());
}

TEST_F(EngineStateTest, RetryLimitEndsWithNoResponseAndNoFailMessage) {
  StartWith(3000);
  Handshake();
  Reply({CMD_DATA_REQ});
  RunTo(STATUS_WAIT_DATA_ACK);
  int passes = 0;
  while (engine_->RunPass()) ++passes;
  EXPECT_EQ(passes, 1501);  // the 1501st failed await ends it; the finish pass returns false
  EXPECT_EQ(host_.messageTexts(), std::vector<std::string>{"IRD No response: Retry download."});
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::NoResponse);
  EXPECT_TRUE(engine_->IsIdle());
  EXPECT_EQ(host_.fieldHistory(FIELD_RETRY_COUNT).back(), "1501");
}

TEST_F(EngineStateTest, FailureTerminateEndsWithDownloadFail) {
  StartWith(100);
  Handshake();
  Reply({CMD_DATA_REQ, CMD_DATA_ACK, CMD_TERMINATE_FAIL});
  RunTo(STATUS_IDLE);
  EXPECT_EQ(host_.messageTexts(), std::vector<std::string>{"Download Fail."});
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Failed);
  const auto w = Written();
  EXPECT_EQ(w.back(), CMD_TERMINATE_ANSWER);
}

// The line carries no packet numbers: a reply corrupted into another valid reply can make the
// two ends disagree on the count. The PC never sends a packet the IRD cannot be expecting and
// never reports success for a transfer the IRD did not wholly accept.
TEST_F(EngineStateTest, DisagreementOnThePacketCountEndsAsAFailure) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> replies;  // after the handshake, for a 2-packet image
  };
  const Case cases[] = {
      {"data request after the last packet was accepted",
       {CMD_DATA_REQ, CMD_DATA_ACK, CMD_DATA_REQ, CMD_DATA_ACK, CMD_DATA_REQ}},
      {"data request while the last packet awaits its answer",
       {CMD_DATA_REQ, CMD_DATA_ACK, CMD_DATA_REQ, CMD_DATA_REQ}},
      {"success terminate with a packet still to send",
       {CMD_DATA_REQ, CMD_DATA_ACK, CMD_TERMINATE_OK}},
      {"success terminate after the last packet was rejected",
       {CMD_DATA_REQ, CMD_DATA_ACK, CMD_DATA_REQ, CMD_DATA_NACK, CMD_TERMINATE_OK}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    MakeEngine();
    StartWith(1500);
    Handshake();
    ClearWritten();
    SetReplies(c.replies);
    RunTo(STATUS_IDLE, 100);
    EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Failed);
    ASSERT_FALSE(host_.messages().empty());
    EXPECT_EQ(host_.messages().back().text, "Download Fail.");
    EXPECT_FALSE(host_.messages().back().detail.empty());
    // Packet 0 went exactly once and packet 1 at most as a resend of itself.
    const auto w = Written();
    int packets = 0;
    for (std::size_t i = 0; i + kPacketSize <= w.size(); ++i) {
      if (w[i] == kPacketType && i + kPacketSize <= w.size()) {
        const std::vector<std::uint8_t> chunk(w.begin() + i + 1, w.begin() + i + 1 + kChunkSize);
        EXPECT_EQ(chunk, Chunk(packets == 0 ? 0 : 1));
        ++packets;
        i += kPacketSize - 1;
      }
    }
    EXPECT_LE(packets, 3);
  }
}

// Each rejection counts as a reply, so an IRD that rejects everything would keep the retry
// count at 0 for ever; a run of rejections has its own limit.
TEST_F(EngineStateTest, EndlessRejectionsEndTheDownload) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> prefix, cycle;
    const char* reason;
  };
  const Case cases[] = {
      {"header",
       {CMD_CONNECT_ACK},
       {CMD_HEADER_REQ, CMD_HEADER_NACK},
       "rejected the header 51 times"},
      {"packet",
       {CMD_CONNECT_ACK, CMD_HEADER_REQ, CMD_HEADER_ACK},
       {CMD_DATA_REQ, CMD_DATA_NACK},
       "rejected the same packet 51 times"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    MakeEngine();
    StartWith(3000);
    std::vector<std::uint8_t> replies = c.prefix;
    for (int i = 0; i < 60; ++i) replies.insert(replies.end(), c.cycle.begin(), c.cycle.end());
    SetReplies(replies);
    RunTo(STATUS_IDLE, 2000);
    EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Failed);
    EXPECT_EQ(host_.messages().back().text, "Download Fail.");
    EXPECT_NE(host_.messages().back().detail.find(c.reason), std::string::npos)
        << host_.messages().back().detail;
  }
}

TEST_F(EngineStateTest, RejectionsInterruptedByAnAcceptDoNotAddUp) {
  StartWith(100);
  Reply({CMD_CONNECT_ACK});
  for (int i = 0; i < 40; ++i) Reply({CMD_HEADER_REQ, CMD_HEADER_NACK});
  Reply({CMD_HEADER_REQ, CMD_HEADER_ACK});
  for (int i = 0; i < 40; ++i) Reply({CMD_DATA_REQ, CMD_DATA_NACK});
  Reply({CMD_DATA_REQ, CMD_DATA_ACK, CMD_TERMINATE_OK});
  RunTo(STATUS_IDLE, 2000);
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Success);
}

TEST_F(EngineStateTest, DataRequestBeforeTheHeaderWasAcceptedSendsNoPacket) {
  StartWith(3000);
  Reply({CMD_CONNECT_ACK, CMD_HEADER_REQ, CMD_DATA_REQ});
  RunTo(STATUS_IDLE, 50);
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Failed);
  EXPECT_NE(host_.messages().back().detail.find("before it had accepted the header"),
            std::string::npos);
  for (std::size_t size : line_->writeSizes) EXPECT_NE(size, kPacketSize);
}

TEST_F(EngineStateTest, StartWhileRunningLeavesTheTransferAlone) {
  StartWith(3000);
  Handshake();
  Reply({CMD_DATA_REQ, CMD_DATA_ACK});
  RunTo(STATUS_WAIT_DATA_REQ, 10);
  ASSERT_EQ(host_.field(FIELD_PACKET_NUMBER), "1");
  const int opens = line_->opens;
  EXPECT_EQ(engine_->StartDownload(), 0);
  EXPECT_EQ(engine_->state(), STATUS_WAIT_DATA_REQ);
  EXPECT_EQ(line_->opens, opens);
  Reply({CMD_DATA_REQ});
  RunTo(STATUS_WAIT_DATA_ACK);
  EXPECT_EQ(LastPacketChunk(), Chunk(1));
  EXPECT_EQ(host_.field(FIELD_PACKET_NUMBER), "2");
}

TEST_F(EngineStateTest, StartOpensTheSelectedPort) {
  host_.SetPortIndex(2);
  StartWith(10);
  EXPECT_EQ(line_->opened.back(), "COM3");
  ASSERT_EQ(engine_->Finish(), 1);
  host_.SetPortIndex(-1);
  ASSERT_EQ(engine_->StartDownload(), 1);
  EXPECT_EQ(line_->opened.back(), "COM0");
}

TEST_F(EngineStateTest, StartWithoutFilesAsksAndReportsWhatCannotOpen) {
  host_.SetFiles("");
  host_.QueueSelection(false, "");
  EXPECT_EQ(engine_->StartDownload(), 0);
  EXPECT_TRUE(host_.messages().empty());
  host_.QueueSelection(true, "");
  EXPECT_EQ(engine_->StartDownload(), 0);
  EXPECT_EQ(host_.messageTexts(), std::vector<std::string>{"Open Error!"});
  EXPECT_EQ(host_.selectCalls(), 2);
  EXPECT_TRUE(engine_->IsIdle());
}

TEST_F(EngineStateTest, FailedChainedStartEndsTheRunInsteadOfLoopingForEver) {
  const auto first = dir_.WriteBytes("a.u01", ComposeImage(kTypeFirstOfPair, PatternPayload(10)));
  const auto second = dir_.WriteBytes("a.u02", ComposeImage(kTypeSecondOfPair, PatternPayload(10)));
  host_.SetFiles(first, second);
  ASSERT_EQ(engine_->StartDownload(), 1);
  // Gone while the first file goes: the chained start cannot open it.
  std::filesystem::remove(second);
  Handshake();
  Reply({CMD_DATA_REQ, CMD_DATA_ACK, CMD_TERMINATE_OK});
  RunTo(STATUS_IDLE, 100);
  EXPECT_EQ(host_.selectCalls(), 1);
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Failed);
  EXPECT_EQ(host_.messageTexts().back(), "Download Fail.");
}

TEST_F(EngineStateTest, StopFromTheFrontEndIsSilentAndReleasesEverything) {
  StartWith(3000);
  Handshake();
  ASSERT_EQ(engine_->Finish(), 1);
  EXPECT_TRUE(engine_->IsIdle());
  EXPECT_TRUE(host_.messages().empty());
  EXPECT_EQ(test::LastOutcomeKind(*engine_), OutcomeKind::Stopped);
  EXPECT_FALSE(engine_->RunPass());
}

// A load that fails after the type code was taken leaves the engine ready: the next start loads
// the first file again instead of sending the pair's second file alone.
TEST_F(EngineStateTest, FailedLoadOfAFirstFileLeavesTheNextStartWhole) {
  const auto first = dir_.WriteBytes("a.u01", ComposeImage(kTypeFirstOfPair, PatternPayload(3000)));
  const auto second = dir_.WriteBytes("a.u02", ComposeImage(kTypeSecondOfPair, PatternPayload(10)));
  host_.SetFiles(first, second);
  shortReads_.insert(first);
  EXPECT_EQ(engine_->StartDownload(), 0);
  EXPECT_EQ(host_.messageTexts(), std::vector<std::string>{"_lread Error!"});
  EXPECT_TRUE(engine_->IsIdle());
  ASSERT_FALSE(host_.outcomes().empty());
  EXPECT_EQ(host_.outcomes().back().kind, OutcomeKind::FileRefused);
  EXPECT_EQ(host_.outcomes().back().message, "_lread Error!");

  shortReads_.clear();
  ASSERT_EQ(engine_->StartDownload(), 1);
  EXPECT_EQ(engine_->snapshot().machine.kind, IMAGE_FIRST);
  EXPECT_EQ(engine_->snapshot().machine.lastPacketIndex, 2u);  // the first file's three packets
  Handshake();
  EXPECT_EQ(engine_->state(), STATUS_WAIT_DATA_REQ);
}

// A success terminate request before every packet was accepted is answered, as the IRD waits
// for that, and the download ends as failed without claiming more than the PC knows.
TEST_F(EngineStateTest, EarlySuccessTerminateIsAnsweredAndFails) {
  StartWith(3000);
  Handshake();
  ClearWritten();
  Reply({CMD_DATA_REQ, CMD_DATA_ACK, CMD_TERMINATE_OK});
  RunTo(STATUS_IDLE, 20);
  EXPECT_EQ(Written().back(), CMD_TERMINATE_ANSWER);
  EXPECT_EQ(host_.messageTexts(), std::vector<std::string>{"Download Fail."});
  EXPECT_NE(host_.messages().back().detail.find("may be incomplete"), std::string::npos);
  EXPECT_EQ(host_.outcomes().back().reason, FailureReason::OutOfStep);
  const auto statuses = host_.fieldHistory(FIELD_STATUS);
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Sending fail terminate ACK"),
            statuses.end());
}

// The progress bar's range goes up before the type code is looked at, so a refused type keeps
// it, and the total size is never shown.
TEST_F(EngineStateTest, RefusedTypeCodeKeepsTheRangeItSet) {
  host_.SetFiles(dir_.WriteBytes("b.u02", ComposeImage(kTypeSecondOfPair, PatternPayload(5000))));
  EXPECT_EQ(engine_->StartDownload(), 0);
  EXPECT_EQ(host_.range(), (std::pair<int, int>{0, 5}));
  EXPECT_EQ(host_.field(FIELD_TOTAL_SIZE), "");
  EXPECT_EQ(host_.messageTexts(), std::vector<std::string>{"Invalid Second file"});
  EXPECT_EQ(host_.outcomes().back().kind, OutcomeKind::FileRefused);
}

// Progress in numbers: packets and bytes done count up and end at the totals, where the
// dialog's packet field wraps back to 0.
TEST_F(EngineStateTest, ProgressCountsUpToTheTotals) {
  StartWith(2500);  // three packets
  Handshake();
  for (int i = 0; i < 3; ++i) Reply({CMD_DATA_REQ, CMD_DATA_ACK});
  Reply({CMD_TERMINATE_OK});
  RunTo(STATUS_IDLE, 100);
  std::vector<std::uint32_t> done;
  std::vector<std::uint64_t> bytes;
  for (const auto& event : host_.events()) {
    if (const auto* p = std::get_if<ProgressMade>(&event)) {
      done.push_back(p->packetsDone);
      bytes.push_back(p->bytesDone);
      EXPECT_EQ(p->packets, 3u);
      EXPECT_EQ(p->bytes, 2500u);
    }
  }
  EXPECT_EQ(done, (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(bytes, (std::vector<std::uint64_t>{1021, 2042, 2500}));
  EXPECT_EQ(host_.field(FIELD_PACKET_NUMBER), "0");
  EXPECT_EQ(host_.outcomes().back().kind, OutcomeKind::Success);
}

// A file chosen first whose type code says it is a single file, or says nothing the engine
// knows, ends with the terminate answer and success: only a first-of-pair type chains.
TEST_F(EngineStateTest, FirstFileNotTypedAsAPairEndsAfterItself) {
  for (std::uint32_t type : {kTypeSingle, 0x12345678u}) {
    SCOPED_TRACE(type);
    MakeEngine();
    host_.SetFiles(dir_.WriteBytes("a.u01", ComposeImage(type, PatternPayload(100))));
    ASSERT_EQ(engine_->StartDownload(), 1);
    Handshake();
    Reply({CMD_DATA_REQ, CMD_DATA_ACK, CMD_TERMINATE_OK});
    RunTo(STATUS_IDLE, 20);
    EXPECT_EQ(Written().back(), CMD_TERMINATE_ANSWER);
    EXPECT_EQ(host_.outcomes().back().kind, OutcomeKind::Success);
    EXPECT_EQ(host_.messageTexts().back(), "Download end successfully.");
  }
}

// A pair must be typed first and second; anything else is refused at the start, before a byte
// goes to the IRD, with the message the operator sees.
TEST_F(EngineStateTest, MistypedPairIsRefusedAtTheStart) {
  struct Case {
    const char* label;
    std::string first, second;
    std::uint32_t firstType, secondType;
    const char* message;
  };
  const Case cases[] = {
      {"CC/CC", "a.u01", "a.u02", kTypeSingle, kTypeSingle, "Invalid File"},
      {"CC/AA", "a.u01", "a.u02", kTypeSingle, kTypeFirstOfPair, "Invalid File"},
      {"AA/AA", "a.u01", "a.u02", kTypeFirstOfPair, kTypeFirstOfPair, "Invalid Second file"},
      {"AA/unknown", "a.u01", "a.u02", kTypeFirstOfPair, 0, "Invalid Second file"},
      {".uuc typed AA", "a.uuc", "", kTypeFirstOfPair, 0, "Invalid File"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    MakeEngine();
    ClearWritten();
    const std::string first =
        dir_.WriteBytes(c.first, ComposeImage(c.firstType, PatternPayload(100)));
    const std::string second =
        c.second.empty()
            ? ""
            : dir_.WriteBytes(c.second, ComposeImage(c.secondType, PatternPayload(50)));
    host_.SetFiles(first, second);
    EXPECT_EQ(engine_->StartDownload(), 0);
    EXPECT_EQ(host_.messageTexts().back(), c.message);
    EXPECT_EQ(host_.outcomes().back().kind, OutcomeKind::FileRefused);
    EXPECT_TRUE(engine_->IsIdle());
    EXPECT_TRUE(Written().empty());
  }
  // A .u01 whose second file is still to be chosen goes: it is asked for when the first is in.
  MakeEngine();
  host_.SetFiles(dir_.WriteBytes("b.u01", ComposeImage(kTypeFirstOfPair, PatternPayload(100))));
  EXPECT_EQ(engine_->StartDownload(), 1);
}

// The adapter goes while the PC answers the IRD's success terminate: the IRD has already said it
// stored the image, so the download is a success, with a note of what happened.
TEST_F(EngineStateTest, LineLostWhileAnsweringTheSuccessTerminateIsStillASuccess) {
  StartWith(100);
  Handshake();
  {
    std::lock_guard lk(line_->mu);
    line_->lineLostOnWriteOf = CMD_TERMINATE_ANSWER;
  }
  Reply({CMD_DATA_REQ, CMD_DATA_ACK, CMD_TERMINATE_OK});
  RunTo(STATUS_IDLE, 20);
  EXPECT_EQ(Written().back(), CMD_TERMINATE_ANSWER);
  ASSERT_FALSE(host_.outcomes().empty());
  EXPECT_EQ(host_.outcomes().back().kind, OutcomeKind::Success);
  EXPECT_EQ(host_.messageTexts().back(), "Download end successfully.");
  EXPECT_NE(host_.messages().back().detail.find("line was lost"), std::string::npos);
}

// The second file of a pair is checked as completely as the first before a byte is sent: found
// wrong only after the first file is on the IRD, the pair could never be completed.
TEST_F(EngineStateTest, SecondFileIsCheckedCompletelyBeforeAByteIsSent) {
  const std::vector<std::uint8_t> good = ComposeImage(kTypeSecondOfPair, PatternPayload(50));
  std::vector<std::uint8_t> badMagic = good;
  badMagic[0] ^= 0xFF;
  std::vector<std::uint8_t> sizeOff = good;
  sizeOff.pop_back();
  const std::vector<std::uint8_t> shortHeader(good.begin(), good.begin() + 40);
  struct Case {
    const char* label;
    std::optional<std::vector<std::uint8_t>> bytes;  // nullopt: the file does not exist
    const char* message;
  };
  const Case cases[] = {
      {"missing", std::nullopt, "Open Error!"},
      {"shorter than a header", shortHeader, "Read Error!"},
      {"wrong magic", badMagic, "Invalid file: magic number miss match"},
      {"size field off", sizeOff, "Invalid file size: check main.auc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    MakeEngine();
    ClearWritten();
    const std::string first =
        dir_.WriteBytes("p.u01", ComposeImage(kTypeFirstOfPair, PatternPayload(100)));
    const std::string second =
        c.bytes ? dir_.WriteBytes("p.u02", *c.bytes) : (dir_.path() / "absent.u02").string();
    host_.SetFiles(first, second);
    EXPECT_EQ(engine_->StartDownload(), 0);
    EXPECT_EQ(host_.messageTexts().back(), c.message);
    EXPECT_NE(host_.messages().back().detail.find(second), std::string::npos)
        << host_.messages().back().detail;
    EXPECT_EQ(host_.outcomes().back().kind, OutcomeKind::FileRefused);
    EXPECT_TRUE(Written().empty());
  }
}

}  // namespace
}  // namespace irdload
