// The station's events (and `send`'s, which uses the same ones) as JSON Lines: one object per
// line, each with the schema version, the time, the event's name and the port's label. Field
// names are documented in docs/json-events.md and kept stable.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "unit/UnitEvents.h"

namespace irdload::unit {

/// Bumped whenever a field changes meaning or goes; new fields do not bump it. 2: progress
/// carries the engine's counts (rejections, repeats, lateReplies) instead of retries.
inline constexpr int kEventSchema = 2;

/// One event as a line of JSON Lines writes it (without the newline); `label` names its port,
/// null for the station's own.
std::string EventJson(const PortEvent& event, const std::string* label);

class JsonEventWriter {
 public:
  /// `labels[i]` names port i. Progress is written at most once per `progressEvery` per port,
  /// and always when a file's last packet has gone.
  JsonEventWriter(std::ostream& out, std::vector<std::string> labels,
                  std::chrono::milliseconds progressEvery = std::chrono::milliseconds(100));

  void Write(const PortEvent& event);
  /// Writes held-back progress whose time has come; call on every tick of the front end.
  void Tick();
  /// `count` events were lost on the way to this writer (it fell behind).
  void Lost(std::uint64_t count);
  /// A run that could not start (a usage mistake, a refused file or folder).
  void Error(int exitCode, const std::string& message, const std::string& detail);
  /// The last line of every run.
  void Summary(std::uint32_t ok, std::uint32_t failed, bool stopped, int exitCode);
  /// Error and summary: all a run that never started writes.
  void Refused(int exitCode, const std::string& message, const std::string& detail) {
    Error(exitCode, message, detail);
    Summary(0, 0, false, exitCode);
  }

 private:
  struct PortState {
    std::optional<std::chrono::steady_clock::time_point> lastProgress;  // none: the first goes
    std::optional<PortEvent> held;
  };
  // Takes the event by value: a held one is moved out of its holder before it is written.
  void WriteProgress(PortEvent event);
  void Line(const std::string& json);

  std::ostream& out_;
  const std::vector<std::string> labels_;
  const std::chrono::milliseconds every_;
  std::vector<PortState> ports_;
};

}  // namespace irdload::unit
