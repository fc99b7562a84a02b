// The download protocol as a pure state machine: the whole download state in, one action out.
// No port, no thread, no clock, no front end: the worker performs each action on the port and
// feeds back what happened, so every rule of the protocol can be read, and tested, here alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/DownloadState.h"
#include "engine/Events.h"

namespace irdload {

/// What one pass of the worker does.
struct Action {
  enum class Kind : std::uint8_t {
    None,            ///< idle: nothing to do
    SendCommand,     ///< write the command byte `byte`
    SendHeader,      ///< write the 64-byte header
    SendPacket,      ///< write data packet number `packet`
    AwaitReply,      ///< read one reply byte within the bound (`byte` is the one expected)
    LoadSecondFile,  ///< load the pair's second file and reopen the port
    Finish,          ///< end the download (ProtocolMachine::Finish gives the outcome)
  };
  Kind kind = Kind::None;
  std::uint8_t byte = 0;
  std::uint32_t packet = 0;
  /// The state this pass shows: the current one, or the answering state whose byte goes again
  /// when the IRD repeated a reply.
  DownloadState state = STATUS_IDLE;
  Phase phase = Phase::Idle;
  /// The status line of this pass; empty for the end states and idle.
  std::string_view status;
};

/// What happened when the worker performed an action.
struct Input {
  enum class Kind : std::uint8_t {
    Sent,               ///< the write reported success
    SendFailed,         ///< the write reported failure
    Reply,              ///< a byte arrived: `byte`, as received (not yet normalised)
    NoReply,            ///< nothing arrived within the bound
    LineLost,           ///< the port reported a hang-up or an I/O error
    SecondFileLoaded,   ///< the second file is loaded: `lastPacketIndex`
    SecondFileRefused,  ///< the second file could not be loaded; the operator has been told
  };
  Kind kind = Kind::NoReply;
  std::uint8_t byte = 0;
  std::uint32_t lastPacketIndex = 0;
  bool lastPacketIsPadding = false;  ///< SecondFileLoaded: its last packet carries no payload

  static Input Reply(std::uint8_t received) { return {Kind::Reply, received, 0, false}; }
  static Input Of(Kind kind) { return {kind, 0, 0, false}; }
};

/// What a step asks of the worker besides the next action, and the facts it learnt.
struct StepReport {
  std::optional<std::uint8_t> reply;  ///< a reply to show (normalised)
  bool packetSent = false;            ///< a data packet went out: progress moved
  bool clockStarted = false;          ///< the connect re-acknowledge went out
  bool noResponse = false;            ///< the retry limit was passed: tell the operator
  bool connected = false;             ///< the IRD acknowledged the connect request
  bool headerAccepted = false;
  std::optional<int> headerRejected;  ///< rejections in a row
  struct Rejection {
    std::uint32_t packet;
    int inARow;
  };
  std::optional<Rejection> packetRejected;
  /// The reply was a repeat of one already answered: its answer goes again at the next pass.
  std::optional<RepeatAnswered> repeat;
  bool failedStep = false;  ///< the retry counter counted this step
};

struct MachineLimits {
  /// More failed link steps in a row than this end the download.
  int retryLimit = 1500;
  /// More rejections of the header, or of one packet, in a row than this end the download: each
  /// rejection counts as a reply, so an IRD that rejects everything would be answered for ever.
  int rejectLimit = 50;
  /// More repeats of one reply in a row than this end the download: an IRD that repeats faster
  /// than the reply bound would otherwise never let the retry counter grow.
  int repeatLimit = 50;
};

/// The whole download state.
struct MachineState {
  DownloadState state = STATUS_IDLE;
  /// The state recorded for the end message: every successful send and expected reply stores
  /// its next state; the terminate requests store STATUS_END or STATUS_ERREND.
  DownloadState reportedState = STATUS_IDLE;
  ImageKind kind = IMAGE_NONE;
  std::uint32_t packetIndex = 0;  ///< the next packet to send
  std::uint32_t lastPacketIndex = 0;
  /// The file's last packet carries no payload byte (the size is a multiple of 1021, or 0).
  bool lastPacketIsPadding = false;
  int retryCount = 0;
  bool lastPacketSent = false;  ///< the packet sent last was the file's last one
  int file = 0;                 ///< 1, then 2 for a pair's second file

  // What the PC knows of the IRD beyond the counts (the line carries no packet numbers).
  bool headerAwaitingAnswer = false;
  bool headerAccepted = false;
  bool packetAwaitingAnswer = false;
  bool allPacketsAccepted = false;
  int headerRejections = 0;  ///< in a row
  int packetRejections = 0;  ///< of the packet in flight, in a row

  // The reply the PC last answered with one command byte, while the PC waits for what that answer
  // asks for: the same reply again is the IRD repeating itself (its answer was lost or late).
  std::uint8_t answeredReply = 0;  ///< normalised; 0: none
  std::uint8_t answer = 0;         ///< the byte that answered it
  DownloadState answeredIn = STATUS_IDLE;
  bool answerAgain = false;  ///< a repeat was heard: the next pass sends `answer` again
  int repeatsInARow = 0;

  /// The file's connect phase: from its connect request until the IRD asked for the header.
  bool connecting = false;
  bool noResponse = false;  ///< ended by the retry limit or the connect timeout
  FailureReason failure = FailureReason::None;
  /// What the operator should know beyond the end message: why it failed, or, for a success, a
  /// note such as a line lost after the IRD said it stored the image.
  std::string failureDetail;
};

class ProtocolMachine {
 public:
  explicit ProtocolMachine(MachineLimits limits = {}) : limits_(limits) {}
  /// Starts from a given state: for tests, which set up one row of a table at a time.
  ProtocolMachine(MachineState start, MachineLimits limits)
      : s_(std::move(start)), limits_(limits) {}

  /// A file's download begins at the connect request.
  void Begin(std::uint32_t lastPacketIndex, bool lastPacketIsPadding = false);
  /// The action of the current state: what the worker's next pass does.
  Action Next() const;
  /// Moves the machine by what came of the action Next() gave.
  StepReport Step(const Input& input);
  /// Ends the download: its outcome, then idle with the kind cleared.
  Outcome Finish();
  /// The PC cannot go on: end as "Download Fail." at the next pass, with the reason.
  void Fail(FailureReason reason, std::string detail);
  /// The IRD did not answer within the time the front end gives it: end with no response.
  void GiveUp(std::string detail);

  void SetKind(ImageKind kind) { s_.kind = kind; }
  const MachineState& state() const { return s_; }
  bool idle() const { return s_.state == STATUS_IDLE; }
  /// Packets of this file sent so far; unlike packetIndex it does not wrap after the last.
  std::uint32_t packetsDone() const;

  /// The status-line text of a state ("Sendig data packet", ...); empty for 16..18.
  static std::string_view StatusText(DownloadState state, bool lastPacketSent);
  /// Where a state stands in the download.
  static Phase PhaseOf(DownloadState state);

 private:
  void OnSend(const Input& input, StepReport& report);
  void OnReply(std::uint8_t reply, StepReport& report);
  bool ApplyRepeatRule(std::uint8_t reply, StepReport& report);
  bool ApplyStrictRules(std::uint8_t reply);
  bool EveryPayloadByteAccepted() const;
  void CountAnswer(std::uint8_t reply, StepReport& report);
  void NoteAnswerSent(DownloadState sendState, std::uint8_t byte);
  void Succeed(DownloadState next);
  void FailedStep(StepReport& report);

  MachineState s_;
  MachineLimits limits_;
};

}  // namespace irdload
