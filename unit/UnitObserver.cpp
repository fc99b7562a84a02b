#include "unit/UnitObserver.h"

#include <filesystem>

#include "engine/Link.h"
#include "unit/Json.h"

namespace irdload::unit {

struct UnitObserver::Apply {
  UnitObserver& o;
  AttemptStats& s;

  void operator()(const StateEntered& e) {
    const std::optional<PortPhase> phase = PortPhaseOf(e.phase);
    if (!phase || phase == o.phase_) return;
    o.phase_ = phase;
    o.sink_.Post(PhaseChanged{*phase, std::string(e.status), {}});
  }
  void operator()(const Connected&) { o.begun_ = true; }
  void operator()(const HeaderRejected&) { ++s.counts.rejections; }
  void operator()(const PacketRejected&) { ++s.counts.rejections; }
  void operator()(const RepeatAnswered&) { ++s.counts.repeats; }
  void operator()(const ReplyLate&) { ++s.counts.lateReplies; }
  void operator()(const StaleBytesDropped& e) { s.counts.staleBytes += e.count; }
  void operator()(const ImageAccepted& e) {
    FileRecord f;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(e.path, ec);
    f.path = ec ? e.path : absolute.lexically_normal().string();
    f.typeCode = e.typeCode;
    f.payloadSize = e.payloadSize;
    f.packets = e.packets;
    f.size = kHeaderSize + std::uint64_t{e.payloadSize};
    s.files.push_back(std::move(f));
  }
  void operator()(const ImageLoaded& e) {
    if (!s.files.empty()) s.files.back().sha256 = ToHex(e.sha256);
  }
  void operator()(const ProgressMade& e) {
    ++s.packetsSent;
    o.sink_.Post(ProgressShown{o.unit_, static_cast<int>(s.files.size()), e.packetsDone, e.packets,
                               e.bytesDone, e.bytes, s.counts.rejections, s.counts.repeats,
                               s.counts.lateReplies});
  }
  void operator()(const ClockStarted&) {
    if (!s.clockStarted) s.clockStarted = std::chrono::steady_clock::now();
  }
  void operator()(const PortOpened&) {
    // The attempt begins once its port is open: a port that does not open makes no start.
    if (o.starting_) o.sink_.Post(std::move(*o.starting_));
    o.starting_.reset();
  }
  void operator()(const PortOpenFailed& e) {
    s.openFailure = e;
    o.unshownOpenFailure_ = e;
    o.openFailed_ = true;
  }
  void operator()(const DownloadEnded& e) {
    s.outcome = e.outcome;
    s.counts = e.counts;
    s.endedAt = std::chrono::steady_clock::now();
  }
  template <class Fact>
  void operator()(const Fact&) {}
};

UnitObserver::UnitObserver(std::string portPath, std::vector<std::string> files, EventSink& sink,
                           std::function<void()> onEnded)
    : portPath_(std::move(portPath)),
      files_(std::move(files)),
      sink_(sink),
      onEnded_(std::move(onEnded)) {}

void UnitObserver::BeginAttempt(std::uint32_t unit, int attempt, std::string unitId,
                                std::string device) {
  std::lock_guard lk(mu_);
  stats_ = {};
  unit_ = unit;
  starting_ = UnitStarted{unit, attempt, std::move(unitId), std::move(device)};
  phase_.reset();
  unshownOpenFailure_.reset();
  begun_ = false;
  ended_ = false;
  openFailed_ = false;
}

void UnitObserver::OnEvent(const EngineEvent& event) {
  const bool end = std::holds_alternative<DownloadEnded>(event);
  {
    std::lock_guard lk(mu_);
    std::visit(Apply{*this, stats_}, event);
  }
  if (end) {
    ended_ = true;
    if (onEnded_) onEnded_();
  }
}

void UnitObserver::MessageBox(const std::string& text, const std::string& detail, std::stop_token) {
  MessageShown shown{text, detail};
  {
    std::lock_guard lk(mu_);
    if (unshownOpenFailure_ && unshownOpenFailure_->message == text &&
        unshownOpenFailure_->detail == detail) {
      shown.openFailure = std::move(unshownOpenFailure_->reason);
    }
    unshownOpenFailure_.reset();
  }
  sink_.Post(std::move(shown));
}

AttemptStats UnitObserver::stats() const {
  std::lock_guard lk(mu_);
  return stats_;
}

// "<UTC start>-<label>-unit<n>", safe as a file name and sorted by time.
std::string RecordFileName(const UnitRecord& r) {
  std::string time = UtcTimestamp(r.started);
  for (char& c : time) {
    if (c == ':') c = '-';
  }
  return time + "-" + FileSafe(r.portLabel) + "-unit" + std::to_string(r.unit);
}

void FillFromAttempt(UnitRecord& r, const AttemptStats& s) {
  r.files = s.files;
  r.packetsSent = s.packetsSent;
  r.counts = s.counts;
  r.outcome = s.outcome.value_or(Outcome{});
  r.exitCode = UnitExitCode(r.outcome.kind);
  r.durationSeconds = 0;
  r.lineEfficiency.reset();
  if (s.clockStarted) {
    const std::chrono::duration<double> took = s.endedAt - *s.clockStarted;
    r.durationSeconds = took.count();
    std::vector<std::uint32_t> sizes;
    for (const FileRecord& f : s.files) sizes.push_back(f.payloadSize);
    const std::chrono::duration<double> limit = ProtocolLineTime(sizes);
    if (r.outcome.kind == OutcomeKind::Success && took.count() > 0) {
      r.lineEfficiency = limit.count() / took.count();
    }
  }
}

}  // namespace irdload::unit
