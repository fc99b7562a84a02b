#include "unit/UnitRun.h"

#include <filesystem>

#include "unit/AdapterInfo.h"
#include "unit/Json.h"
#include "unit/UnitCsv.h"

namespace irdload::unit {
namespace {

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

std::vector<std::string> Paths(const std::vector<CheckedFile>& files) {
  std::vector<std::string> paths;
  for (const CheckedFile& f : files) paths.push_back(f.path);
  return paths;
}

}  // namespace

// The engine's host: the observer, and the front end beside it when there is one.
class UnitRun::Host final : public EngineHost {
 public:
  Host(UnitObserver& observer, EngineHost* front) : observer_(observer), front_(front) {}

  void OnEvent(const EngineEvent& event) override {
    if (front_) front_->OnEvent(event);
    observer_.OnEvent(event);
  }
  std::string SelectedPortName() override { return observer_.SelectedPortName(); }
  std::string FirstFileName() override { return observer_.FirstFileName(); }
  std::string SecondFileName() override { return observer_.SecondFileName(); }
  bool SelectFiles(std::stop_token stop) override {
    return front_ ? front_->SelectFiles(stop) : observer_.SelectFiles(stop);
  }
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override {
    observer_.MessageBox(text, detail, stop);
    if (front_) front_->MessageBox(text, detail, stop);
  }

