// One port's loop, on its own thread with its own unit run (and engine): wait for the adapter,
// wait for what arms the next unit, ask for the unit's id, run the unit, and again, until the
// port has handled its units or is stopped. It shares nothing with other ports but the read-only
// plan and its station; the watcher and the station reach it through its own small inbox.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "station/NextUnit.h"
#include "station/PortSpec.h"
#include "station/PortTarget.h"
#include "station/StationPlan.h"
#include "unit/UnitEvents.h"
#include "unit/UnitRun.h"

namespace irdload::station {

/// What a port needs of its station.
class PortHome {
 public:
  virtual ~PortHome() = default;
  /// An event of port `port`, from that port's threads, never with a lock of the port held.
  virtual void Post(std::size_t port, unit::PortEventBody body) = 0;
  /// The port cannot go on (a file that no longer loads, a report folder that takes no more
  /// records): no port may start another unit.
  virtual void Halt() = 0;
  /// Port `port`'s path now leads to `device`: the port holds it, unless another port does
  /// (whose label comes back). A device held by one port is never opened by another.
  virtual std::optional<std::string> Claim(std::size_t port, const DeviceId& device) = 0;
  /// Port `port`'s path leads somewhere new (or nowhere): it holds no device any more.
  virtual void Release(std::size_t port) = 0;
};

class PortRunner final : private unit::UnitControl, private PortWaits {
 public:
  PortRunner(std::size_t index, PortSpec spec, const StationPlan& plan, PortHome& home);
  /// Stops at once and joins.
  ~PortRunner() override;
  PortRunner(const PortRunner&) = delete;
  PortRunner& operator=(const PortRunner&) = delete;

  void Start();

  /// From the hot-plug watcher.
  void OnPresence(bool present, bool arrived);
  /// The operator's go for the next unit, with the unit's id when there is one. Besides the
  /// prompt it answers, it overrides a wait for a replug or a quiet line: the operator knows.
  void Arm(std::optional<std::string> answer);
  /// Ends the running unit now (recorded as stopped when its IRD had answered); the port then
  /// waits for its next unit as after any other. Nothing when no unit runs.
  void StopUnit();
  /// Running units finish; none starts.
  void StopStarting();
  /// Running units end now.
  void StopNow();

  bool finished() const { return finished_.load(); }
  std::uint32_t ok() const { return ok_.load(); }
  std::uint32_t failed() const { return failed_.load(); }
  const PortSpec& spec() const { return spec_; }
  /// True when an answer of the operator (Enter, or an id) is what arms this port's next unit.
  bool asksOperator() const { return next_->AsksOperator(); }

 private:
  // The unit's events go to the station as this port's. A message just like the one before it
  // (a port that does not open, tried again) is not said twice in a row.
  class Sink final : public unit::EventSink {
   public:
    explicit Sink(PortRunner& runner) : r_(runner) {}
    void Post(unit::PortEventBody body) override;

   private:
    PortRunner& r_;
    std::mutex mu_;
    std::optional<unit::MessageShown> lastMessage_;  // when it was the last event
  };

  void Main();
  bool StoppingLocked() const { return stopStarting_ || stopNow_; }
  void Post(unit::PortEventBody body) { sink_.Post(std::move(body)); }
  /// Waits for the path to lead to a serial device that no other port holds, and after a lost
  /// line for a new one (or the operator's go); a path that leads to something else is said
  /// once and waited on until it leads somewhere new.
  bool WaitForAdapter();
  /// Why the port cannot take what its path leads to now; nothing when it can (it holds it).
  std::optional<unit::MessageShown> Refusal(const PortTarget& target);
  /// The line of the device opened at arrivalsAtOpen_ was lost.
  void NoteLineLost();
  bool WaitForUnitId(std::optional<std::string>& unitId);
  /// Sleeps up to `d`, waking early on a stop or any news of the path.
  void Pause(std::chrono::milliseconds d);

  // unit::UnitControl
  Stop stop() const override;
  // PortWaits
  void ShowWaiting(const std::string& hint) override;
  bool WaitForGo(std::optional<std::uint64_t> replugSince) override;
  bool GoWithin(std::chrono::milliseconds d) override;
  bool Stopping() const override;
  DownloadEngine::Probe Probe() override { return unit_.Probe(); }
  bool WaitForLine(bool lost) override;

  const std::size_t index_;
  const PortSpec spec_;
  const StationPlan& plan_;
  PortHome& home_;
  const std::unique_ptr<NextUnitWait> next_;
  Sink sink_{*this};
  unit::UnitRun unit_;

  // The inbox.
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool present_ = false;
  std::uint64_t arrivals_ = 0;  // the path appeared anew
  std::uint64_t news_ = 0;      // anything heard of the path
  bool armRequested_ = false;
  std::optional<std::string> givenId_;
  bool stopStarting_ = false, stopNow_ = false;
  bool inUnit_ = false, stopUnit_ = false;  // a unit runs; the operator stopped it
  // The line was lost on the device opened when arrivals_ had this value. The path may still
  // lead to a node that is gone, or to one the system has since given to another adapter (a
  // link left behind, a recycled name): it is not opened again until it is seen anew.
  std::optional<std::uint64_t> lostAt_;
  std::uint64_t arrivalsAtOpen_ = 0;
  // What the path led to when arrivals_ had this value could not be taken (no serial port, or a
  // device another port holds): waited on until the path leads somewhere new.
  std::optional<std::uint64_t> refusedAt_;

  std::atomic<bool> finished_{false};
  std::atomic<std::uint32_t> ok_{0}, failed_{0};
  std::jthread thread_;
};

}  // namespace irdload::station
