// Every port of a station as a value: what it does now, its unit and progress, the line's counts,
// its units loaded and failed and how its last unit ended. A front end draws it on its own tick;
// a dashboard can take it as JSON.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "unit/UnitEvents.h"

namespace irdload::station {

using unit::PortPhase;

/// How a port's last unit ended.
struct LastUnit {
  std::uint32_t unit = 0;
  std::string unitId;
  bool loaded = false;
  Outcome outcome;
  int exitCode = 0;
  std::string record, recordError;
};

/// A port's row as a table shows it.
struct PortSnapshot {
  std::string label, path;
  PortPhase phase = PortPhase::WaitingForAdapter;
  std::string status, detail;
  std::uint32_t unit = 0;  ///< the unit it loads or last loaded; 0 before its first
  std::string unitId;
  int file = 0;
  std::uint32_t packetsDone = 0, packets = 0;
  std::uint64_t bytesDone = 0, bytes = 0;
  std::uint32_t rejections = 0, repeats = 0, lateReplies = 0;  ///< in the unit's attempt so far
  std::chrono::steady_clock::time_point transferSince{};       ///< when the header phase began
  std::uint32_t ok = 0, failed = 0;
  /// Of `failed`, the units the operator stopped: a front end may show them apart, as no fault.
  std::uint32_t stopped = 0;
  std::optional<LastUnit> last;
  bool finished = false;
};

struct StationSnapshot {
  std::vector<PortSnapshot> ports;
  std::uint32_t ok = 0, failed = 0;
  std::uint32_t stopped = 0;  ///< of `failed`, stopped by the operator
  bool stopping = false;      ///< the station was told to stop
  bool halted = false;        ///< a port could not go on
  bool finished = false;      ///< every port's loop has ended
};

/// Folds one of the port's events into its row.
void Fold(PortSnapshot& row, const unit::PortEventBody& body);

/// The snapshot as one JSON object (a single line); docs/json-events.md has its fields.
std::string SnapshotJson(const StationSnapshot& snapshot,
                         std::chrono::system_clock::time_point time,
                         std::chrono::steady_clock::time_point now);

/// How fast a port's transfer goes, for tables and tiles: bytes a second since the header phase
/// began (0 while moving, for the first half second, and while nothing moves), and the time the
/// file's remaining bytes take at that rate (negative when unknown).
struct TransferPace {
  double bytesPerSecond = 0;
  double secondsLeft = -1;
};
TransferPace PaceOf(const PortSnapshot& row, std::chrono::steady_clock::time_point now);

}  // namespace irdload::station
