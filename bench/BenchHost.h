// The engine's host during a measured download: answers with the port and the file, keeps
// the messages, and does no more work per call than a real front end's bookkeeping.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/EngineHost.h"

namespace irdload::bench {

class BenchHost : public EngineHost {
 public:
  BenchHost(std::string portPath, std::string imagePath);

  void SetField(int id, const std::string& text) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int pos) override;
  int SelectedPortIndex() override { return 0; }
  std::string PortNameForIndex(int) override { return portPath_; }
  std::string FirstFileName() override { return imagePath_; }
  std::string SecondFileName() override { return {}; }
  // Never asks: the image is given.
  bool SelectFiles(std::stop_token) override { return false; }
  void StartElapsedClock() override {}
  void StopElapsedClock() override {}
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override;

  // Every message so far, "text (detail)", joined with "; ".
  std::string Messages() const;

 private:
  const std::string portPath_;
  const std::string imagePath_;
  mutable std::mutex mu_;
  std::map<int, std::string> fields_;
  int progressUpper_ = 0;
  int progressPos_ = 0;
  std::vector<std::string> messages_;
};

}  // namespace irdload::bench
