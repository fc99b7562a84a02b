// One unit on one port: a receiver loaded once, with its engine, its observer and its record.
// `send` runs one unit; each station port runs one after another on the same UnitRun. Both get
// the same record lifecycle: room set aside before anything is sent, the attempts (and retries
// on the same IRD), the record made durable, and a unit that counts only once it is.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/DownloadEngine.h"
#include "ports/PortInventory.h"
#include "unit/ReportFolder.h"
#include "unit/UnitEvents.h"
#include "unit/UnitFiles.h"
#include "unit/UnitObserver.h"
#include "unit/WireTrace.h"

namespace irdload::unit {

/// The engine purges the line when it closes or reopens the port. The last answer of an attempt
/// (0xED) may still be on its way (in an adapter's buffer, or a pseudo-terminal's): purged, it
/// never reaches an IRD that then ignores every connect request. A port waits this long after an
/// attempt before it starts another or lets the port go.
inline constexpr std::chrono::milliseconds kLineSettle{500};

/// What every unit of a UnitRun shares, fixed before the first.
struct UnitRunSetup {
  std::string label;  ///< the records' port: a station port's label, or the port send was given
  std::string path;   ///< what the engine opens
  std::vector<CheckedFile> files;
  std::string toolVersion, host;
  InventoryRoots roots;
  ReportFolder* report = nullptr;  ///< none: no records
  std::string traceDir;            ///< one trace per attempt in this folder; empty: none
  WireTrace* trace = nullptr;      ///< one open trace for every attempt instead (send --trace)
  int retries = 0;                 ///< whole-unit attempts after the first, on the same IRD
  std::chrono::milliseconds replyWait = SerialPort::kDefaultReplyWait;
  MachineLimits limits;
  std::chrono::seconds connectTimeout{0};  ///< 0: call until the IRD answers
  /// Also hears every engine event and answers the engine's questions (send's console).
  EngineHost* front = nullptr;
  /// Devices of its own for some port names (send --simulate's in-memory virtual IRD).
  DeviceSource devices;
};

/// What the one who runs a unit decides while it runs.
class UnitControl {
 public:
  enum class Stop {
    None,
    BeforeAnswer,  ///< end the attempt only while no IRD has answered yet
    Now,           ///< end the attempt now (recorded as stopped when its IRD had answered)
  };
  virtual ~UnitControl() = default;
  /// Read while the unit runs; call UnitRun::Wake after it changes.
  virtual Stop stop() const = 0;
  /// How often Tick is called while an attempt runs; none: never.
  virtual std::optional<std::chrono::milliseconds> tick() const { return std::nullopt; }
  virtual void Tick() {}
  /// Just before each attempt's download starts.
  virtual void Starting() {}
  /// The unit's exit code after this outcome (send --simulate also checks the receiver).
  virtual int Verdict(const Outcome& outcome) { return UnitExitCode(outcome.kind); }
};

struct UnitResult {
  enum class Kind {
    NoUnit,        ///< no IRD took part: the port did not open, or the call ended first
    Recorded,      ///< a unit, loaded or failed, with its record durable (or none asked for)
    RecordFailed,  ///< a unit whose record could not be written
    NoRoom,        ///< nothing was sent: the report folder takes no more records
    FilesFailed,   ///< nothing was sent: a file that loaded at the start no longer does
  };
  Kind kind = Kind::NoUnit;
  Outcome outcome;
  int exitCode = 0;
  std::optional<PortOpenFailed> openFailure;  ///< the port did not open
  std::string record;                         ///< the record's path when there is one
  std::string why;  ///< what went wrong, for RecordFailed, NoRoom and FilesFailed

  bool counted() const { return kind == Kind::Recorded || kind == Kind::RecordFailed; }
  bool loaded() const { return counted() && outcome.kind == OutcomeKind::Success; }
};

class UnitRun {
 public:
  UnitRun(UnitRunSetup setup, EventSink& sink);
  /// The engine's worker ends before the observer goes.
  ~UnitRun();
  UnitRun(const UnitRun&) = delete;
  UnitRun& operator=(const UnitRun&) = delete;

  /// Runs unit `unit` (1, 2, ... on its port) named `unitId` (checked by the caller) to its end.
  UnitResult Run(std::uint32_t unit, const std::string& unitId, UnitControl& control);
  /// Makes a running unit read its control's stop again.
  void Wake();
  /// Waits until the last attempt's answers have had time to reach the IRD (kLineSettle), or
  /// `cut` holds; Wake makes it look at `cut` again.
  void Settle(const std::function<bool()>& cut);
  /// Between units: one connect request on the port, opened first when it is not (the engine's
  /// probe), for a port that waits for its IRD to go quiet.
  DownloadEngine::Probe Probe();
  /// Between units: lets the port go until the next unit or probe opens it again.
  void ReleasePort() { engine_->ReleasePort(); }

 private:
  class Host;
  // False when the engine did not start (a file it refused).
  bool Attempt(UnitControl& control);
  void InitEngine();
  // The trace of an attempt: the one trace of every attempt, or one per attempt in the folder;
  // empty for none.
  std::string TracePath(std::uint32_t unit, int attempt) const;
  std::unique_ptr<WireTrace> OpenTrace(std::string* path);
  UnitResult Finish(UnitRecord& record, std::unique_ptr<TempRecordFile> slot, int attempt,
                    const AttemptStats& stats, UnitControl& control);

  const UnitRunSetup setup_;
  EventSink& sink_;
  UnitObserver observer_;
  std::unique_ptr<Host> host_;
  SerialPortLink* link_ = nullptr;  // owned by the engine; its tap is set while the engine idles
  std::unique_ptr<DownloadEngine> engine_;
  bool engineInited_ = false;

  std::mutex mu_;
  std::condition_variable cv_;
  std::chrono::steady_clock::time_point lastEnd_{};  // of the last attempt on the engine
};

}  // namespace irdload::unit
