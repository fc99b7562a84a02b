// A host that answers nothing and shows nothing: fuzzers look only at the engine.
#pragma once

#include "engine/EngineHost.h"

namespace irdload::fuzz {

class NullHost : public EngineHost {
 public:
  std::string first, second;
  int messages = 0;
  void SetField(int, const std::string&) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int) override {}
  int SelectedPortIndex() override { return 0; }
  std::string FirstFileName() override { return first; }
  std::string SecondFileName() override { return second; }
  bool SelectFiles(std::stop_token) override { return false; }
  void StartElapsedClock() override {}
  void StopElapsedClock() override {}
  void MessageBox(const std::string&, const std::string&, std::stop_token) override { ++messages; }
};

}  // namespace irdload::fuzz
