// What a unit's run tells its front ends, as plain values: the phases a port goes through, each
// unit's start, progress and end, and the engine's messages. `send` and every station port post
// the same events; where they go (a station's subscribers, send's JSON lines) is the sink's
// business.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "engine/Events.h"

namespace irdload::unit {

enum class PortPhase {
  WaitingForAdapter,   ///< the device is not there (or did not open): waiting for it
  WaitingForNextUnit,  ///< a unit ended: waiting for what arms the next (Enter, replug, quiet)
  WaitingForUnitId,    ///< armed, waiting for the operator's unit id
  Calling,             ///< connect requests until the IRD answers
  SendingHeader,
  Transferring,
  Terminating,
  Done,    ///< the port has handled its units, or was stopped
  Halted,  ///< the port cannot go on (a file or the report folder failed)
};

/// Stable lower-case names ("waiting-for-adapter", "transferring", ...).
std::string_view PhaseName(PortPhase phase);
/// The phase in the operator's words, lower case ("calling the IRD", "loading", ...): the one
/// wording every front end shows.
std::string_view PhaseText(PortPhase phase);
/// The engine's phase of a download as a port's; nothing for the end and idle phases, which a
/// port shows by what it does next.
std::optional<PortPhase> PortPhaseOf(Phase phase);

struct PhaseChanged {
  PortPhase phase;
  std::string status;  ///< the engine's status line, when the engine set the phase
  std::string detail;  ///< why, for the waiting and halted phases
};

/// A unit's attempt began: the port is open and calls the IRD.
struct UnitStarted {
  std::uint32_t unit;  ///< 1, 2, ... on this port
  int attempt;         ///< 1, then 2... for retries
  std::string unitId;
  std::string device;  ///< what the port's path led to
};

struct ProgressShown {
  std::uint32_t unit;
  int file;  ///< 1, or 2 for the pair's second file
  std::uint32_t packetsDone, packets;
  std::uint64_t bytesDone, bytes;
  /// What the line did so far in this attempt, as the engine told it.
  std::uint32_t rejections, repeats, lateReplies;
};

/// A message the engine would show in a box; nobody has to answer it.
struct MessageShown {
  std::string text, detail;
  /// For a port that did not open: `detail`'s reason as values, for a front end that words it in
  /// the operator's language.
  std::optional<OpenFailureReason> openFailure = std::nullopt;
};

struct UnitEnded {
  std::uint32_t unit;
  int attempt;
  /// False when no IRD took part: the call was stopped, or the adapter went, before the IRD
  /// answered. Such an attempt is not a unit and leaves no record.
  bool counted;
  bool final;  ///< false when a retry follows
  Outcome outcome;
  int exitCode;  ///< the unit's exit code, as `send` would end with it
  std::string unitId;
  /// The record's path; empty without a report folder, when not counted, and when the record
  /// could not be written (then `recordError` says why).
  std::string record;
  std::string recordError;
  LinkCounts counts;  ///< what the line did in this attempt
};

/// The port's loop has ended.
struct PortFinished {
  std::uint32_t ok, failed;
  bool halted;
};

using PortEventBody =
    std::variant<PhaseChanged, UnitStarted, ProgressShown, MessageShown, UnitEnded, PortFinished>;

/// The port of an event that is the station's own, of no port (a message to the operator).
inline constexpr std::size_t kNoPort = static_cast<std::size_t>(-1);

struct PortEvent {
  std::size_t port;  ///< the port's index, or kNoPort
  std::chrono::system_clock::time_point time;
  PortEventBody body;
};

/// Where a unit's events go. Post is called from the port's threads (its loop and its engine's
/// worker), never two at once for one port.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Post(PortEventBody body) = 0;
};

}  // namespace irdload::unit
