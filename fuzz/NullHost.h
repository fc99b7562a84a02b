// A host that answers nothing and shows nothing: fuzzers look only at the engine.
#pragma once

#include "engine/EngineHost.h"

namespace irdload::fuzz {

class NullHost : public EngineHost {
 public:
  std::string first, second;
  int messages = 0;
  void OnEvent(const EngineEvent&) override {}
  std::string SelectedPortName() override { return "COM1"; }
  std::string FirstFileName() override { return first; }
  std::string SecondFileName() override { return second; }
  bool SelectFiles(std::stop_token) override { return false; }
  void MessageBox(const std::string&, const std::string&, std::stop_token) override { ++messages; }
};

}  // namespace irdload::fuzz
