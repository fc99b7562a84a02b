// The engine's host on a console: the engine's events kept as figures and shown as a progress
// line redrawn in place (on a terminal) or as a log, one line per event worth one (otherwise);
// messages to the error stream, after everything said before them; never prompts.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cli/SendProgress.h"
#include "engine/EngineHost.h"

namespace irdload::cli {

/// Where a console host writes, and how.
struct ConsoleOutput {
  std::ostream& out;
  std::ostream& err;
  /// `out` is a terminal: the progress line is redrawn in place, lines fit its width.
  bool interactive = false;
  /// The terminal's width as it is now; 0 (or no function) when it is not known.
  std::function<int()> columns;
};

/// What the whole job sends: both files of a pair.
struct JobSize {
  std::uint32_t packets = 0;
  std::uint64_t bytes = 0;
};

class ConsoleHost : public EngineHost {
 public:
  ConsoleHost(std::string portName, std::string first, std::string second, ConsoleOutput output,
              JobSize job = {});

  void OnEvent(const EngineEvent& event) override;
  std::string SelectedPortName() override { return portName_; }
  std::string FirstFileName() override { return first_; }
  std::string SecondFileName() override { return second_; }
  /// A console cannot ask: every file question is answered as a cancelled choice.
  bool SelectFiles(std::stop_token) override { return false; }
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override;

  /// A line for the person, on standard output in its order with everything else.
  void Note(const std::string& text);
  /// Redraws the progress line (terminal) or writes the log lines due (otherwise). `final`: the
  /// download is over; the summary replaces the progress line.
  void Render(bool final);
  /// The port that did not open, when one did not.
  std::optional<PortOpenFailed> portOpenFailure() const;
  /// How the download ended, once it has.
  std::optional<Outcome> outcome() const;
  /// What each file loaded was, in order: for checking what the IRD received.
  std::vector<ImageLoaded> loaded() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Apply;

  SendFigures Figures(Clock::time_point now) const;
  SendTotals Totals(Clock::time_point now) const;
  std::size_t Limit() const;
  void Say(const std::string& text);
  void Log(std::string line);
  void WriteLog();
  void ClearLine();

  const std::string portName_, first_, second_;
  const ConsoleOutput output_;
  const JobSize job_;

  mutable std::mutex mu_;
  // What the events said, as figures. Per file:
  DownloadState state_ = STATUS_IDLE;
  Phase phase_ = Phase::Idle;
  std::string status_;
  std::string rejection_;  // what a rejection sends again, for the log's line of its answer
  int retryCount_ = 0;
  int file_ = 0;
  std::uint32_t packetsDone_ = 0, packets_ = 0;
  std::uint64_t bytesDone_ = 0, bytes_ = 0;
  std::uint64_t connectRequests_ = 0;
  std::optional<Clock::time_point> firstPacketAt_;  // the pace is measured from here
  std::uint64_t firstPacketBytes_ = 0;
  Clock::time_point lastPacketAt_{};
  // Of the files before the one in flight:
  std::uint32_t packetsBefore_ = 0;
  std::uint64_t bytesBefore_ = 0;
  Clock::duration paceTimeBefore_{};
  std::uint64_t paceBytesBefore_ = 0;
  // The elapsed clock, which starts anew with each file; the summary takes all its runs.
  std::optional<Clock::time_point> clockStart_;
  std::optional<Clock::duration> clockShown_;  // of this file, once stopped
  Clock::duration clockBefore_{};
  bool clockEverStarted_ = false;

  std::vector<ImageLoaded> loaded_;
  std::optional<PortOpenFailed> portOpenFailure_;
  std::optional<Outcome> outcome_;
  LinkCounts counts_;

  // The terminal's line.
  std::size_t lineWidth_ = 0;  // of the progress line on screen; 0: none
  bool summarised_ = false;
  // The plain log: each status once per file, a progress line every 10 %, "still calling" lines.
  std::vector<std::string> pendingLines_;
  std::set<std::string> statusesLogged_;
  std::uint64_t tenthsLogged_ = 0;
  Clock::time_point lastCallingNote_{};
};

}  // namespace irdload::cli
