// One unit on a port: its attempts on the engine, and its record.
#include <filesystem>

#include "station/PortRunner.h"
#include "unit/AdapterInfo.h"
#include "unit/Json.h"
#include "unit/ReportFolder.h"
#include "unit/UnitCsv.h"
#include "unit/WireTrace.h"

namespace irdload::station {

using namespace unit;
namespace {

using namespace std::chrono_literals;

// A failure worth another attempt on the same IRD. A vanished adapter is not: whatever comes
// back may be another receiver.
bool Retryable(const Outcome& outcome) {
  return (outcome.kind == OutcomeKind::Failed &&
          outcome.reason != FailureReason::AdapterDisconnected) ||
         outcome.kind == OutcomeKind::NoResponse;
}

std::string AttemptSummary(const Outcome& outcome) {
  std::string text(OutcomeName(outcome.kind));
  if (outcome.reason != FailureReason::None)
    text += " (" + std::string(FailureReasonName(outcome.reason)) + ")";
  if (!outcome.detail.empty()) text += ": " + outcome.detail;
  return text;
}

}  // namespace

PortRunner::UnitResult PortRunner::RunUnit(std::uint32_t unit, const std::string& unitId) {
  std::optional<ReportFolder::Slot> slot;
  if (plan_.report) {
    std::string why;
    slot = plan_.report->Reserve(&why);
    if (!slot) {
      Post(MessageShown{"the report folder takes no more records: no unit is started", why});
      return UnitResult::Halt;
    }
  }
  const auto release = [&] {
    if (slot) plan_.report->Release(*slot);
  };
  UnitRecord record;
  record.toolVersion = plan_.toolVersion;
  record.host = plan_.host;
  record.portLabel = spec_.label;
  record.portPath = spec_.path;
  record.unitId = unitId;
  record.unit = unit;
  record.started = std::chrono::system_clock::now();
  record.adapter = DescribeAdapter(spec_.path, plan_.roots);

  for (int attempt = 1;; ++attempt) {
    observer_.BeginAttempt(unit);
    Post(UnitStarted{unit, attempt, unitId, record.adapter.device});
    Post(PhaseChanged{PortPhase::Calling, {}, {}});
    std::unique_ptr<WireTrace> trace;
    std::string tracePath;
    if (!plan_.traceDir.empty()) {
      tracePath = plan_.traceDir + "/" + FileSafe(spec_.label) + "-unit" + std::to_string(unit) +
                  (attempt > 1 ? "-attempt" + std::to_string(attempt) : "") + ".trace";
      trace = std::make_unique<WireTrace>();
      std::string why;
      if (!trace->Open(tracePath, &why)) {
        Post(MessageShown{"cannot write the trace", why});
        trace.reset();
        tracePath.clear();
      } else {
        link_->port().SetTap([t = trace.get()](WireDirection d, const std::uint8_t* b,
                                               std::size_t n) { t->Record(d, b, n); });
      }
    }
    if (!engineInited_) {
      engine_->Init(observer_, spec_.path);
      engineInited_ = true;
    }
    {
      std::unique_lock lk(mu_);
      cv_.wait_until(lk, lastEnd_ + kLineSettle, [&] { return stopNow_; });
    }
    observer_.ClearOpenFailure();
    const bool started = engine_->StartDownload() == 1;
    if (started && observer_.openFailed()) engine_->Finish();
    if (started && !observer_.openFailed()) {
      std::unique_lock lk(mu_);
      cv_.wait(lk, [&] {
        return observer_.ended() || stopNow_ || stopUnit_ || (stopStarting_ && !observer_.begun());
      });
      lk.unlock();
      if (!observer_.ended()) engine_->Finish();
    }
    while (!engine_->WaitIdle(1s)) {
    }
    lastEnd_ = std::chrono::steady_clock::now();
    link_->port().SetTap({});
    const AttemptStats stats = observer_.stats();
    const Outcome outcome = stats.outcome.value_or(Outcome{});
    if (outcome.reason == FailureReason::AdapterDisconnected) NoteLineLost();
    if (!started) {
      // A file that loaded at the start no longer does: no port can go on with it.
      Post(UnitEnded{unit, attempt, false, true, outcome, UnitExitCode(outcome.kind), unitId, {}});
      release();
      return UnitResult::Halt;
    }
    // A unit is a receiver that answered; a connect timeout the operator asked for counts too.
    const bool counted = observer_.begun() || outcome.kind == OutcomeKind::NoResponse;
    if (!counted || observer_.openFailed()) {
      Post(UnitEnded{unit, attempt, false, true, outcome, UnitExitCode(outcome.kind), unitId, {}});
      release();
      return UnitResult::NotAUnit;
    }
    bool stopping;
    {
      std::lock_guard lk(mu_);
      stopping = Stopping() || stopUnit_;
    }
    if (outcome.kind != OutcomeKind::Success && attempt <= plan_.retries && !stopping &&
        Retryable(outcome)) {
      record.earlierAttempts.push_back(AttemptSummary(outcome));
      Post(UnitEnded{unit, attempt, true, false, outcome, UnitExitCode(outcome.kind), unitId, {}});
      continue;
    }
    FillFromAttempt(record, stats);
    record.attempts = attempt;
    record.trace = tracePath;
    if (trace && !trace->failure().empty()) {
      Post(MessageShown{"the trace is incomplete", trace->failure()});
    }
    record.ended = std::chrono::system_clock::now();
    std::string path;
    bool halt = false;
    if (slot) {
      std::string why;
      if (!plan_.report->Commit(*slot, RecordFileName(record), RecordJson(record), CsvLine(record),
                                &path, &why)) {
        Post(MessageShown{"the unit's record could not be written: no unit is started", why});
        release();
        halt = true;
      }
    }
    (record.loaded() ? ok_ : failed_) += 1;
    Post(UnitEnded{unit, attempt, true, true, outcome, record.exitCode, unitId, path});
    return halt ? UnitResult::Halt : UnitResult::Counted;
  }
}

}  // namespace irdload::station
