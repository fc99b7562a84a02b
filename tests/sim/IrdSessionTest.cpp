// The IRD's line without I/O: replies and their due times against a clock the test moves, so
// repeats, lost bytes, held replies and stalls can be pinned to the microsecond.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "engine/Link.h"
#include "sim/IrdSession.h"
#include "support/ScriptedPc.h"

namespace irdload::sim {
namespace {

using namespace std::chrono_literals;
using Time = IrdSession::Time;

// One session with its plan and report, and the bytes it put on the line.
class Line {
 public:
  explicit Line(SessionOptions timing, std::vector<Fault> faults = {})
      : plan_(std::move(faults), 1), session_(timing, plan_, store_) {}

  void Pc(std::vector<std::uint8_t> bytes, Time at) {
    Advance(at - Time{1});
    session_.FromPc(bytes.data(), bytes.size(), at);
  }
  /// Everything due by `now`.
  std::vector<LineAction> Advance(Time now) {
    std::vector<LineAction> out;
    session_.Advance(now, out);
    seen_.insert(seen_.end(), out.begin(), out.end());
    return out;
  }
  /// The bytes put on the line by `now`, with their due times.
  std::vector<std::pair<std::uint8_t, Time>> BytesBy(Time now) {
    Advance(now);
    std::vector<std::pair<std::uint8_t, Time>> bytes;
    for (const LineAction& a : seen_) {
      if (a.kind == LineAction::Kind::Byte) bytes.emplace_back(a.byte, a.at);
    }
    return bytes;
  }
  std::vector<std::uint8_t> Replies(Time now) {
    std::vector<std::uint8_t> bytes;
    for (const auto& [byte, at] : BytesBy(now)) bytes.push_back(byte);
    return bytes;
  }
  Report report() const { return store_.Snapshot(); }
  IrdSession& session() { return session_; }

