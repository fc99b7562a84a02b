// The engine's host on a console: fields kept in memory and rendered as a progress line (on a
// terminal) or as plain status lines; messages to the error stream; never prompts.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "engine/EngineHost.h"

namespace irdload::cli {

class ConsoleHost : public EngineHost {
 public:
  struct Message {
    std::string text, detail;
  };

  ConsoleHost(std::string portName, std::string first, std::string second, std::ostream& out,
              std::ostream& err, bool interactive);

  void SetField(int id, const std::string& text) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int pos) override;
  int SelectedPortIndex() override { return 0; }
  std::string PortNameForIndex(int) override { return portName_; }
  std::string FirstFileName() override { return first_; }
  std::string SecondFileName() override { return second_; }
  /// A console cannot ask: every file question is answered as a cancelled choice.
  bool SelectFiles(std::stop_token) override { return false; }
  void StartElapsedClock() override;
  void StopElapsedClock() override;
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override;

  /// Draws the progress line (terminal) or the pending status lines (otherwise).
  void Render(bool final);
  std::vector<Message> messages() const;
  /// True when a message said the port could not be opened.
  bool portOpenFailed() const;
  std::string field(int id) const;
  /// True once the IRD answered the connect request (the elapsed clock started).
  bool connected() const;

 private:
  std::string ProgressLine() const;

  const std::string portName_, first_, second_;
  std::ostream& out_;
  std::ostream& err_;
  const bool interactive_;

  mutable std::mutex mu_;
  std::map<int, std::string> fields_;
  int packetsTotal_ = 0;
  int packetPos_ = 0;
  std::chrono::steady_clock::time_point clockStart_{};
  bool clockRunning_ = false;
  std::chrono::steady_clock::duration clockShown_{};
  std::vector<Message> messages_;
  std::vector<std::string> pendingLines_;
  std::string lastStatusPrinted_;
  std::chrono::steady_clock::time_point lastProgressPrinted_{};
  std::size_t lastLineWidth_ = 0;
};

}  // namespace irdload::cli
