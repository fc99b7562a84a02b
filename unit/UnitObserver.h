// The engine's host for one port: answers the engine's questions (which port, which files; it
// never prompts), folds one attempt's events into the numbers its record needs, and posts the
// unit's start, phases, progress and messages to the unit's event sink. Every fact it uses is the
// engine's own: the phase from the state the engine entered, "a receiver answered" from its
// Connected event, the line's counts from its rejections, repeats and late replies, and at the
// end the counts it gives with DownloadEnded.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include "unit/UnitEvents.h"
#include "unit/UnitRecord.h"

namespace irdload::unit {

/// What one attempt came to, from the engine's events.
struct AttemptStats {
  std::vector<FileRecord> files;  ///< each file the engine accepted, with its SHA-256 once loaded
  std::uint32_t packetsSent = 0;
  /// Counted from the engine's facts while the attempt runs; the engine's own at its end.
  LinkCounts counts;
  std::optional<std::chrono::steady_clock::time_point> clockStarted;
  std::chrono::steady_clock::time_point endedAt{};
  std::optional<Outcome> outcome;
  std::optional<PortOpenFailed> openFailure;
};

class UnitObserver : public EngineHost {
 public:
  /// `onEnded` runs on the engine's thread after each DownloadEnded, with no lock held.
  UnitObserver(std::string portPath, std::vector<std::string> files, EventSink& sink,
               std::function<void()> onEnded = {});

  /// Starts a new attempt's numbers; the engine must be idle. The attempt's start event goes out
  /// when the engine has opened the port for it.
  void BeginAttempt(std::uint32_t unit, int attempt, std::string unitId, std::string device);

  void OnEvent(const EngineEvent& event) override;
  std::string SelectedPortName() override { return portPath_; }
  std::string FirstFileName() override { return files_.empty() ? "" : files_[0]; }
  std::string SecondFileName() override { return files_.size() > 1 ? files_[1] : ""; }
  /// Never prompts: a file question is a cancelled choice.
  bool SelectFiles(std::stop_token) override { return false; }
  /// Posted as a message; nobody has to press OK.
  void MessageBox(const std::string& text, const std::string& detail, std::stop_token) override;

  /// The IRD acknowledged a connect request: a unit is on the line.
  bool begun() const { return begun_.load(); }
  bool ended() const { return ended_.load(); }
  bool openFailed() const { return openFailed_.load(); }
  AttemptStats stats() const;

 private:
  struct Apply;

  const std::string portPath_;
  const std::vector<std::string> files_;
  EventSink& sink_;
  const std::function<void()> onEnded_;

  std::atomic<bool> begun_{false}, ended_{false}, openFailed_{false};
  mutable std::mutex mu_;  // the engine's thread and the port's loop; no other port
  AttemptStats stats_;
  std::optional<UnitStarted> starting_;  // posted when the port opens
  std::uint32_t unit_ = 0;
  std::optional<PortPhase> phase_;
  // The engine tells of a port that did not open, then shows its box: the box takes the reason.
  std::optional<PortOpenFailed> unshownOpenFailure_;
};

/// The record's numbers and outcome from an attempt's.
void FillFromAttempt(UnitRecord& record, const AttemptStats& stats);
/// "<UTC start>-<label>-unit<n>": a record's file name without ".json", sorted by time.
std::string RecordFileName(const UnitRecord& record);

}  // namespace irdload::unit
