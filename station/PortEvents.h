// What a station tells its front end, port by port, as plain values: the phases a port goes
// through, each unit's start, progress and end, and the engine's messages. Each port posts into
// its own mailbox, so ports never wait on one another; the front end drains every mailbox when
// the shared wake-up descriptor says there is something new, or on its own redraw tick.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/Events.h"

namespace irdload::station {

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

struct PhaseChanged {
  PortPhase phase;
  std::string status;  ///< the engine's status line, when the engine set the phase
  std::string detail;  ///< why, for the waiting and halted phases
};

/// A unit's attempt began: the port is open and calls the IRD.
struct UnitStarted {
  std::uint32_t unit;  ///< 1, 2, ... on this port
  int attempt;         ///< 1, then 2... for --retries
  std::string unitId;
  std::string device;  ///< what the port's path led to
};

struct ProgressShown {
  std::uint32_t unit;
  int file;  ///< 1, or 2 for the pair's second file
  std::uint32_t packetsDone, packets;
  std::uint64_t bytesDone, bytes;
  int retries;  ///< failed link steps so far in this attempt
};

/// A message the engine would show in a box; nobody has to answer it.
struct MessageShown {
  std::string text, detail;
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
  std::string record;  ///< the record's path; empty without --report or when not counted
};

/// The port's loop has ended.
struct PortFinished {
  std::uint32_t ok, failed;
  bool halted;
};

using PortEventBody =
    std::variant<PhaseChanged, UnitStarted, ProgressShown, MessageShown, UnitEnded, PortFinished>;

struct PortEvent {
  std::size_t port;
  std::chrono::system_clock::time_point time;
  PortEventBody body;
};

/// A port's row as a table shows it.
struct PortSnapshot {
  PortPhase phase = PortPhase::WaitingForAdapter;
  std::string status, detail;
  std::uint32_t unit = 0;
  int file = 0;
  std::uint32_t packetsDone = 0, packets = 0;
  std::uint64_t bytesDone = 0, bytes = 0;
  std::chrono::steady_clock::time_point transferSince{};  ///< when the header phase began
  std::uint32_t ok = 0, failed = 0;
  bool finished = false;
};

/// How fast a port's transfer goes, for tables and tiles: bytes a second since the header phase
/// began (0 while moving, for the first half second, and while nothing moves), and the time the
/// file's remaining bytes take at that rate (negative when unknown).
struct TransferPace {
  double bytesPerSecond = 0;
  double secondsLeft = -1;
};
TransferPace PaceOf(const PortSnapshot& row, std::chrono::steady_clock::time_point now);

/// One port's outbox. Post is called by that port's threads only; the front end drains.
class PortMailbox {
 public:
  /// `wakeFd`: an eventfd written whenever an event other than progress is posted; -1: none.
  PortMailbox(std::size_t port, int wakeFd) : port_(port), wakeFd_(wakeFd) {}

  void Post(PortEventBody body);
  /// Moves the waiting events to `out`, oldest first. Progress is coalesced: of several
  /// progress events in a row only the latest waits.
  void TakeInto(std::vector<PortEvent>& out);
  PortSnapshot Snapshot() const;

 private:
  void Apply(const PortEventBody& body);

  const std::size_t port_;
  const int wakeFd_;
  mutable std::mutex mu_;
  std::deque<PortEvent> events_;
  PortSnapshot snapshot_;
};

}  // namespace irdload::station
