#include "unit/UnitObserver.h"

#include <filesystem>

#include "engine/Link.h"
#include "unit/Json.h"

namespace irdload::unit {
namespace {

PortPhase PhaseOf(DownloadState state) {
  if (state <= STATUS_WAIT_CONNECT_ACK) return PortPhase::Calling;
  if (state <= STATUS_SEND_HEADER_NACK) return PortPhase::SendingHeader;
  if (state <= STATUS_SEND_DATA_NACK) return PortPhase::Transferring;
  return PortPhase::Terminating;
}

}  // namespace

struct UnitObserver::Apply {
  UnitObserver& o;
  AttemptStats& s;

  void operator()(const StateEntered& e) {
    if (e.state >= STATUS_END) return;
    const PortPhase phase = PhaseOf(e.state);
    if (phase != o.phase_) o.SetPhase(phase, e.status);
  }
  void operator()(const ReplyReceived& e) {
    // A receiver that answered the call makes a unit, whatever becomes of the load.
    if (e.reply == CMD_CONNECT_ACK) o.begun_ = true;
    if (e.reply == CMD_HEADER_NACK || e.reply == CMD_DATA_NACK) ++s.nacks;
  }
  void operator()(const RetryCountShown& e) {
    if (e.retryCount > o.lastRetryCount_) s.retries += e.retryCount - o.lastRetryCount_;
    o.lastRetryCount_ = e.retryCount;
  }
  void operator()(const ImageSized&) {}
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
    // A chained file begins with its own connect request.
    o.phase_ = PortPhase::Calling;
  }
  void operator()(const ImageLoaded& e) {
    if (!s.files.empty()) s.files.back().sha256 = ToHex(e.sha256);
  }
  void operator()(const ProgressMade& e) {
    ++s.packetsSent;
    o.sink_.Post(ProgressShown{o.unit_, static_cast<int>(s.files.size()), e.packetsDone, e.packets,
                               e.bytesDone, e.bytes, s.retries});
  }
  void operator()(const ClockStarted&) {
    if (!s.clockStarted) s.clockStarted = std::chrono::steady_clock::now();
    o.begun_ = true;
  }
  void operator()(const ClockStopped&) {}
  void operator()(const PortOpened&) {}
  void operator()(const PortOpenFailed& e) {
    s.openFailure = e;
    o.openFailed_ = true;
  }
  void operator()(const DownloadEnded& e) {
    s.outcome = e.outcome;
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

void UnitObserver::BeginAttempt(std::uint32_t unit) {
  std::lock_guard lk(mu_);
  stats_ = {};
  unit_ = unit;
  lastRetryCount_ = 0;
  phase_ = PortPhase::Calling;
  begun_ = false;
  ended_ = false;
  openFailed_ = false;
}

void UnitObserver::ClearOpenFailure() {
  std::lock_guard lk(mu_);
  stats_.openFailure.reset();
  openFailed_ = false;
}

void UnitObserver::SetPhase(PortPhase phase, std::string_view status) {
  phase_ = phase;
  sink_.Post(PhaseChanged{phase, std::string(status), {}});
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
  sink_.Post(MessageShown{text, detail});
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
  r.retries = s.retries;
  r.nacks = s.nacks;
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
