// Each port posts its events into its own mailbox, so that ports never wait on one another; the
// front end drains every mailbox when the shared wake-up descriptor says there is something new,
// or on its own redraw tick. The mailbox also keeps the port's row as a table shows it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "unit/UnitEvents.h"

namespace irdload::station {

using unit::MessageShown;
using unit::PhaseChanged;
using unit::PhaseName;
using unit::PortEvent;
using unit::PortEventBody;
using unit::PortFinished;
using unit::PortPhase;
using unit::ProgressShown;
using unit::UnitEnded;
using unit::UnitStarted;

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
class PortMailbox final : public unit::EventSink {
 public:
  /// `wakeFd`: an eventfd written whenever an event other than progress is posted; -1: none.
  PortMailbox(std::size_t port, int wakeFd) : port_(port), wakeFd_(wakeFd) {}

  void Post(PortEventBody body) override;
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
