#include "cli/SendEvents.h"

#include "cli/Commands.h"
#include "cli/Os.h"
#include "irdload/BuildInfo.h"
#include "unit/AdapterInfo.h"
#include "unit/UnitCsv.h"

namespace irdload::cli {

SendEvents::SendEvents(EngineHost& console, std::string label, std::string port,
                       std::vector<std::string> files, std::ostream* json, std::string reportDir,
                       std::string unitId)
    : console_(console),
      label_(std::move(label)),
      port_(std::move(port)),
      unitId_(std::move(unitId)),
      observer_(port_, std::move(files), sink_) {
  if (json) json_ = std::make_unique<unit::JsonEventWriter>(*json, std::vector{label_});
  if (!reportDir.empty()) report_ = std::make_unique<unit::ReportFolder>(reportDir);
}

SendEvents::~SendEvents() {
  if (slot_) report_->Release(*slot_);
}

bool SendEvents::Prepare(std::string* error) {
  if (!report_) return true;
  if (!report_->Prepare(error)) return false;
  slot_ = report_->Reserve(error);
  return slot_.has_value();
}

void SendEvents::Started() {
  observer_.BeginAttempt(1);
  record_.toolVersion = std::string("irdload-cli ") + build::kVersion;
  record_.host = HostName();
  record_.portLabel = label_;
  record_.portPath = port_;
  record_.unitId = unitId_;
  record_.unit = 1;
  record_.started = std::chrono::system_clock::now();
  record_.adapter = unit::DescribeAdapter(port_);
  sink_.Post(unit::UnitStarted{1, 1, unitId_, record_.adapter.device});
  sink_.Post(unit::PhaseChanged{unit::PortPhase::Calling, {}, {}});
}

void SendEvents::Tick() {
  const std::vector<unit::PortEvent> events = queue_.Take();
  if (!json_) return;
  for (const auto& e : events) json_->Write(e);
  json_->Tick();
}

void SendEvents::Finished(int exitCode, bool portOpenFailed, bool stopped) {
  Tick();
  const unit::AttemptStats stats = observer_.stats();
  const Outcome outcome = stats.outcome.value_or(Outcome{});
  // A unit is a receiver that answered; a connect timeout counts too.
  const bool counted = !portOpenFailed && stats.outcome &&
                       (observer_.begun() || outcome.kind == OutcomeKind::NoResponse);
  std::string path;
  if (counted && slot_) {
    unit::FillFromAttempt(record_, stats);
    // The verdict may be stricter than the download's (a simulated IRD that differs).
    record_.exitCode = exitCode;
    record_.ended = std::chrono::system_clock::now();
    std::string why;
    if (!report_->Commit(*slot_, unit::RecordFileName(record_), unit::RecordJson(record_),
                         unit::CsvLine(record_), &path, &why)) {
      sink_.Post(unit::MessageShown{"the unit's record could not be written", why});
    }
    slot_.reset();
  }
  sink_.Post(unit::UnitEnded{1, 1, counted, true, outcome, exitCode, unitId_, path});
  Tick();
  if (json_) {
    const bool ok = counted && exitCode == EXIT_OK;
    json_->Summary(ok ? 1 : 0, counted && !ok ? 1 : 0, stopped, exitCode);
  }
}

void SendEvents::OnEvent(const EngineEvent& event) {
  console_.OnEvent(event);
  observer_.OnEvent(event);
}

void SendEvents::MessageBox(const std::string& text, const std::string& detail,
                            std::stop_token stop) {
  observer_.MessageBox(text, detail, stop);
  console_.MessageBox(text, detail, stop);
}

}  // namespace irdload::cli
