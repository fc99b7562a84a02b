// `send --json` and `send --report`: the console's host with the station's unit observer
// beside it, so that a single send writes the same JSON events and the same unit record as a
// station's port does.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "engine/EngineHost.h"
#include "unit/EventQueue.h"
#include "unit/JsonEvents.h"
#include "unit/ReportFolder.h"
#include "unit/UnitObserver.h"

namespace irdload::cli {

class SendEvents : public EngineHost {
 public:
  /// `json`: where JSON Lines go, or null. `reportDir`: empty for no record.
  SendEvents(EngineHost& console, std::string label, std::string port,
             std::vector<std::string> files, std::ostream* json, std::string reportDir,
             std::string unitId);
  ~SendEvents() override;

  /// Before the port is touched: the report folder takes a record. False with the reason.
  bool Prepare(std::string* error);
  /// The download is about to start.
  void Started();
  /// Writes what the engine posted since the last call.
  void Tick();
  /// The end: the record (when the unit happened), the end event and the summary.
  void Finished(int exitCode, bool portOpenFailed, bool stopped);

  void OnEvent(const EngineEvent& event) override;
  std::string SelectedPortName() override { return console_.SelectedPortName(); }
  std::string FirstFileName() override { return console_.FirstFileName(); }
  std::string SecondFileName() override { return console_.SecondFileName(); }
  bool SelectFiles(std::stop_token stop) override { return console_.SelectFiles(stop); }
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override;

 private:
  EngineHost& console_;
  const std::string label_, port_, unitId_;
  unit::EventQueue queue_{4096};
  unit::QueueSink sink_{queue_, 0};
  unit::UnitObserver observer_;
  std::unique_ptr<unit::JsonEventWriter> json_;
  std::unique_ptr<unit::ReportFolder> report_;
  std::optional<unit::ReportFolder::Slot> slot_;
  unit::UnitRecord record_;
};

}  // namespace irdload::cli
