#include "engine/ProtocolMachine.h"

#include <iterator>

#include "engine/Link.h"

namespace irdload {
namespace {

// What a state's pass does.
enum class Do : std::uint8_t {
  Send,         // send `byte`
  SendHeader,   // send the 64-byte header
  SendPacket,   // send data packet packetIndex
  Await,        // await `byte`
  SendOrChain,  // the first file of a pair chains its second file; any other answers with `byte`
  Finish,       // end the download
  Nothing,      // idle
};

// The transition table: each state's status line, its action, where it goes when the action
// succeeds, and the phase of the download it belongs to. Replies other than the one awaited are
// looked up in kRepeatRule, then kStrictRules, then kAlternativeReplies.
struct StateRow {
  DownloadState state;
  std::string_view status;
  Do action;
  std::uint8_t byte;
  DownloadState next;
  Phase phase;
};

constexpr StateRow kStateTable[] = {
    {STATUS_SEND_CONNECT_REQ, "Sending connect request", Do::Send, CMD_CONNECT_REQ,
     STATUS_WAIT_CONNECT_ACK, Phase::Connecting},
    // Any failure here goes back to the connect request.
    {STATUS_WAIT_CONNECT_ACK, "Waiting connect request ack", Do::Await, CMD_CONNECT_ACK,
     STATUS_SEND_CONNECT_RE_ACK, Phase::Connecting},
    // Its send starts the elapsed clock.
    {STATUS_SEND_CONNECT_RE_ACK, "Sending connect request re ack", Do::Send, CMD_CONNECT_RE_ACK,
     STATUS_WAIT_HEADER_REQ, Phase::Header},
    {STATUS_WAIT_HEADER_REQ, "Waiting header request", Do::Await, CMD_HEADER_REQ,
     STATUS_SEND_HEADER, Phase::Header},
    // Goes on to the next state also when the write fails.
    {STATUS_SEND_HEADER, "Sending header request", Do::SendHeader, 0, STATUS_WAIT_HEADER_ACK,
     Phase::Header},
    {STATUS_WAIT_HEADER_ACK, "Waiting header ACK", Do::Await, CMD_HEADER_ACK,
     STATUS_SEND_HEADER_ACK, Phase::Header},
    {STATUS_SEND_HEADER_ACK, "Sending header transfer ACK", Do::Send, CMD_HEADER_ANSWER,
     STATUS_WAIT_DATA_REQ, Phase::Header},
    {STATUS_SEND_HEADER_NACK, "Sending header transfer NACK", Do::Send, CMD_HEADER_ANSWER,
     STATUS_WAIT_HEADER_REQ, Phase::Header},
    {STATUS_WAIT_DATA_REQ, "Waiting data request", Do::Await, CMD_DATA_REQ, STATUS_SEND_DATA,
     Phase::Data},
    // Goes on to the next state also when the write fails.
    {STATUS_SEND_DATA, "Sendig data packet", Do::SendPacket, 0, STATUS_WAIT_DATA_ACK, Phase::Data},
    {STATUS_WAIT_DATA_ACK, "Waiting data ACK", Do::Await, CMD_DATA_ACK, STATUS_SEND_DATA_ACK,
     Phase::Data},
    // After the file's last packet the row below is kAfterLastPacket instead.
    {STATUS_SEND_DATA_ACK, "Sending data transfer ACK", Do::Send, CMD_DATA_ANSWER,
     STATUS_WAIT_DATA_REQ, Phase::Data},
    {STATUS_SEND_DATA_NACK, "Sending data transfer NACK", Do::Send, CMD_DATA_ANSWER,
     STATUS_WAIT_DATA_REQ, Phase::Data},
    {STATUS_WAIT_TERMINATE_REQ, "Waiting terminate request", Do::Await, CMD_TERMINATE_OK,
     STATUS_SEND_SUCCESS_TERMINATE_ACK, Phase::Terminating},
    // For the first file of a pair: the second file instead of the answer, then the connect
    // request (or the end as failed when it cannot be loaded).
    {STATUS_SEND_SUCCESS_TERMINATE_ACK, "Sending success terminate ACK", Do::SendOrChain,
     CMD_TERMINATE_ANSWER, STATUS_END, Phase::Terminating},
    {STATUS_SEND_FAIL_TERMINATE_ACK, "Sending fail terminate ACK", Do::Send, CMD_TERMINATE_ANSWER,
     STATUS_ERREND, Phase::Terminating},
    {STATUS_END, "", Do::Finish, 0, STATUS_IDLE, Phase::Ended},
    {STATUS_ERREND, "", Do::Finish, 0, STATUS_IDLE, Phase::Ended},
    {STATUS_IDLE, "", Do::Nothing, 0, STATUS_IDLE, Phase::Idle},
};
static_assert(std::size(kStateTable) == STATUS_IDLE + 1);

constexpr StateRow kAfterLastPacket = {
    STATUS_SEND_DATA_ACK, "Please wait for saving",  Do::Send,
    CMD_DATA_ANSWER,      STATUS_WAIT_TERMINATE_REQ, Phase::Data};

const StateRow& RowOf(DownloadState state, bool lastPacketSent) {
  if (state == STATUS_SEND_DATA_ACK && lastPacketSent) return kAfterLastPacket;
  return kStateTable[state];
}

// A reply other than the one awaited still moves the machine (and counts as an answer, with
// retryCount back to 0) when it stands here. Any other byte is a failed await.
struct AlternativeRow {
  std::uint8_t reply;
  DownloadState next;
  DownloadState reported;  // STATUS_IDLE: reportedState unchanged
};

// A data acknowledge other than the awaited one has no row: the strict rules end the transfer for
// every 0xE8 that does not answer a packet in flight, and the one that does is the awaited reply.
constexpr AlternativeRow kAlternativeReplies[] = {
    {CMD_CONNECT_ACK, STATUS_WAIT_HEADER_REQ, STATUS_IDLE},
    {CMD_HEADER_ACK, STATUS_SEND_HEADER_ACK, STATUS_IDLE},
    {CMD_HEADER_NACK, STATUS_SEND_HEADER_NACK, STATUS_IDLE},
    {CMD_DATA_REQ, STATUS_SEND_DATA, STATUS_IDLE},
    // The packet just sent goes again: packetIndex steps back (CountAnswer).
    {CMD_DATA_NACK, STATUS_SEND_DATA_NACK, STATUS_IDLE},
    {CMD_TERMINATE_OK, STATUS_SEND_SUCCESS_TERMINATE_ACK, STATUS_END},
    {CMD_TERMINATE_FAIL, STATUS_SEND_FAIL_TERMINATE_ACK, STATUS_ERREND},
};

// The replies the PC answers with one command byte, by the state that sends the answer. The same
// reply arriving again while the PC waits for what its answer asked for is the IRD repeating
// itself because the answer was lost or late: the PC answers again with the same byte and changes
// nothing else, so a repeated rejection never steps a packet back twice. A chained second file's
// connect request answers the first file's success terminate the same way (see Step). Requests
// the PC answers with data (0xE3, 0xE7) have no row: bytes of the header or packet may have been
// lost, and the strict rules decide.
struct RepeatRow {
  DownloadState answeringState;
  std::uint8_t reply;
};

constexpr RepeatRow kRepeatRule[] = {
    {STATUS_SEND_CONNECT_RE_ACK, CMD_CONNECT_ACK},  // answered 0xEF
    {STATUS_SEND_HEADER_ACK, CMD_HEADER_ACK},       // answered 0xE6
    {STATUS_SEND_HEADER_NACK, CMD_HEADER_NACK},     // answered 0xE6
    {STATUS_SEND_DATA_ACK, CMD_DATA_ACK},           // answered 0xEA
    {STATUS_SEND_DATA_NACK, CMD_DATA_NACK},         // answered 0xEA
};

// Where the PC cannot know what the IRD stored, it ends the transfer instead of guessing: the
// line carries no packet numbers and the PC answers acceptance and rejection with the same byte,
// so a reply that does not fit what the PC has sent means the two ends may no longer agree on
// which packet goes where. These rules are looked at first, in order, for every reply.
enum class When : std::uint8_t {
  NotEveryPayloadByteAccepted,
  NoPacketAwaitingAnswer,
  PacketAwaitingAnswer,
  NoHeaderAwaitingAnswer,
  HeaderNotAccepted,
  EveryPacketAccepted,
};

enum class Verdict : std::uint8_t {
  AnswerThenFail,  // answer the terminate request (0xED), then end as failed
  Fail,            // end as failed at once
};

struct StrictRule {
  std::uint8_t reply;
  When when;
  Verdict verdict;
  const char* detail;
};

constexpr StrictRule kStrictRules[] = {
    // A success terminate request with a payload byte not yet accepted: the IRD waits for an
    // answer, but what it holds is not the image. (A last packet that carries no payload byte
    // need not be accepted: an IRD that counts by payload bytes never asks for it.)
    {CMD_TERMINATE_OK, When::NotEveryPayloadByteAccepted, Verdict::AnswerThenFail,
     "The IRD asked to end the transfer before it had accepted every packet: the image on the "
     "IRD may be incomplete."},
    // An answer to a packet or header the PC is not waiting on: the real reply was lost or
    // changed on the line, and what the IRD did with the last unit cannot be known.
    {CMD_DATA_ACK, When::NoPacketAwaitingAnswer, Verdict::Fail,
     "The IRD answered a packet that was not awaiting an answer: the two ends are out of step "
     "and the image on the IRD may be incomplete."},
    {CMD_DATA_NACK, When::NoPacketAwaitingAnswer, Verdict::Fail,
     "The IRD rejected a packet that was not awaiting an answer: the two ends are out of step "
     "and the image on the IRD may be incomplete."},
    {CMD_HEADER_ACK, When::NoHeaderAwaitingAnswer, Verdict::Fail,
     "The IRD accepted a header that was not awaiting an answer: the two ends are out of step."},
    {CMD_HEADER_NACK, When::NoHeaderAwaitingAnswer, Verdict::Fail,
     "The IRD rejected a header that was not awaiting an answer: the two ends are out of step."},
    // A request while a packet awaits its answer: whether the IRD stored that packet cannot be
    // known, so neither it nor the next one can safely go.
    {CMD_DATA_REQ, When::PacketAwaitingAnswer, Verdict::Fail,
     "The IRD asked for more data before it answered the packet in flight: whether it stored "
     "that packet cannot be known, so the image on the IRD may be incomplete."},
    {CMD_CONNECT_ACK, When::PacketAwaitingAnswer, Verdict::Fail,
     "The IRD sent a connect acknowledge instead of answering the packet in flight: whether it "
     "stored that packet cannot be known, so the image on the IRD may be incomplete."},
    // Data requests the IRD cannot mean: never send a packet it cannot be expecting.
    {CMD_DATA_REQ, When::HeaderNotAccepted, Verdict::Fail,
     "The IRD asked for data before it had accepted the header."},
    {CMD_DATA_REQ, When::EveryPacketAccepted, Verdict::Fail,
     "The IRD asked for more data after it had accepted every packet of the image."},
};

}  // namespace

std::string_view ProtocolMachine::StatusText(DownloadState state, bool lastPacketSent) {
  return RowOf(state, lastPacketSent).status;
}

Phase ProtocolMachine::PhaseOf(DownloadState state) {
  return kStateTable[state].phase;
}

void ProtocolMachine::Begin(std::uint32_t lastPacketIndex, bool lastPacketIsPadding) {
  s_.state = STATUS_SEND_CONNECT_REQ;
  s_.retryCount = 0;
  s_.packetIndex = 0;
  s_.lastPacketIndex = lastPacketIndex;
  s_.lastPacketIsPadding = lastPacketIsPadding;
  ++s_.file;
  s_.headerAwaitingAnswer = false;
  s_.headerAccepted = false;
  s_.packetAwaitingAnswer = false;
  s_.allPacketsAccepted = false;
  s_.headerRejections = 0;
  s_.packetRejections = 0;
  s_.answeredReply = 0;
  s_.answer = 0;
  s_.answeredIn = STATUS_IDLE;
  s_.answerAgain = false;
  s_.repeatsInARow = 0;
  s_.connecting = true;
  s_.noResponse = false;
  s_.failure = FailureReason::None;
  s_.failureDetail.clear();
}

Action ProtocolMachine::Next() const {
  Action action;
  if (s_.answerAgain) {
    // The IRD repeated a reply: its answer goes again, shown as the state that sent it.
    action.kind = Action::Kind::SendCommand;
    action.byte = s_.answer;
    action.state = s_.answeredIn;
    action.phase = PhaseOf(s_.state);
    action.status = StatusText(s_.answeredIn, s_.lastPacketSent);
    return action;
  }
  const StateRow& row = RowOf(s_.state, s_.lastPacketSent);
  action.state = s_.state;
  action.phase = row.phase;
  action.status = row.status;
  switch (row.action) {
    case Do::Send:
      action.kind = Action::Kind::SendCommand;
      action.byte = row.byte;
      break;
    case Do::SendHeader:
      action.kind = Action::Kind::SendHeader;
      break;
    case Do::SendPacket:
      action.kind = Action::Kind::SendPacket;
      action.packet = s_.packetIndex;
      break;
    case Do::Await:
      action.kind = Action::Kind::AwaitReply;
      action.byte = row.byte;
      break;
    case Do::SendOrChain:
      action.kind =
          s_.kind == IMAGE_FIRST ? Action::Kind::LoadSecondFile : Action::Kind::SendCommand;
      action.byte = row.byte;
      break;
    case Do::Finish:
      action.kind = Action::Kind::Finish;
      break;
    case Do::Nothing:
      break;
  }
  return action;
}

StepReport ProtocolMachine::Step(const Input& input) {
  StepReport report;
  if (s_.state == STATUS_IDLE) return report;
  const StateRow& row = RowOf(s_.state, s_.lastPacketSent);
  if (input.kind == Input::Kind::LineLost) {
    if (s_.state == STATUS_SEND_SUCCESS_TERMINATE_ACK && !s_.answerAgain &&
        s_.kind != IMAGE_FIRST) {
      // Only the IRD's success terminate after every payload byte was accepted leads here: it
      // has said it stored the image, and only the PC's closing answer was cut off.
      s_.state = STATUS_END;
      s_.reportedState = STATUS_END;
      s_.retryCount = 0;
      s_.failureDetail =
          "The line was lost while the PC answered the IRD's success terminate request; the IRD "
          "had already said it stored the image.";
      return report;
    }
    Fail(FailureReason::AdapterDisconnected, "the serial adapter was disconnected");
    return report;
  }
  if (s_.answerAgain) {
    // The answer to a repeated reply: nothing moves but the write itself.
    s_.answerAgain = false;
    if (input.kind != Input::Kind::Sent) FailedStep(report);
    return report;
  }
  // Every pass through the connect request clears it, whatever becomes of the send.
  if (s_.state == STATUS_SEND_CONNECT_REQ) s_.lastPacketSent = false;
  switch (row.action) {
    case Do::Await:
      if (input.kind == Input::Kind::Reply) {
        const std::uint8_t reply = NormaliseReply(input.byte);
        report.reply = reply;
        OnReply(reply, report);
      } else {
        FailedStep(report);
      }
      break;
    case Do::Send:
    case Do::SendHeader:
    case Do::SendPacket:
    case Do::SendOrChain:
      OnSend(input, report);
      break;
    case Do::Finish:
    case Do::Nothing:
      break;
  }
  if (s_.state != STATUS_IDLE && s_.retryCount > limits_.retryLimit) {
    // reportedState is left alone, so the end shows no second message.
    s_.state = STATUS_ERREND;
    s_.noResponse = true;
    report.noResponse = true;
  }
  return report;
}

void ProtocolMachine::OnSend(const Input& input, StepReport& report) {
  const bool sent = input.kind == Input::Kind::Sent;
  switch (s_.state) {
    case STATUS_SEND_HEADER:
      // A new header starts the file afresh on the IRD: packets count from 0 again.
      s_.state = STATUS_WAIT_HEADER_ACK;
      s_.headerAwaitingAnswer = true;
      s_.headerAccepted = false;
      if (!sent) {
        FailedStep(report);
        return;
      }
      s_.retryCount = 0;
      s_.packetIndex = 0;
      s_.packetAwaitingAnswer = false;
      s_.allPacketsAccepted = false;
      s_.packetRejections = 0;
      return;
    case STATUS_SEND_DATA:
      s_.state = STATUS_WAIT_DATA_ACK;
      if (!sent) {
        FailedStep(report);
        return;
      }
      s_.retryCount = 0;
      s_.packetAwaitingAnswer = true;
      s_.lastPacketSent = s_.packetIndex == s_.lastPacketIndex;
      s_.packetIndex = s_.lastPacketSent ? 0 : s_.packetIndex + 1;
      report.packetSent = true;
      return;
    case STATUS_SEND_SUCCESS_TERMINATE_ACK:
      // The chained start has already set the kind of the file it loaded.
      if (input.kind == Input::Kind::SecondFileLoaded) {
        Begin(input.lastPacketIndex, input.lastPacketIsPadding);
        // The second file's connect request is the PC's answer to the first file's success
        // terminate: a repeat of that terminate request is answered with another call.
        s_.answeredReply = CMD_TERMINATE_OK;
        s_.answer = CMD_CONNECT_REQ;
        s_.answeredIn = STATUS_SEND_CONNECT_REQ;
        return;
      }
      if (input.kind == Input::Kind::SecondFileRefused) {
        Fail(FailureReason::SecondFileNotLoaded,
             "The second file of the pair could not be loaded; the IRD holds only the first "
             "file.");
        return;
      }
      break;
    default:
      break;
  }
  if (!sent) {
    FailedStep(report);
    return;
  }
  const StateRow& row = RowOf(s_.state, s_.lastPacketSent);
  if (row.byte == CMD_CONNECT_RE_ACK) report.clockStarted = true;
  NoteAnswerSent(s_.state, row.byte);
  Succeed(row.next);
}

void ProtocolMachine::NoteAnswerSent(DownloadState sendState, std::uint8_t byte) {
  for (const RepeatRow& rule : kRepeatRule) {
    if (rule.answeringState != sendState) continue;
    s_.answeredReply = rule.reply;
    s_.answer = byte;
    s_.answeredIn = sendState;
    return;
  }
}

void ProtocolMachine::OnReply(std::uint8_t reply, StepReport& report) {
  if (ApplyRepeatRule(reply, report)) return;
  // Anything else closes the window in which a repeat could come: the IRD has moved on.
  s_.answeredReply = 0;
  s_.repeatsInARow = 0;
  if (ApplyStrictRules(reply)) return;
  const StateRow& row = RowOf(s_.state, s_.lastPacketSent);
  CountAnswer(reply, report);
  if (s_.state == STATUS_ERREND) return;  // a rejection limit ended it
  if (reply == row.byte) {
    if (s_.state == STATUS_WAIT_CONNECT_ACK) report.connected = true;
    Succeed(row.next);
    return;
  }
  for (const AlternativeRow& alt : kAlternativeReplies) {
    if (alt.reply != reply) continue;
    s_.state = alt.next;
    if (alt.reported != STATUS_IDLE) s_.reportedState = alt.reported;
    s_.retryCount = 0;
    return;
  }
  FailedStep(report);
}

bool ProtocolMachine::ApplyRepeatRule(std::uint8_t reply, StepReport& report) {
  if (s_.answeredReply == 0 || reply != s_.answeredReply) return false;
  // Until the IRD asks for the header the PC calls until stopped (or the connect timeout), as
  // it does for an IRD that never answers.
  if (!s_.connecting && ++s_.repeatsInARow > limits_.repeatLimit) {
    Fail(FailureReason::AnswersNotHeard,
         "The IRD repeated its reply " + std::to_string(s_.repeatsInARow) +
             " times in a row: it does not hear the PC's answers (check the cable's line from "
             "the PC to the IRD).");
    return true;
  }
  s_.answerAgain = true;
  report.repeat = RepeatAnswered{reply, s_.answer};
  return true;
}

bool ProtocolMachine::EveryPayloadByteAccepted() const {
  if (s_.allPacketsAccepted) return true;
  // Only an all-padding last packet left: every packet before it accepted, none in flight.
  return s_.lastPacketIsPadding && s_.headerAccepted && !s_.packetAwaitingAnswer &&
         !s_.lastPacketSent && s_.packetIndex == s_.lastPacketIndex;
}

bool ProtocolMachine::ApplyStrictRules(std::uint8_t reply) {
  for (const StrictRule& rule : kStrictRules) {
    if (rule.reply != reply) continue;
    bool applies = false;
    switch (rule.when) {
      case When::NotEveryPayloadByteAccepted:
        applies = !EveryPayloadByteAccepted();
        break;
      case When::NoPacketAwaitingAnswer:
        applies = !s_.packetAwaitingAnswer;
        break;
      case When::PacketAwaitingAnswer:
        applies = s_.packetAwaitingAnswer;
        break;
      case When::NoHeaderAwaitingAnswer:
        applies = !s_.headerAwaitingAnswer;
        break;
      case When::HeaderNotAccepted:
        applies = !s_.headerAccepted;
        break;
      case When::EveryPacketAccepted:
        applies = s_.allPacketsAccepted;
        break;
    }
    if (!applies) continue;
    Fail(FailureReason::OutOfStep, rule.detail);
    if (rule.verdict == Verdict::AnswerThenFail) s_.state = STATUS_SEND_FAIL_TERMINATE_ACK;
    return true;
  }
  return false;
}

// What an answer to the header or a packet tells the PC, whether it was awaited or not.
void ProtocolMachine::CountAnswer(std::uint8_t reply, StepReport& report) {
  switch (reply) {
    case CMD_HEADER_ACK:
      s_.headerAwaitingAnswer = false;
      s_.headerAccepted = true;
      s_.headerRejections = 0;
      report.headerAccepted = true;
      return;
    case CMD_HEADER_NACK:
      s_.headerAwaitingAnswer = false;
      report.headerRejected = ++s_.headerRejections;
      if (s_.headerRejections > limits_.rejectLimit) {
        Fail(FailureReason::HeaderRejected,
             "The IRD rejected the header " + std::to_string(s_.headerRejections) +
                 " times in a row: this upgrade may not be meant for this receiver.");
      }
      return;
    case CMD_DATA_ACK:
      s_.packetAwaitingAnswer = false;
      s_.packetRejections = 0;
      if (s_.lastPacketSent) s_.allPacketsAccepted = true;
      return;
    case CMD_DATA_NACK:
      s_.packetAwaitingAnswer = false;
      // The rejected packet goes again; after the last one the index has wrapped to 0.
      if (s_.lastPacketSent) {
        s_.packetIndex = s_.lastPacketIndex;
      } else if (s_.packetIndex > 0) {
        --s_.packetIndex;
      }
      ++s_.packetRejections;
      report.packetRejected = StepReport::Rejection{s_.packetIndex, s_.packetRejections};
      if (s_.packetRejections > limits_.rejectLimit) {
        Fail(FailureReason::PacketRejected,
             "The IRD rejected the same packet " + std::to_string(s_.packetRejections) +
                 " times in a row: the line is too noisy or out of step.");
      }
      return;
    default:
      return;
  }
}

void ProtocolMachine::Succeed(DownloadState next) {
  if (next == STATUS_SEND_HEADER) s_.connecting = false;
  s_.state = next;
  s_.reportedState = next;
  s_.retryCount = 0;
}

void ProtocolMachine::FailedStep(StepReport& report) {
  ++s_.retryCount;
  report.failedStep = true;
  if (s_.state == STATUS_WAIT_CONNECT_ACK) s_.state = STATUS_SEND_CONNECT_REQ;
}

void ProtocolMachine::Fail(FailureReason reason, std::string detail) {
  s_.state = STATUS_ERREND;
  s_.reportedState = STATUS_ERREND;
  s_.retryCount = 0;
  s_.answerAgain = false;
  s_.failure = reason;
  s_.failureDetail = std::move(detail);
}

void ProtocolMachine::GiveUp(std::string detail) {
  s_.state = STATUS_ERREND;
  s_.answerAgain = false;
  s_.noResponse = true;
  s_.failureDetail = std::move(detail);
}

Outcome ProtocolMachine::Finish() {
  Outcome outcome;
  if (s_.reportedState == STATUS_END) {
    outcome = {OutcomeKind::Success, FailureReason::None, "Download end successfully.",
               s_.failureDetail};
  } else if (s_.reportedState == STATUS_ERREND) {
    const FailureReason reason =
        s_.failure == FailureReason::None ? FailureReason::IrdReportedFailure : s_.failure;
    outcome = {OutcomeKind::Failed, reason, "Download Fail.", s_.failureDetail};
  } else if (s_.noResponse) {
    outcome = {OutcomeKind::NoResponse, FailureReason::None, "IRD No response: Retry download.",
               s_.failureDetail};
  }
  // lastPacketSent is the connect request's to clear, not the end's.
  const bool lastPacketSent = s_.lastPacketSent;
  s_ = MachineState{};
  s_.lastPacketSent = lastPacketSent;
  return outcome;
}

std::uint32_t ProtocolMachine::packetsDone() const {
  return s_.lastPacketSent ? s_.lastPacketIndex + 1 : s_.packetIndex;
}

}  // namespace irdload
