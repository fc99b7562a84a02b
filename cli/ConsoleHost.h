// The engine's host on a console: the engine's events kept as numbers and rendered as a progress
// line (on a terminal) or as plain log lines (otherwise); messages to the error stream; never
// prompts.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "engine/EngineHost.h"

namespace irdload::cli {

class ConsoleHost : public EngineHost {
 public:
  ConsoleHost(std::string portName, std::string first, std::string second, std::ostream& out,
              std::ostream& err, bool interactive);

  void OnEvent(const EngineEvent& event) override;
  std::string SelectedPortName() override { return portName_; }
  std::string FirstFileName() override { return first_; }
  std::string SecondFileName() override { return second_; }
  /// A console cannot ask: every file question is answered as a cancelled choice.
  bool SelectFiles(std::stop_token) override { return false; }
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override;

  /// Draws the progress line (terminal) or the pending log lines (otherwise).
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

  std::string ProgressLine() const;

  const std::string portName_, first_, second_;
  std::ostream& out_;
  std::ostream& err_;
  const bool interactive_;

  mutable std::mutex mu_;
  // What the events said, as numbers.
  DownloadState state_ = STATUS_IDLE;
  std::string status_;
  int retryCount_ = 0;
  std::uint32_t packetsDone_ = 0, packets_ = 0;
  std::uint64_t bytesDone_ = 0, bytes_ = 0;
  Clock::time_point clockStart_{};
  bool clockRunning_ = false;
  Clock::duration clockShown_{};
  std::uint64_t connectRequests_ = 0;  // of this file
  std::vector<ImageLoaded> loaded_;
  std::optional<PortOpenFailed> portOpenFailure_;
  std::optional<Outcome> outcome_;
  // The plain log: each status once per file, then progress or "still calling" lines.
  std::vector<std::string> pendingLines_;
  std::set<std::string> statusesLogged_;
  Clock::time_point lastCallingNote_{};
  Clock::time_point lastProgressPrinted_{};
  std::size_t lastLineWidth_ = 0;
};

}  // namespace irdload::cli