 private:
  FaultPlan plan_;
  ReportStore store_;
  IrdSession session_;
  std::vector<LineAction> seen_;
};

constexpr Time kStart = 1s;  // a clock that is not at its origin

std::vector<std::uint8_t> Header(std::uint32_t payloadSize) {
  return test::MakeFile(payloadSize).header;
}

std::vector<std::uint8_t> Packet(std::uint32_t payloadSize, std::uint32_t k) {
  return test::PacketsOf(test::MakeFile(payloadSize)).at(k);
}

TEST(IrdSessionTest, AnUnansweredReplyIsRepeatedAfterEachSilenceUntilThePcSpeaks) {
  Line line({.repeatAfter = 300ms});
  line.Pc({CMD_CONNECT_REQ}, kStart);
  EXPECT_EQ(line.Replies(kStart), (std::vector<std::uint8_t>{CMD_CONNECT_ACK}));
  EXPECT_EQ(line.session().NextDue(), kStart + 300ms);
  EXPECT_EQ(line.Replies(kStart + 299ms).size(), 1u);
  EXPECT_EQ(line.Replies(kStart + 300ms).size(), 2u);
  EXPECT_EQ(line.Replies(kStart + 600ms).size(), 3u);
  line.Pc({CMD_CONNECT_RE_ACK}, kStart + 700ms);
  const auto replies = line.Replies(kStart + 1100ms);
  EXPECT_EQ(replies, (std::vector<std::uint8_t>{CMD_CONNECT_ACK, CMD_CONNECT_ACK, CMD_CONNECT_ACK,
                                                CMD_HEADER_REQ, CMD_HEADER_REQ}))
      << "after the re-acknowledge the header request is the reply left unanswered";
  EXPECT_EQ(line.report().repeatsSent, 3u);
}

TEST(IrdSessionTest, ARepeatDropsAUnitOnlyPartlyReceived) {
  constexpr std::uint32_t kSize = 100;
  Line line({.repeatAfter = 300ms});
  Time t = kStart;
  line.Pc({CMD_CONNECT_REQ}, t);
  line.Pc({CMD_CONNECT_RE_ACK}, t += 1ms);
  line.Pc(Header(kSize), t += 1ms);
  line.Pc({CMD_HEADER_ANSWER}, t += 1ms);
  auto packet = Packet(kSize, 0);
  line.Pc({packet.begin(), packet.begin() + 500}, t += 1ms);  // the rest lost on the line
  EXPECT_EQ(line.Replies(t + 299ms).back(), CMD_DATA_REQ);
  EXPECT_EQ(line.Replies(t + 300ms).size(), 5u);  // E2 E3 E4 E7, and E7 again
  line.Pc(packet, t + 310ms);
  EXPECT_EQ(line.Replies(t + 311ms).back(), CMD_DATA_ACK);
  const Report report = line.report();
  ASSERT_EQ(report.files.size(), 1u);
  EXPECT_EQ(report.files[0].packetsAccepted, 1u);
  EXPECT_EQ(report.files[0].packetsRejected, 0u);
}

// The PC answered a repeat whose first answer was only late: the second answer meets the IRD
// where the next unit should begin, and is not taken for its first byte.
TEST(IrdSessionTest, ASecondAnswerWhereAUnitBeginsIsNotData) {
  constexpr std::uint32_t kSize = 2000;
  Line line({});
  Time t = kStart;
  line.Pc({CMD_CONNECT_REQ}, t);
  line.Pc({CMD_CONNECT_RE_ACK, CMD_CONNECT_RE_ACK}, t += 1ms);
  line.Pc(Header(kSize), t += 1ms);
  line.Pc({CMD_HEADER_ANSWER, CMD_HEADER_ANSWER}, t += 1ms);
  line.Pc(Packet(kSize, 0), t += 1ms);
  line.Pc({CMD_DATA_ANSWER, CMD_DATA_ANSWER}, t += 1ms);
  line.Pc(Packet(kSize, 1), t += 1ms);
  EXPECT_EQ(line.Replies(t),
            (std::vector<std::uint8_t>{CMD_CONNECT_ACK, CMD_HEADER_REQ, CMD_HEADER_ACK,
                                       CMD_DATA_REQ, CMD_DATA_ACK, CMD_DATA_REQ, CMD_DATA_ACK}));
  EXPECT_EQ(line.report().unexpectedBytes, 3u);
}

TEST(IrdSessionTest, BytesLostOnTheLineAreNeverHeard) {
  struct Case {
    const char* label;
    Fault fault;
    std::vector<std::uint8_t> replies;  // by the time the PC has sent E1 EF E1
  };
  const Case cases[] = {
      {"the answer to the connect acknowledge",
       {FaultKind::LoseAnswer, 0},
       {CMD_CONNECT_ACK, CMD_CONNECT_ACK}},
      {"the PC's second byte", {FaultKind::LosePcByte, 1}, {CMD_CONNECT_ACK, CMD_CONNECT_ACK}},
      {"the PC's first byte", {FaultKind::LosePcByte, 0}, {CMD_CONNECT_ACK}},
      {"an answer to a reply that never comes",
       {FaultKind::LoseAnswer, 5},
       {CMD_CONNECT_ACK, CMD_HEADER_REQ}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Line line({}, {c.fault});
    line.Pc({CMD_CONNECT_REQ}, kStart);
    line.Pc({CMD_CONNECT_RE_ACK}, kStart + 1ms);
    line.Pc({CMD_CONNECT_REQ}, kStart + 2ms);
    EXPECT_EQ(line.Replies(kStart + 3ms), c.replies);
  }
}

TEST(IrdSessionTest, PacedRepliesAndAnAdaptersLatencyTimer) {
  // 115200 baud: 86.806 us a byte, as the line clock rounds it.
  const Time byte = 86806ns;
  struct Case {
    const char* label;
    SessionOptions timing;
    Time due;  // of the connect acknowledge, after the connect request's line start
  };
  const Case cases[] = {
      {"paced", {.baud = 115200}, 2 * byte},
      {"paced with a turnaround", {.baud = 115200, .replyLatency = 100us}, 2 * byte + 100us},
      {"held to a 1 ms tick", {.baud = 115200, .holdTick = 1ms}, 1ms},
      {"held to a 16 ms tick", {.baud = 115200, .holdTick = 16ms}, 16ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Line line(c.timing);
    line.Pc({CMD_CONNECT_REQ}, 64ms);  // on a tick: the hold shows whole
    const auto bytes = line.BytesBy(1s);
    ASSERT_EQ(bytes.size(), 1u);
    EXPECT_EQ(bytes[0].second - 64ms, c.due);
  }
}

TEST(IrdSessionTest, AStallIsDueOnceItsReplyHasReachedThePc) {
  Fault stall{FaultKind::StallPc, 1};
  stall.delay = 450ms;
  Line line({}, {stall});
  line.Pc({CMD_CONNECT_REQ}, kStart);
  line.Pc({CMD_CONNECT_RE_ACK}, kStart + 1ms);
  const auto actions = line.Advance(kStart + 1ms);
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[0].byte, CMD_HEADER_REQ);
  EXPECT_EQ(actions[1].kind, LineAction::Kind::Stall);
  EXPECT_EQ(actions[1].stall, 450ms);
}

TEST(IrdSessionTest, RepeatsOfOneReplyHaveTheirLimitAndAnIdleLineHasNothingDue) {
  Line line({.repeatAfter = 10ms});
  EXPECT_FALSE(line.session().NextDue().has_value());
  line.Pc({CMD_CONNECT_REQ}, kStart);
  EXPECT_EQ(line.Replies(kStart + 1h).size(), 1u + IrdSession::kMaxRepeats);
  EXPECT_FALSE(line.session().NextDue().has_value());
}

}  // namespace
}  // namespace irdload::sim
