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
  std::string_view status;
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
  std::string detail;   ///< the operating system's reason
};

/// The end of a download, or of a start that did not happen (FileRefused).
struct DownloadEnded {
  Outcome outcome;
};

using EngineEvent = std::variant<StateEntered, ReplyReceived, RetryCountShown, ImageSized,
                                 ImageAccepted, ImageLoaded, ProgressMade, ClockStarted,
                                 ClockStopped, PortOpened, PortOpenFailed, DownloadEnded>;

/// Short stable names, for logs and machine-readable output.
std::string_view OutcomeName(OutcomeKind kind);
std::string_view FailureReasonName(FailureReason reason);

}  // namespace irdload
