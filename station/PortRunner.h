// One port's loop, on its own thread with its own engine: wait for the adapter, wait for what
// arms the next unit, open, call the IRD until it answers, load, record, and again, until the
// port has handled its units or is stopped. It shares nothing with other ports but the
// read-only plan; the watcher and the front end reach it through its own small inbox.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/DownloadEngine.h"
#include "station/PortMailbox.h"
#include "station/PortSpec.h"
#include "station/StationPlan.h"
#include "unit/UnitObserver.h"

namespace irdload::station {

/// The engine purges the line when it closes or reopens the port. The last answer of an
/// attempt (0xED) may still be on its way (in an adapter's buffer, or a pseudo-terminal's):
/// purged, it never reaches an IRD that then ignores every connect request. A port waits this
/// long after an attempt before it closes or reopens.
inline constexpr std::chrono::milliseconds kLineSettle{500};

class PortRunner {
 public:
  /// `halt` is called (from this port's thread) when the port cannot go on and no port should
  /// start another unit: a file that no longer loads, a report folder that takes no record.
  PortRunner(PortSpec spec, const StationPlan& plan, PortMailbox& mailbox,
             std::function<void()> halt);
  /// Stops at once and joins.
  ~PortRunner();
  PortRunner(const PortRunner&) = delete;
  PortRunner& operator=(const PortRunner&) = delete;

  void Start();

  /// From the hot-plug watcher.
  void OnPresence(bool present, bool arrived);
  /// The operator's go for the next unit, with the unit's id when there is one. Besides the
  /// prompt it answers, it overrides a wait for a replug or a quiet line: the operator knows.
  void Arm(std::optional<std::string> unitId);
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

 private:
  enum class UnitResult { NotAUnit, Counted, Halt };

  void Main();
  bool Stopping() const { return stopStarting_ || stopNow_; }
  /// Waits for the path to lead to a device, and after a lost line for a new one (or the
  /// operator's go).
  bool WaitForAdapter();
  /// The line of the device opened at arrivalsAtOpen_ was lost.
  void NoteLineLost();
  bool WaitForArming(std::uint64_t arrivalsAtStart);
  bool WaitForOperator(bool wantId, std::optional<std::string>& unitId);
  bool WaitQuiet();
  /// Sleeps up to `d`, waking early on a stop or any news of the path.
  void Pause(std::chrono::milliseconds d);
  UnitResult RunUnit(std::uint32_t unit, const std::string& unitId);
  void Post(PortEventBody body) { mailbox_.Post(std::move(body)); }

  const PortSpec spec_;
  const StationPlan& plan_;
  PortMailbox& mailbox_;
  const std::function<void()> halt_;

  SerialPortLink* link_ = nullptr;  // owned by the engine; used only while the engine is idle
  unit::UnitObserver observer_;
  std::unique_ptr<DownloadEngine> engine_;
  bool engineInited_ = false;
  std::chrono::steady_clock::time_point lastEnd_{};  // of the last attempt on the engine

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

  std::atomic<bool> finished_{false};
  std::atomic<std::uint32_t> ok_{0}, failed_{0};
  std::jthread thread_;
};

}  // namespace irdload::station
