// The engine's host during a measured download: answers with the port and the file, keeps
// the messages, and does no more work per call than a real front end's bookkeeping.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/EngineHost.h"

namespace irdload::bench {

class BenchHost : public EngineHost {
 public:
  BenchHost(std::string portPath, std::string imagePath);

  void OnEvent(const EngineEvent& event) override;
  std::string SelectedPortName() override { return portPath_; }
  std::string FirstFileName() override { return imagePath_; }
  std::string SecondFileName() override { return {}; }
  // Never asks: the image is given.
  bool SelectFiles(std::stop_token) override { return false; }
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override;

  // Every message so far, "text (detail)", joined with "; ".
  std::string Messages() const;

 private:
  const std::string portPath_;
  const std::string imagePath_;
  mutable std::mutex mu_;
  std::size_t events_ = 0;
  std::uint32_t packetsDone_ = 0;
  std::vector<std::string> messages_;
};

}  // namespace irdload::bench
