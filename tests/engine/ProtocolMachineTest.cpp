// The protocol machine alone, row by row: (state, input) -> (state, action, counters).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Link.h"
#include "engine/ProtocolMachine.h"

namespace irdload {
namespace {

using Kind = Action::Kind;
using In = Input::Kind;

MachineState At(DownloadState state) {
  MachineState s;
  s.state = state;
  s.reportedState = state;
  s.kind = IMAGE_SINGLE;
  s.lastPacketIndex = 2;  // three packets
  return s;
}

// A download in its data phase: the header accepted, `next` the next packet to send.
MachineState InData(DownloadState state, std::uint32_t next = 1) {
  MachineState s = At(state);
  s.headerAccepted = true;
  s.packetIndex = next;
  return s;
}

// Packet `sent` has just gone and awaits its answer.
MachineState PacketInFlight(std::uint32_t sent, std::uint32_t lastPacketIndex = 2) {
  MachineState s = InData(STATUS_WAIT_DATA_ACK);
  s.lastPacketIndex = lastPacketIndex;
  s.lastPacketSent = sent == lastPacketIndex;
  s.packetIndex = s.lastPacketSent ? 0 : sent + 1;
  s.packetAwaitingAnswer = true;
  return s;
}

ProtocolMachine Machine(MachineState s) {
  return ProtocolMachine(std::move(s), MachineLimits{});
}

TEST(ProtocolMachineTest, EachStateHasItsActionAndStatusLine) {
  struct Row {
    const char* label;
    MachineState from;
    Kind action;
    std::uint8_t byte;
    std::uint32_t packet;
    const char* status;
  };
  MachineState lastAnswer = InData(STATUS_SEND_DATA_ACK, 0);
  lastAnswer.lastPacketSent = true;
  MachineState chain = At(STATUS_SEND_SUCCESS_TERMINATE_ACK);
  chain.kind = IMAGE_FIRST;
  const Row rows[] = {
      {"0", At(STATUS_SEND_CONNECT_REQ), Kind::SendCommand, 0xE1, 0, "Sending connect request"},
      {"1", At(STATUS_WAIT_CONNECT_ACK), Kind::AwaitReply, 0xE2, 0, "Waiting connect request ack"},
      {"2", At(STATUS_SEND_CONNECT_RE_ACK), Kind::SendCommand, 0xEF, 0,
       "Sending connect request re ack"},
      {"3", At(STATUS_WAIT_HEADER_REQ), Kind::AwaitReply, 0xE3, 0, "Waiting header request"},
      {"4", At(STATUS_SEND_HEADER), Kind::SendHeader, 0, 0, "Sending header request"},
      {"5", At(STATUS_WAIT_HEADER_ACK), Kind::AwaitReply, 0xE4, 0, "Waiting header ACK"},
      {"6", At(STATUS_SEND_HEADER_ACK), Kind::SendCommand, 0xE6, 0, "Sending header transfer ACK"},
      {"7", At(STATUS_SEND_HEADER_NACK), Kind::SendCommand, 0xE6, 0,
       "Sending header transfer NACK"},
      {"8", InData(STATUS_WAIT_DATA_REQ), Kind::AwaitReply, 0xE7, 0, "Waiting data request"},
      {"9", InData(STATUS_SEND_DATA, 1), Kind::SendPacket, 0, 1, "Sendig data packet"},
      {"10", InData(STATUS_WAIT_DATA_ACK), Kind::AwaitReply, 0xE8, 0, "Waiting data ACK"},
      {"11", InData(STATUS_SEND_DATA_ACK), Kind::SendCommand, 0xEA, 0, "Sending data transfer ACK"},
      {"11 after the last packet", lastAnswer, Kind::SendCommand, 0xEA, 0,
       "Please wait for saving"},
      {"12", InData(STATUS_SEND_DATA_NACK), Kind::SendCommand, 0xEA, 0,
       "Sending data transfer NACK"},
      {"13", InData(STATUS_WAIT_TERMINATE_REQ), Kind::AwaitReply, 0xEB, 0,
       "Waiting terminate request"},
      {"14", At(STATUS_SEND_SUCCESS_TERMINATE_ACK), Kind::SendCommand, 0xED, 0,
       "Sending success terminate ACK"},
      {"14, first file of a pair", chain, Kind::LoadSecondFile, 0xED, 0,
       "Sending success terminate ACK"},
      {"15", At(STATUS_SEND_FAIL_TERMINATE_ACK), Kind::SendCommand, 0xED, 0,
       "Sending fail terminate ACK"},
      {"16", At(STATUS_END), Kind::Finish, 0, 0, ""},
      {"17", At(STATUS_ERREND), Kind::Finish, 0, 0, ""},
      {"18", At(STATUS_IDLE), Kind::None, 0, 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const Action a = Machine(row.from).Next();
    EXPECT_EQ(a.kind, row.action);
    if (row.action == Kind::SendCommand || row.action == Kind::AwaitReply) {
      EXPECT_EQ(a.byte, row.byte);
    }
    if (row.action == Kind::SendPacket) {
      EXPECT_EQ(a.packet, row.packet);
    }
    EXPECT_EQ(a.status, row.status);
  }
}

// A successful action: the next state is also the reported one, and the retry count is 0.
TEST(ProtocolMachineTest, SuccessfulStepsFollowTheTable) {
  struct Row {
    const char* label;
    MachineState from;
    Input input;
    DownloadState to;
    bool clockStarted;
  };
  MachineState lastAnswer = InData(STATUS_SEND_DATA_ACK, 0);
  lastAnswer.lastPacketSent = true;
  MachineState lastAccepted = InData(STATUS_WAIT_TERMINATE_REQ, 0);
  lastAccepted.lastPacketSent = true;
  lastAccepted.allPacketsAccepted = true;
  MachineState headerSent = At(STATUS_WAIT_HEADER_ACK);
  headerSent.headerAwaitingAnswer = true;
  const Row rows[] = {
      {"connect request", At(STATUS_SEND_CONNECT_REQ), Input::Of(In::Sent), STATUS_WAIT_CONNECT_ACK,
       false},
      {"connect ack", At(STATUS_WAIT_CONNECT_ACK), Input::Reply(0xE2), STATUS_SEND_CONNECT_RE_ACK,
       false},
      {"re-acknowledge starts the clock", At(STATUS_SEND_CONNECT_RE_ACK), Input::Of(In::Sent),
       STATUS_WAIT_HEADER_REQ, true},
      {"header request", At(STATUS_WAIT_HEADER_REQ), Input::Reply(0xE3), STATUS_SEND_HEADER, false},
      {"header accepted", headerSent, Input::Reply(0xE4), STATUS_SEND_HEADER_ACK, false},
      {"header answer", At(STATUS_SEND_HEADER_ACK), Input::Of(In::Sent), STATUS_WAIT_DATA_REQ,
       false},
      {"header rejection answered", At(STATUS_SEND_HEADER_NACK), Input::Of(In::Sent),
       STATUS_WAIT_HEADER_REQ, false},
      {"data request", InData(STATUS_WAIT_DATA_REQ), Input::Reply(0xE7), STATUS_SEND_DATA, false},
      {"packet accepted", PacketInFlight(0), Input::Reply(0xE8), STATUS_SEND_DATA_ACK, false},
      {"packet answer", InData(STATUS_SEND_DATA_ACK), Input::Of(In::Sent), STATUS_WAIT_DATA_REQ,
       false},
      {"last packet's answer", lastAnswer, Input::Of(In::Sent), STATUS_WAIT_TERMINATE_REQ, false},
      {"rejection answered", InData(STATUS_SEND_DATA_NACK), Input::Of(In::Sent),
       STATUS_WAIT_DATA_REQ, false},
      {"terminate request", lastAccepted, Input::Reply(0xEB), STATUS_SEND_SUCCESS_TERMINATE_ACK,
       false},
      {"success terminate answer", At(STATUS_SEND_SUCCESS_TERMINATE_ACK), Input::Of(In::Sent),
       STATUS_END, false},
      {"fail terminate answer", At(STATUS_SEND_FAIL_TERMINATE_ACK), Input::Of(In::Sent),
       STATUS_ERREND, false},
      {"bit 0x20 cleared on the line", At(STATUS_WAIT_CONNECT_ACK), Input::Reply(0xC2),
       STATUS_SEND_CONNECT_RE_ACK, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    MachineState from = row.from;
    from.retryCount = 7;
    ProtocolMachine m = Machine(from);
    const StepReport report = m.Step(row.input);
    EXPECT_EQ(m.state().state, row.to);
    EXPECT_EQ(m.state().reportedState, row.to);
    EXPECT_EQ(m.state().retryCount, 0);
    EXPECT_EQ(report.clockStarted, row.clockStarted);
    if (row.input.kind == In::Reply) {
      EXPECT_EQ(report.reply, NormaliseReply(row.input.byte));
    }
  }
}

// Sends reported failed, replies that did not come and bytes that mean nothing: the retry count
// goes up, and only the connect phase goes back a state.
TEST(ProtocolMachineTest, FailedStepsCountAsRetries) {
  struct Row {
    const char* label;
    MachineState from;
    Input input;
    DownloadState to;
  };
  const Row rows[] = {
      {"connect request not sent", At(STATUS_SEND_CONNECT_REQ), Input::Of(In::SendFailed),
       STATUS_SEND_CONNECT_REQ},
      {"no connect ack", At(STATUS_WAIT_CONNECT_ACK), Input::Of(In::NoReply),
       STATUS_SEND_CONNECT_REQ},
      {"noise instead of a connect ack", At(STATUS_WAIT_CONNECT_ACK), Input::Reply(0x47),
       STATUS_SEND_CONNECT_REQ},
      {"no header request", At(STATUS_WAIT_HEADER_REQ), Input::Of(In::NoReply),
       STATUS_WAIT_HEADER_REQ},
      {"header write failed still goes on", At(STATUS_SEND_HEADER), Input::Of(In::SendFailed),
       STATUS_WAIT_HEADER_ACK},
      {"packet write failed still goes on", InData(STATUS_SEND_DATA), Input::Of(In::SendFailed),
       STATUS_WAIT_DATA_ACK},
      {"no packet answer", PacketInFlight(1), Input::Of(In::NoReply), STATUS_WAIT_DATA_ACK},
      {"a header request is noise in the data phase", PacketInFlight(1), Input::Reply(0xE3),
       STATUS_WAIT_DATA_ACK},
      {"answer not sent", InData(STATUS_SEND_DATA_ACK), Input::Of(In::SendFailed),
       STATUS_SEND_DATA_ACK},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    MachineState from = row.from;
    from.retryCount = 4;
    ProtocolMachine m = Machine(from);
    m.Step(row.input);
    EXPECT_EQ(m.state().state, row.to);
    EXPECT_EQ(m.state().retryCount, 5);
    EXPECT_EQ(m.state().reportedState, row.from.reportedState);
  }
}

// Replies other than the one awaited, where the ends can still agree: the state follows the
// alternative-reply table, the retry count goes back to 0, and only the terminate requests change
// the reported state.
TEST(ProtocolMachineTest, AlternativeRepliesFollowTheirTable) {
  struct Row {
    const char* label;
    MachineState from;
    std::uint8_t reply;
    DownloadState to;
    DownloadState reported;
  };
  MachineState headerPending = At(STATUS_WAIT_HEADER_REQ);  // asked again after a connect ack
  headerPending.headerAwaitingAnswer = true;
  MachineState allAccepted = InData(STATUS_WAIT_DATA_REQ, 0);
  allAccepted.allPacketsAccepted = true;
  allAccepted.lastPacketSent = true;
  const Row rows[] = {
      {"connect ack again while waiting for the header request", At(STATUS_WAIT_HEADER_REQ), 0xE2,
       STATUS_WAIT_HEADER_REQ, STATUS_WAIT_HEADER_REQ},
      {"connect ack in the data phase", InData(STATUS_WAIT_DATA_REQ), 0xE2, STATUS_WAIT_HEADER_REQ,
       STATUS_WAIT_DATA_REQ},
      {"header accepted while waiting for its request", headerPending, 0xE4, STATUS_SEND_HEADER_ACK,
       STATUS_WAIT_HEADER_REQ},
      {"header rejected",
       [] {
         MachineState s = At(STATUS_WAIT_HEADER_ACK);
         s.headerAwaitingAnswer = true;
         return s;
       }(),
       0xE5, STATUS_SEND_HEADER_NACK, STATUS_WAIT_HEADER_ACK},
      {"data request while waiting for the header request", InData(STATUS_WAIT_HEADER_REQ), 0xE7,
       STATUS_SEND_DATA, STATUS_WAIT_HEADER_REQ},
      {"packet rejected", PacketInFlight(1), 0xE9, STATUS_SEND_DATA_NACK, STATUS_WAIT_DATA_ACK},
      {"success terminate after every packet", allAccepted, 0xEB, STATUS_SEND_SUCCESS_TERMINATE_ACK,
       STATUS_END},
      {"failure terminate", PacketInFlight(1), 0xEC, STATUS_SEND_FAIL_TERMINATE_ACK, STATUS_ERREND},
      {"failure terminate before any packet", At(STATUS_WAIT_HEADER_REQ), 0xEC,
       STATUS_SEND_FAIL_TERMINATE_ACK, STATUS_ERREND},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    MachineState from = row.from;
    from.retryCount = 3;
    ProtocolMachine m = Machine(from);
    m.Step(Input::Reply(row.reply));
    EXPECT_EQ(m.state().state, row.to);
    EXPECT_EQ(m.state().reportedState, row.reported);
    EXPECT_EQ(m.state().retryCount, 0);
    EXPECT_EQ(m.state().failure, FailureReason::None);
  }
}

// The packet count on both ends: which packet goes next after each answer.
TEST(ProtocolMachineTest, PacketIndexFollowsTheAnswers) {
  struct Row {
    const char* label;
    MachineState from;
    Input input;
    std::uint32_t packetIndex;
    bool lastPacketSent;
    bool allAccepted;
  };
  MachineState sendLast = InData(STATUS_SEND_DATA, 2);
  MachineState sendOne = InData(STATUS_SEND_DATA, 0);
  sendOne.lastPacketIndex = 0;
  const Row rows[] = {
      {"a packet goes: the next one is due", InData(STATUS_SEND_DATA, 1), Input::Of(In::Sent), 2,
       false, false},
      {"the last packet goes: the index wraps", sendLast, Input::Of(In::Sent), 0, true, false},
      {"a one-packet file", sendOne, Input::Of(In::Sent), 0, true, false},
      {"packet 1 rejected: it goes again", PacketInFlight(1), Input::Reply(0xE9), 1, false, false},
      {"the last packet rejected: it goes again", PacketInFlight(2), Input::Reply(0xE9), 2, true,
       false},
      {"packet 1 accepted", PacketInFlight(1), Input::Reply(0xE8), 2, false, false},
      {"the last packet accepted: every packet is in", PacketInFlight(2), Input::Reply(0xE8), 0,
       true, true},
      {"the only packet accepted", PacketInFlight(0, 0), Input::Reply(0xE8), 0, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ProtocolMachine m = Machine(row.from);
    const StepReport report = m.Step(row.input);
    EXPECT_EQ(m.state().packetIndex, row.packetIndex);
    EXPECT_EQ(m.state().lastPacketSent, row.lastPacketSent);
    EXPECT_EQ(m.state().allPacketsAccepted, row.allAccepted);
    EXPECT_EQ(report.packetSent, row.input.kind == In::Sent);
  }
}

// Where the PC cannot know what the IRD stored it ends the transfer, never guesses.
TEST(ProtocolMachineTest, StrictRulesEndTheTransferWhereTheEndsMayDisagree) {
  struct Row {
    const char* label;
    MachineState from;
    std::uint8_t reply;
    DownloadState to;  // STATUS_SEND_FAIL_TERMINATE_ACK: the IRD's request is answered first
    const char* detail;
  };
  MachineState beforeTheLast = InData(STATUS_WAIT_DATA_REQ, 2);
  const Row rows[] = {
      {"success terminate with a packet still to send", beforeTheLast, 0xEB,
       STATUS_SEND_FAIL_TERMINATE_ACK, "before it had accepted every packet"},
      {"success terminate while the last packet awaits its answer", PacketInFlight(2), 0xEB,
       STATUS_SEND_FAIL_TERMINATE_ACK, "may be incomplete"},
      {"success terminate before any header", At(STATUS_WAIT_CONNECT_ACK), 0xEB,
       STATUS_SEND_FAIL_TERMINATE_ACK, "before it had accepted every packet"},
      {"data request while a packet awaits its answer", PacketInFlight(1), 0xE7, STATUS_ERREND,
       "whether it stored that packet cannot be known"},
      {"data request while the last packet awaits its answer", PacketInFlight(2), 0xE7,
       STATUS_ERREND, "whether it stored that packet cannot be known"},
      {"connect ack while a packet awaits its answer", PacketInFlight(1), 0xE2, STATUS_ERREND,
       "whether it stored that packet cannot be known"},
      {"acceptance with no packet in flight", InData(STATUS_WAIT_DATA_REQ), 0xE8, STATUS_ERREND,
       "out of step"},
      {"rejection with no packet in flight", InData(STATUS_WAIT_DATA_REQ), 0xE9, STATUS_ERREND,
       "out of step"},
      {"rejection before any packet", InData(STATUS_WAIT_DATA_REQ, 0), 0xE9, STATUS_ERREND,
       "out of step"},
      {"acceptance while waiting for the terminate request",
       [] {
         MachineState s = InData(STATUS_WAIT_TERMINATE_REQ, 0);
         s.lastPacketSent = true;
         s.allPacketsAccepted = true;
         return s;
       }(),
       0xE8, STATUS_ERREND, "out of step"},
      {"header accepted with no header sent", At(STATUS_WAIT_HEADER_REQ), 0xE4, STATUS_ERREND,
       "out of step"},
      {"header rejected with no header sent", InData(STATUS_WAIT_DATA_REQ), 0xE5, STATUS_ERREND,
       "out of step"},
      {"data request before the header was accepted",
       [] {
         MachineState s = At(STATUS_WAIT_HEADER_ACK);
         s.headerAwaitingAnswer = true;
         return s;
       }(),
       0xE7, STATUS_ERREND, "before it had accepted the header"},
      {"data request with no header at all", At(STATUS_WAIT_CONNECT_ACK), 0xE7, STATUS_ERREND,
       "before it had accepted the header"},
      {"data request after every packet was accepted",
       [] {
         MachineState s = InData(STATUS_WAIT_TERMINATE_REQ, 0);
         s.lastPacketSent = true;
         s.allPacketsAccepted = true;
         return s;
       }(),
       0xE7, STATUS_ERREND, "after it had accepted every packet"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ProtocolMachine m = Machine(row.from);
    m.Step(Input::Reply(row.reply));
    EXPECT_EQ(m.state().state, row.to);
    EXPECT_EQ(m.state().reportedState, STATUS_ERREND);
    EXPECT_EQ(m.state().failure, FailureReason::OutOfStep);
    EXPECT_NE(m.state().failureDetail.find(row.detail), std::string::npos)
        << m.state().failureDetail;
    // Nothing more goes to the IRD but, where it asked to end, the terminate answer.
    const Action next = m.Next();
    if (row.to == STATUS_SEND_FAIL_TERMINATE_ACK) {
      EXPECT_EQ(next.kind, Kind::SendCommand);
      EXPECT_EQ(next.byte, CMD_TERMINATE_ANSWER);
      m.Step(Input::Of(In::Sent));
    }
    EXPECT_EQ(m.Next().kind, Kind::Finish);
    const Outcome outcome = m.Finish();
    EXPECT_EQ(outcome.kind, OutcomeKind::Failed);
    EXPECT_EQ(outcome.reason, FailureReason::OutOfStep);
    EXPECT_EQ(outcome.message, "Download Fail.");
  }
}

TEST(ProtocolMachineTest, RejectionsInARowHaveTheirLimit) {
  struct Row {
    const char* label;
    MachineState from;
    std::uint8_t reply;
    FailureReason reason;
  };
  MachineState header = At(STATUS_WAIT_HEADER_ACK);
  header.headerAwaitingAnswer = true;
  const Row rows[] = {
      {"header", header, 0xE5, FailureReason::HeaderRejected},
      {"packet", PacketInFlight(1), 0xE9, FailureReason::PacketRejected},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    MachineState from = row.from;
    from.headerRejections = 3;
    from.packetRejections = 3;
    ProtocolMachine m(from, MachineLimits{.retryLimit = 1500, .rejectLimit = 4});
    m.Step(Input::Reply(row.reply));  // the fourth: still allowed
    EXPECT_EQ(m.state().failure, FailureReason::None);
    ProtocolMachine over(from, MachineLimits{.retryLimit = 1500, .rejectLimit = 3});
    over.Step(Input::Reply(row.reply));  // the fourth: one too many
    EXPECT_EQ(over.state().state, STATUS_ERREND);
    EXPECT_EQ(over.state().failure, row.reason);
    EXPECT_NE(over.state().failureDetail.find("4 times in a row"), std::string::npos);
  }
  // An acceptance breaks the run.
  MachineState run = PacketInFlight(1);
  run.packetRejections = 40;
  ProtocolMachine m = Machine(run);
  m.Step(Input::Reply(0xE8));
  EXPECT_EQ(m.state().packetRejections, 0);
}

TEST(ProtocolMachineTest, RetryLimitEndsWithNoResponseButNotWhileConnecting) {
  MachineState waiting = PacketInFlight(1);
  waiting.retryCount = 1500;
  ProtocolMachine m = Machine(waiting);
  const StepReport report = m.Step(Input::Of(In::NoReply));
  EXPECT_TRUE(report.noResponse);
  EXPECT_EQ(m.state().state, STATUS_ERREND);
  EXPECT_EQ(m.state().retryCount, 1501);
  EXPECT_EQ(m.state().reportedState, STATUS_WAIT_DATA_ACK);
  const Outcome outcome = m.Finish();
  EXPECT_EQ(outcome.kind, OutcomeKind::NoResponse);
  EXPECT_EQ(outcome.message, "IRD No response: Retry download.");

  // Calling: every connect request sent puts the count back to 0.
  ProtocolMachine calling = Machine(At(STATUS_SEND_CONNECT_REQ));
  for (int i = 0; i < 5000; ++i) {
    calling.Step(Input::Of(In::Sent));
    EXPECT_FALSE(calling.Step(Input::Of(In::NoReply)).noResponse);
  }
  EXPECT_EQ(calling.state().state, STATUS_SEND_CONNECT_REQ);
  EXPECT_EQ(calling.state().retryCount, 1);
}

TEST(ProtocolMachineTest, LostLineEndsAsFailedFromAnyState) {
  for (DownloadState state :
       {STATUS_SEND_CONNECT_REQ, STATUS_WAIT_CONNECT_ACK, STATUS_WAIT_DATA_ACK, STATUS_SEND_DATA}) {
    SCOPED_TRACE(state);
    ProtocolMachine m = Machine(InData(state));
    m.Step(Input::Of(In::LineLost));
    const Outcome outcome = m.Finish();
    EXPECT_EQ(outcome.kind, OutcomeKind::Failed);
    EXPECT_EQ(outcome.reason, FailureReason::AdapterDisconnected);
    EXPECT_EQ(outcome.detail, "the serial adapter was disconnected");
  }
}

TEST(ProtocolMachineTest, ConnectRequestClearsLastPacketSentButTheHeaderDoesNot) {
  MachineState connecting = At(STATUS_SEND_CONNECT_REQ);
  connecting.lastPacketSent = true;
  ProtocolMachine m = Machine(connecting);
  m.Step(Input::Of(In::SendFailed));
  EXPECT_FALSE(m.state().lastPacketSent);

  MachineState header = At(STATUS_SEND_HEADER);
  header.lastPacketSent = true;
  header.packetIndex = 2;
  ProtocolMachine h = Machine(header);
  h.Step(Input::Of(In::Sent));
  EXPECT_TRUE(h.state().lastPacketSent);
  EXPECT_EQ(h.state().packetIndex, 0u);
  EXPECT_TRUE(h.state().headerAwaitingAnswer);
}

TEST(ProtocolMachineTest, PairChainsOrEndsAtTheTerminateAnswer) {
  MachineState chain = At(STATUS_SEND_SUCCESS_TERMINATE_ACK);
  chain.kind = IMAGE_FIRST;
  chain.retryCount = 3;
  ProtocolMachine m = Machine(chain);
  m.SetKind(IMAGE_SECOND);  // the chained start loaded the second file
  m.Step({In::SecondFileLoaded, 0, 7});
  EXPECT_EQ(m.state().state, STATUS_SEND_CONNECT_REQ);
  EXPECT_EQ(m.state().lastPacketIndex, 7u);
  EXPECT_EQ(m.state().packetIndex, 0u);
  EXPECT_EQ(m.state().retryCount, 0);
  EXPECT_EQ(m.state().kind, IMAGE_SECOND);

  ProtocolMachine refused = Machine(chain);
  refused.Step(Input::Of(In::SecondFileRefused));
  const Outcome outcome = refused.Finish();
  EXPECT_EQ(outcome.kind, OutcomeKind::Failed);
  EXPECT_EQ(outcome.reason, FailureReason::SecondFileNotLoaded);
}

// The IRD repeats a reply whose answer was lost or late: the same byte goes again, shown as the
// state that first sent it, and nothing else moves: no counter, no packet index, no step back.
TEST(ProtocolMachineTest, RepeatedRepliesAreAnsweredAgainAndChangeNothing) {
  struct Row {
    const char* label;
    MachineState answering;  // the state that sends the answer
    std::uint8_t reply;      // the reply it answers, repeated by the IRD (as received)
    std::uint8_t answer;
    DownloadState waiting;  // where the PC waits after its answer
    const char* status;     // of the pass that answers again
  };
  MachineState reAck = At(STATUS_SEND_CONNECT_RE_ACK);
  reAck.connecting = true;
  MachineState headerAccepted = At(STATUS_SEND_HEADER_ACK);
  headerAccepted.headerAccepted = true;
  MachineState headerRejected = At(STATUS_SEND_HEADER_NACK);
  headerRejected.headerRejections = 1;
  MachineState rejected = InData(STATUS_SEND_DATA_NACK, 1);
  rejected.packetRejections = 1;
  MachineState lastAccepted = InData(STATUS_SEND_DATA_ACK, 0);
  lastAccepted.lastPacketSent = true;
  lastAccepted.allPacketsAccepted = true;
  const Row rows[] = {
      {"connect ack after the re-acknowledge", reAck, 0xE2, 0xEF, STATUS_WAIT_HEADER_REQ,
       "Sending connect request re ack"},
      {"header accepted", headerAccepted, 0xE4, 0xE6, STATUS_WAIT_DATA_REQ,
       "Sending header transfer ACK"},
      {"header rejected", headerRejected, 0xE5, 0xE6, STATUS_WAIT_HEADER_REQ,
       "Sending header transfer NACK"},
      {"a middle packet accepted", InData(STATUS_SEND_DATA_ACK, 2), 0xE8, 0xEA,
       STATUS_WAIT_DATA_REQ, "Sending data transfer ACK"},
      {"the last packet accepted", lastAccepted, 0xE8, 0xEA, STATUS_WAIT_TERMINATE_REQ,
       "Please wait for saving"},
      {"a packet rejected", rejected, 0xE9, 0xEA, STATUS_WAIT_DATA_REQ,
       "Sending data transfer NACK"},
      {"with bit 0x20 cleared on the line", InData(STATUS_SEND_DATA_ACK, 2), 0xC8, 0xEA,
       STATUS_WAIT_DATA_REQ, "Sending data transfer ACK"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ProtocolMachine m = Machine(row.answering);
    EXPECT_EQ(m.Next().byte, row.answer);
    m.Step(Input::Of(In::Sent));
    ASSERT_EQ(m.state().state, row.waiting);
    m.Step(Input::Of(In::NoReply));  // the answer was lost: the PC waits on
    const MachineState before = m.state();
    for (int repeat = 0; repeat < 3; ++repeat) {
      const StepReport report = m.Step(Input::Reply(row.reply));
      ASSERT_TRUE(report.repeat.has_value());
      EXPECT_EQ(report.repeat->reply, NormaliseReply(row.reply));
      EXPECT_EQ(report.repeat->answer, row.answer);
      EXPECT_FALSE(report.packetRejected.has_value());
      EXPECT_FALSE(report.headerRejected.has_value());
      const Action again = m.Next();
      EXPECT_EQ(again.kind, Kind::SendCommand);
      EXPECT_EQ(again.byte, row.answer);
      EXPECT_EQ(again.state, row.answering.state);
      EXPECT_EQ(again.status, row.status);
      m.Step(Input::Of(In::Sent));
      EXPECT_EQ(m.state().state, row.waiting);
      EXPECT_EQ(m.state().reportedState, before.reportedState);
      EXPECT_EQ(m.state().retryCount, before.retryCount);
      EXPECT_EQ(m.state().packetIndex, before.packetIndex);
      EXPECT_EQ(m.state().lastPacketSent, before.lastPacketSent);
      EXPECT_EQ(m.state().headerRejections, before.headerRejections);
      EXPECT_EQ(m.state().packetRejections, before.packetRejections);
      EXPECT_EQ(m.Next().kind, Kind::AwaitReply);
    }
  }
}

// A repeat can come only until the IRD says something new; after that the same byte contradicts
// what the PC knows, and the strict rules decide as before.
TEST(ProtocolMachineTest, RepeatWindowClosesAtTheNextReply) {
  ProtocolMachine m = Machine(InData(STATUS_SEND_DATA_ACK, 2));
  m.Step(Input::Of(In::Sent));  // 0xEA for packet 1
  m.Step(Input::Reply(0xE7));   // the IRD asks for packet 2
  m.Step(Input::Of(In::Sent));  // packet 2 goes
  m.Step(Input::Reply(0xE8));   // accepted
  m.Step(Input::Of(In::Sent));  // 0xEA: now waiting for the terminate request
  m.Step(Input::Reply(0xE7));   // more data asked for after every packet was accepted
  EXPECT_EQ(m.state().failure, FailureReason::OutOfStep);

  // A header accepted twice with a data request between them is no repeat.
  MachineState header = At(STATUS_SEND_HEADER_ACK);
  header.headerAccepted = true;
  ProtocolMachine h = Machine(header);
  h.Step(Input::Of(In::Sent));
  h.Step(Input::Reply(0xE7));
  EXPECT_EQ(h.state().state, STATUS_SEND_DATA);
  h.Step(Input::Of(In::Sent));
  h.Step(Input::Reply(0xE4));  // while a packet awaits its answer
  EXPECT_EQ(h.state().state, STATUS_ERREND);
  EXPECT_EQ(h.state().failure, FailureReason::OutOfStep);
}

TEST(ProtocolMachineTest, RepeatsInARowHaveTheirLimitButNotWhileCalling) {
  ProtocolMachine m(InData(STATUS_SEND_DATA_ACK, 2), MachineLimits{.repeatLimit = 3});
  m.Step(Input::Of(In::Sent));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(m.Step(Input::Reply(0xE8)).repeat.has_value());
    m.Step(Input::Of(In::Sent));
  }
  m.Step(Input::Reply(0xE8));
  EXPECT_EQ(m.state().state, STATUS_ERREND);
  const Outcome outcome = m.Finish();
  EXPECT_EQ(outcome.kind, OutcomeKind::Failed);
  EXPECT_EQ(outcome.reason, FailureReason::AnswersNotHeard);
  EXPECT_NE(outcome.detail.find("4 times in a row"), std::string::npos) << outcome.detail;

  // Until the header is asked for, the PC calls until stopped, repeats or not.
  MachineState reAck = At(STATUS_SEND_CONNECT_RE_ACK);
  reAck.connecting = true;
  ProtocolMachine calling(reAck, MachineLimits{.repeatLimit = 3});
  calling.Step(Input::Of(In::Sent));
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(calling.Step(Input::Reply(0xE2)).repeat.has_value());
    calling.Step(Input::Of(In::Sent));
  }
  EXPECT_EQ(calling.state().state, STATUS_WAIT_HEADER_REQ);
  EXPECT_EQ(calling.state().failure, FailureReason::None);
}

// The second file's connect request answers the first file's success terminate: a repeat of that
// request while the PC calls is answered with another call, not taken for an early terminate.
TEST(ProtocolMachineTest, RepeatedTerminateRequestDuringAChainIsAnsweredWithACall) {
  MachineState chain = At(STATUS_SEND_SUCCESS_TERMINATE_ACK);
  chain.kind = IMAGE_FIRST;
  ProtocolMachine m = Machine(chain);
  m.SetKind(IMAGE_SECOND);
  m.Step({In::SecondFileLoaded, 0, 3, false});
  m.Step(Input::Of(In::Sent));  // 0xE1
  const StepReport report = m.Step(Input::Reply(0xEB));
  ASSERT_TRUE(report.repeat.has_value());
  const Action call = m.Next();
  EXPECT_EQ(call.byte, CMD_CONNECT_REQ);
  EXPECT_EQ(call.status, "Sending connect request");
  m.Step(Input::Of(In::Sent));
  EXPECT_EQ(m.state().state, STATUS_WAIT_CONNECT_ACK);
  EXPECT_TRUE(m.Step(Input::Reply(0xE2)).connected);
  EXPECT_EQ(m.state().file, 1);  // the test started mid-pair: only the chain's Begin counted
}

// An IRD that counts by payload bytes never asks for a last packet that carries none: its success
// terminate then says it holds the exact image. Anything short of that stays a failure.
TEST(ProtocolMachineTest, SuccessTerminateWithOnlyAPaddingPacketLeft) {
  struct Row {
    const char* label;
    std::uint32_t next;  // the next packet to send
    bool padding;
    bool success;
  };
  const Row rows[] = {
      {"every payload byte in, only padding left", 2, true, true},
      {"a packet with payload left", 1, true, false},
      {"the last packet carries payload", 2, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    MachineState s = InData(STATUS_WAIT_DATA_REQ, row.next);
    s.lastPacketIsPadding = row.padding;
    ProtocolMachine m = Machine(s);
    m.Step(Input::Reply(0xEB));
    EXPECT_EQ(m.Next().byte, CMD_TERMINATE_ANSWER);
    m.Step(Input::Of(In::Sent));
    const Outcome outcome = m.Finish();
    EXPECT_EQ(outcome.kind, row.success ? OutcomeKind::Success : OutcomeKind::Failed);
  }
  // An empty payload: its only packet is padding, and the header's acceptance is enough.
  MachineState empty = InData(STATUS_WAIT_DATA_REQ, 0);
  empty.lastPacketIndex = 0;
  empty.lastPacketIsPadding = true;
  ProtocolMachine m = Machine(empty);
  m.Step(Input::Reply(0xEB));
  m.Step(Input::Of(In::Sent));
  EXPECT_EQ(m.Finish().kind, OutcomeKind::Success);
}

TEST(ProtocolMachineTest, LineLostWhileAnsweringTheSuccessTerminateKeepsTheSuccess) {
  MachineState answering = At(STATUS_SEND_SUCCESS_TERMINATE_ACK);  // the awaited 0xEB came
  ProtocolMachine m = Machine(answering);
  m.Step(Input::Of(In::LineLost));
  const Outcome outcome = m.Finish();
  EXPECT_EQ(outcome.kind, OutcomeKind::Success);
  EXPECT_EQ(outcome.message, "Download end successfully.");
  EXPECT_NE(outcome.detail.find("already said it stored the image"), std::string::npos);

  // The first file of a pair is not done: its second file cannot go.
  MachineState chaining = answering;
  chaining.kind = IMAGE_FIRST;
  ProtocolMachine pair = Machine(chaining);
  pair.Step(Input::Of(In::LineLost));
  EXPECT_EQ(pair.Finish().reason, FailureReason::AdapterDisconnected);
}

TEST(ProtocolMachineTest, FinishGivesTheOutcomeAndGoesIdle) {
  struct Row {
    const char* label;
    MachineState from;
    OutcomeKind kind;
    FailureReason reason;
    const char* message;
  };
  MachineState ended = At(STATUS_END);
  MachineState irdFailed = At(STATUS_ERREND);
  MachineState stoppedAfterSuccessRequest = At(STATUS_SEND_SUCCESS_TERMINATE_ACK);
  stoppedAfterSuccessRequest.reportedState = STATUS_END;
  MachineState stopped = PacketInFlight(1);
  const Row rows[] = {
      {"success", ended, OutcomeKind::Success, FailureReason::None, "Download end successfully."},
      {"the IRD's failure terminate", irdFailed, OutcomeKind::Failed,
       FailureReason::IrdReportedFailure, "Download Fail."},
      {"stopped after the success request", stoppedAfterSuccessRequest, OutcomeKind::Success,
       FailureReason::None, "Download end successfully."},
      {"stopped mid-transfer", stopped, OutcomeKind::Stopped, FailureReason::None, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    MachineState from = row.from;
    from.kind = IMAGE_FIRST;
    ProtocolMachine m = Machine(from);
    const Outcome outcome = m.Finish();
    EXPECT_EQ(outcome.kind, row.kind);
    EXPECT_EQ(outcome.reason, row.reason);
    EXPECT_EQ(outcome.message, row.message);
    EXPECT_TRUE(m.idle());
    EXPECT_EQ(m.state().reportedState, STATUS_IDLE);
    EXPECT_EQ(m.state().kind, IMAGE_NONE);
    EXPECT_EQ(m.state().retryCount, 0);
    EXPECT_EQ(m.Next().kind, Kind::None);
  }
}

}  // namespace
}  // namespace irdload