 private:
  UnitObserver& observer_;
  EngineHost* const front_;
};

UnitRun::UnitRun(UnitRunSetup setup, EventSink& sink)
    : setup_(std::move(setup)),
      sink_(sink),
      observer_(setup_.path, Paths(setup_.files), sink, [this] { Wake(); }),
      host_(std::make_unique<Host>(observer_, setup_.front)) {
  auto link = std::make_unique<SerialPortLink>(setup_.replyWait);
  link_ = link.get();
  if (setup_.devices) link_->port().SetDeviceSource(setup_.devices);
  if (setup_.trace) {
    link_->port().SetTap([trace = setup_.trace](WireDirection d, const std::uint8_t* bytes,
                                                std::size_t n) { trace->Record(d, bytes, n); });
  }
  EngineOptions options;
  options.port = std::move(link);
  options.replyWait = setup_.replyWait;
  options.limits = setup_.limits;
  options.connectTimeout = setup_.connectTimeout;
  engine_ = std::make_unique<DownloadEngine>(std::move(options));
}

UnitRun::~UnitRun() {
  engine_.reset();
}

void UnitRun::Wake() {
  { std::lock_guard lk(mu_); }
  cv_.notify_all();
}

void UnitRun::Settle(const std::function<bool()>& cut) {
  std::unique_lock lk(mu_);
  cv_.wait_until(lk, lastEnd_ + kLineSettle, cut);
}

std::string UnitRun::TracePath(std::uint32_t unit, int attempt) const {
  if (setup_.trace) return setup_.trace->path();
  if (setup_.traceDir.empty()) return {};
  return setup_.traceDir + "/" + FileSafe(setup_.label) + "-unit" + std::to_string(unit) +
         (attempt > 1 ? "-attempt" + std::to_string(attempt) : "") + ".trace";
}

std::unique_ptr<WireTrace> UnitRun::OpenTrace(std::string* path) {
  if (setup_.traceDir.empty()) return nullptr;
  auto trace = std::make_unique<WireTrace>();
  std::string why;
  if (!trace->Open(*path, &why)) {
    sink_.Post(MessageShown{"cannot write the trace", why});
    path->clear();
    return nullptr;
  }
  return trace;
}

void UnitRun::InitEngine() {
  if (engineInited_) return;
  engine_->Init(*host_, setup_.path);
  engineInited_ = true;
}

DownloadEngine::Probe UnitRun::Probe() {
  InitEngine();
  return engine_->ProbeConnect();
}

bool UnitRun::Attempt(UnitControl& control) {
  if (!engineInited_) {
    InitEngine();
    if (observer_.openFailed()) return true;
  }
  Settle([&] { return control.stop() == UnitControl::Stop::Now; });
  control.Starting();
  if (engine_->StartDownload() != 1) return false;
  if (!observer_.openFailed()) {
    const auto done = [&] {
      const UnitControl::Stop stop = control.stop();
      return observer_.ended() || stop == UnitControl::Stop::Now ||
             (stop == UnitControl::Stop::BeforeAnswer && !observer_.begun());
    };
    const std::optional<std::chrono::milliseconds> tick = control.tick();
    std::unique_lock lk(mu_);
    while (!done()) {
      if (!tick) {
        cv_.wait(lk, done);
      } else if (!cv_.wait_for(lk, *tick, done)) {
        lk.unlock();
        control.Tick();
        lk.lock();
      }
    }
  }
  if (!observer_.ended()) engine_->Finish();
  while (!engine_->WaitIdle(std::chrono::seconds(1))) {
  }
  std::lock_guard lk(mu_);
  lastEnd_ = std::chrono::steady_clock::now();
  return true;
}

UnitResult UnitRun::Run(std::uint32_t unit, const std::string& unitId, UnitControl& control) {
  UnitResult result;
  UnitRecord record;
  record.toolVersion = setup_.toolVersion;
  record.host = setup_.host;
  record.portLabel = setup_.label;
  record.portPath = setup_.path;
  record.unitId = unitId;
  record.unit = unit;
  record.started = std::chrono::system_clock::now();
  record.adapter = DescribeAdapter(setup_.path, setup_.roots);

  // Room for the record before anything is sent, for what this record will hold.
  std::unique_ptr<TempRecordFile> slot;
  if (setup_.report) {
    UnitRecord draft = record;
    for (const CheckedFile& f : setup_.files) {
      std::error_code ec;
      const std::filesystem::path absolute = std::filesystem::absolute(f.path, ec);
      draft.files.push_back({ec ? f.path : absolute.lexically_normal().string(),
                             kHeaderSize + std::uint64_t{f.seen.payloadSize}, std::string(64, '0'),
                             f.seen.typeCode, f.seen.payloadSize, f.seen.packets()});
    }
    draft.trace = TracePath(unit, setup_.retries + 1);
    slot = setup_.report->Reserve(RecordRoom(draft, setup_.retries + 1), &result.why);
    if (!slot) {
      result.kind = UnitResult::Kind::NoRoom;
      return result;
    }
  }

  std::optional<AttemptStats> previous;  // the last attempt an IRD took part in
  for (int attempt = 1;; ++attempt) {
    observer_.BeginAttempt(unit, attempt, unitId, record.adapter.device);
    std::string tracePath = TracePath(unit, attempt);
    const std::unique_ptr<WireTrace> trace = OpenTrace(&tracePath);
    if (trace) {
      link_->port().SetTap([t = trace.get()](WireDirection d, const std::uint8_t* b,
                                             std::size_t n) { t->Record(d, b, n); });
    }
    const bool started = Attempt(control);
    if (trace) link_->port().SetTap({});
    if (trace && !trace->failure().empty()) {
      sink_.Post(MessageShown{"the trace is incomplete", trace->failure()});
    }
    const AttemptStats stats = observer_.stats();
    result.outcome = stats.outcome.value_or(Outcome{});
    result.exitCode = UnitExitCode(result.outcome.kind);
    if (!started) {
      // A file that loaded at the start no longer does: nothing was sent.
      result.kind = UnitResult::Kind::FilesFailed;
      result.why = result.outcome.message +
                   (result.outcome.detail.empty() ? "" : ": " + result.outcome.detail);
      return result;
    }
    if (observer_.openFailed()) {
      if (!previous) {
        result.kind = UnitResult::Kind::NoUnit;
        result.openFailure = stats.openFailure;
        return result;
      }
      // The IRD answered an earlier attempt: the unit ends as that attempt did.
      record.earlierAttempts.pop_back();
      return Finish(record, std::move(slot), attempt - 1, *previous, control);
    }
    // A unit is a receiver that answered (in this attempt or an earlier one); a connect timeout
    // the operator asked for counts too.
    const bool counted =
        previous || observer_.begun() || result.outcome.kind == OutcomeKind::NoResponse;
    if (!counted) {
      sink_.Post(UnitEnded{unit,
                           attempt,
                           false,
                           true,
                           result.outcome,
                           result.exitCode,
                           unitId,
                           {},
                           {},
                           stats.counts});
      result.kind = UnitResult::Kind::NoUnit;
      return result;
    }
    record.trace = tracePath;
    if (result.outcome.kind != OutcomeKind::Success && attempt <= setup_.retries &&
        control.stop() == UnitControl::Stop::None && Retryable(result.outcome)) {
      record.earlierAttempts.push_back(AttemptSummary(result.outcome));
      sink_.Post(UnitEnded{unit,
                           attempt,
                           true,
                           false,
                           result.outcome,
                           result.exitCode,
                           unitId,
                           {},
                           {},
                           stats.counts});
      previous = stats;
      continue;
    }
    return Finish(record, std::move(slot), attempt, stats, control);
  }
}

UnitResult UnitRun::Finish(UnitRecord& record, std::unique_ptr<TempRecordFile> slot, int attempt,
                           const AttemptStats& stats, UnitControl& control) {
  UnitResult result;
  FillFromAttempt(record, stats);
  record.attempts = attempt;
  record.exitCode = control.Verdict(record.outcome);
  record.ended = std::chrono::system_clock::now();
  result.kind = UnitResult::Kind::Recorded;
  result.outcome = record.outcome;
  result.exitCode = record.exitCode;
  if (slot && !setup_.report->Commit(std::move(slot), RecordFileName(record), RecordJson(record),
                                     CsvLine(record), &result.record, &result.why)) {
    result.kind = UnitResult::Kind::RecordFailed;
    if (result.exitCode == 0) result.exitCode = kExitRecordFailed;
    sink_.Post(MessageShown{"the unit's record could not be written", result.why});
  }
  sink_.Post(UnitEnded{record.unit, attempt, true, true, record.outcome, result.exitCode,
                       record.unitId, result.record, result.why, stats.counts});
  return result;
}

}  // namespace irdload::unit
