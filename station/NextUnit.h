// What arms a port's next unit once one has ended, so that a receiver whose loader answers the
// connect request again after its load is never loaded twice: each way is a small strategy that
// waits through what its port offers.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/DownloadEngine.h"
#include "station/StationPlan.h"

namespace irdload::station {

/// What a next-unit strategy may ask of its port. Every wait ends early when the port stops.
class PortWaits {
 public:
  virtual ~PortWaits() = default;
  /// Tells the front ends that the port waits for its next unit, and for what.
  virtual void ShowWaiting(const std::string& hint) = 0;
  /// Waits for the operator's go, or with `replugSince`, also for the port's path to lead to a
  /// device anew since that count of arrivals. True when armed, false when the port stops.
  virtual bool WaitForGo(std::optional<std::uint64_t> replugSince) = 0;
  /// True when the operator's go came within `d` (taking it).
  virtual bool GoWithin(std::chrono::milliseconds d) = 0;
  virtual bool Stopping() const = 0;
  /// One connect request on the port's line (the engine's probe), opened when it is not.
  virtual DownloadEngine::Probe Probe() = 0;
  /// After a probe found no line: waits until the port's path leads to a device again (anew,
  /// after `lost`), or a while for a port that did not open. False when the port stops.
  virtual bool WaitForLine(bool lost) = 0;
};

class NextUnitWait {
 public:
  virtual ~NextUnitWait() = default;
  /// What the port waits for, in the operator's words.
  virtual std::string Hint() const = 0;
  /// True when the operator's answer (Enter, or a unit id) is what arms the next unit: the
  /// station hands such answers to the ports that wait so.
  virtual bool AsksOperator() const = 0;
  /// Waits until the next unit is armed; false when the port stops first. `arrivalsAtUnit`:
  /// the port's count of arrivals when its last unit started.
  virtual bool Wait(PortWaits& port, std::uint64_t arrivalsAtUnit) = 0;
};

/// The strategy for `mode`: the operator's go (Enter or a scanned id), a replug of the adapter,
/// or the IRD leaving connect requests unanswered for `quiet`. The operator's go arms a unit in
/// every mode: the operator knows.
std::unique_ptr<NextUnitWait> MakeNextUnitWait(NextUnit mode, std::chrono::seconds quiet,
                                               bool askUnitId);

}  // namespace irdload::station
