// What the engine tells its front ends, as plain values: the dialog turns them into its fields,
// the command line into a progress line and an exit code, JSON output and unit records into
// their own forms. The system's texts travel inside them for display; nobody parses them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "engine/DownloadState.h"
#include "engine/Sha256.h"
#include "serial/OpenFailureReason.h"

namespace irdload {

/// How a download ended.
enum class OutcomeKind {
  Success,         ///< the IRD's success terminate, every packet accepted
  Failed,          ///< the IRD's failure terminate, or a transfer the PC had to end
  NoResponse,      ///< the IRD stopped answering (retry limit, connect timeout)
  PortOpenFailed,  ///< the port did not open and the engine was told not to keep calling
  FileRefused,     ///< a start did not happen: no file, or one that cannot be sent
  Stopped,         ///< the front end ended it
};

/// Why a transfer ended as failed.
enum class FailureReason {
  None,
  IrdReportedFailure,   ///< the IRD's failure terminate (0xEC)
  OutOfStep,            ///< the two ends disagree on where the transfer stands
  HeaderRejected,       ///< the IRD rejected the header too often in a row
  PacketRejected,       ///< the IRD rejected one packet too often in a row
  SecondFileNotLoaded,  ///< the pair's second file could not be loaded
  AdapterDisconnected,  ///< the port reported a hang-up or an I/O error
  AnswersNotHeard,      ///< the IRD kept repeating a reply: it does not hear the PC's answers
};

/// Where a download stands, for front ends that show a phase rather than a state.
enum class Phase : std::uint8_t {
  Connecting,   ///< connect requests until the IRD acknowledges
  Header,       ///< the IRD answered: the connect re-acknowledge and the header
  Data,         ///< data packets
  Terminating,  ///< every packet is in: the terminate handshake
  Ended,        ///< the end states; the outcome follows
  Idle,
};

struct Outcome {
  OutcomeKind kind = OutcomeKind::Stopped;
  FailureReason reason = FailureReason::None;
  /// The system's text the operator was shown for it ("Download Fail."); empty when none.
  std::string message;
  /// What the PC knows beyond the message, worded for the operator; may be empty.
  std::string detail;
};

/// One pass of the worker through a state; `status` is its status-line text (empty for the end
/// states, which show none).
struct StateEntered {
  DownloadState state;
  Phase phase;
  std::string_view status;
};

/// The IRD acknowledged the connect request of file `file` (1, or 2 for a pair's second): a
/// receiver is on the line.
struct Connected {
  int file;
};

/// The IRD accepted the header of the file in flight.
struct HeaderAccepted {};

/// The IRD rejected the header; `inARow` counts its rejections in a row.
struct HeaderRejected {
  int inARow;
};

/// The IRD rejected packet `packet` (numbered from 0 in its file); `inARow` counts the rejections
/// of that packet in a row. The packet goes again.
struct PacketRejected {
  std::uint32_t packet;
  int inARow;
};

/// The IRD sent again a reply that the PC had already answered (its answer was lost or late),
/// and the PC answered it again with the same byte; nothing else changed.
struct RepeatAnswered {
  std::uint8_t reply;
  std::uint8_t answer;
};

/// Bytes were waiting when the PC was about to write: the IRD only answers what the PC sends, so
/// they are a late repeat or noise, and were dropped unread.
struct StaleBytesDropped {
  std::uint32_t count;
};

/// The reply awaited (`awaited`) had not come once the line time of the bytes written and the
/// reply bound had passed. Counted once per awaited reply; not while calling the IRD.
struct ReplyLate {
  std::uint8_t awaited;
};

/// A reply byte from the IRD, normalised (OR 0x20).
struct ReplyReceived {
  std::uint8_t reply;
};

/// The count of consecutive failed link steps, after every pass of a running download.
struct RetryCountShown {
  int retryCount;
};

/// A file's header passed its magic and size checks: its packet count is known.
struct ImageSized {
  std::uint32_t packets;
};

/// A file's type code was accepted; what the operator sees of it before the payload is read.
struct ImageAccepted {
  std::string path;
  ImageKind kind;
  std::uint32_t typeCode;
  std::uint32_t payloadSize;
  std::uint32_t packets;
  std::uint64_t estimateSeconds;
};

/// A file is in memory, ready to go: what was loaded, for checks and records.
struct ImageLoaded {
  std::string path;
  std::uint32_t payloadSize;
  Sha256Digest sha256;  ///< of the whole file as loaded: header and payload
};

/// After each data packet sent. `packetIndex` is the next packet number, which wraps to 0 after
/// the last packet; `packetsDone` counts the packets sent of this file and does not wrap.
struct ProgressMade {
  std::uint32_t packetIndex;
  std::uint32_t packetsDone;
  std::uint32_t packets;
  std::uint64_t bytesDone;
  std::uint64_t bytes;
};

/// The connect re-acknowledge went out: the elapsed clock starts from zero (once per file).
struct ClockStarted {};
/// The download finished or was stopped: the elapsed clock stops.
struct ClockStopped {};

struct PortOpened {
  std::string name;
};

struct PortOpenFailed {
  std::string name;
  std::string message;  ///< "<name> Open Error!"
  std::string detail;   ///< the operating system's reason, worded in English
  /// The same reason as values, for a front end that words it in the operator's language.
  OpenFailureReason reason = {};
};

/// What the line did during one download, counted by the engine: the facts a record keeps.
struct LinkCounts {
  std::uint32_t rejections = 0;   ///< headers and packets the IRD rejected (0xE5, 0xE9)
  std::uint32_t repeats = 0;      ///< replies the IRD repeated, answered again
  std::uint32_t lateReplies = 0;  ///< replies not there within the line time and the bound
  std::uint32_t staleBytes = 0;   ///< bytes dropped before a write
  /// Every step the retry counter counted (a wait without a reply, an unexpected reply, a failed
  /// write), summed over the download; the counter itself goes back to 0 at every good step.
  std::uint32_t failedSteps = 0;
};

/// The end of a download, or of a start that did not happen (FileRefused).
struct DownloadEnded {
  Outcome outcome;
  LinkCounts counts;
};

using EngineEvent =
    std::variant<StateEntered, ReplyReceived, RetryCountShown, ImageSized, ImageAccepted,
                 ImageLoaded, ProgressMade, ClockStarted, ClockStopped, PortOpened, PortOpenFailed,
                 DownloadEnded, Connected, HeaderAccepted, HeaderRejected, PacketRejected,
                 RepeatAnswered, StaleBytesDropped, ReplyLate>;

/// Short stable names, for logs and machine-readable output.
std::string_view OutcomeName(OutcomeKind kind);
std::string_view FailureReasonName(FailureReason reason);
/// "connecting", "header", "data", "terminating", "ended", "idle".
std::string_view PhaseName(Phase phase);

}  // namespace irdload
