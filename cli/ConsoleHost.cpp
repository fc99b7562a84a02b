#include "cli/ConsoleHost.h"

#include <cstdio>

#include "cli/Console.h"
#include "unit/Durations.h"

namespace irdload::cli {
namespace {

// The data loop's states repeat for every packet; a plain log shows progress lines instead.
bool InDataLoop(DownloadState state) {
  return state >= STATUS_WAIT_DATA_REQ && state <= STATUS_SEND_DATA_NACK;
}

}  // namespace

// One event, under mu_.
struct ConsoleHost::Apply {
  ConsoleHost& h;

  void operator()(const StateEntered& e) {
    h.state_ = e.state;
    h.status_ = std::string(e.status);
    if (e.state == STATUS_SEND_CONNECT_REQ) ++h.connectRequests_;
    if (h.interactive_ || e.status.empty()) return;
    // The data loop is shown as progress lines; its last answer (the file is complete) is not.
    const bool fileComplete = h.packets_ > 0 && h.packetsDone_ == h.packets_;
    if (InDataLoop(e.state) && !(e.state == STATUS_SEND_DATA_ACK && fileComplete)) return;
    if (h.statusesLogged_.insert(h.status_).second) h.pendingLines_.push_back(h.status_);
  }
  void operator()(const ReplyReceived&) {}
  void operator()(const RetryCountShown& e) { h.retryCount_ = e.retryCount; }
  void operator()(const ImageSized&) {}
  void operator()(const ImageAccepted& e) {
    h.packets_ = e.packets;
    h.bytes_ = e.payloadSize;
    h.packetsDone_ = 0;
    h.bytesDone_ = 0;
    h.connectRequests_ = 0;
    h.statusesLogged_.clear();
  }
  void operator()(const ImageLoaded& e) { h.loaded_.push_back(e); }
  void operator()(const ProgressMade& e) {
    h.packetsDone_ = e.packetsDone;
    h.bytesDone_ = e.bytesDone;
  }
  void operator()(const ClockStarted&) {
    h.clockStart_ = Clock::now();
    h.clockRunning_ = true;
  }
  void operator()(const ClockStopped&) {
    if (h.clockRunning_) h.clockShown_ = Clock::now() - h.clockStart_;
    h.clockRunning_ = false;
  }
  void operator()(const PortOpened&) {}
  void operator()(const PortOpenFailed& e) { h.portOpenFailure_ = e; }
  void operator()(const DownloadEnded& e) {
    h.outcome_ = e.outcome;
    const OutcomeKind kind = e.outcome.kind;
    if (kind != OutcomeKind::Success && kind != OutcomeKind::Failed) return;
    // The status line's last word, as the dialog shows it.
    h.status_ = e.outcome.message;
    if (!h.interactive_) h.pendingLines_.push_back(Printable(h.status_));
  }
  // The facts for records (Connected, RepeatAnswered, ...) are not shown here.
  template <class Fact>
  void operator()(const Fact&) {}
};

ConsoleHost::ConsoleHost(std::string portName, std::string first, std::string second,
                         std::ostream& out, std::ostream& err, bool interactive)
    : portName_(std::move(portName)),
      first_(std::move(first)),
      second_(std::move(second)),
      out_(out),
      err_(err),
      interactive_(interactive) {}

void ConsoleHost::OnEvent(const EngineEvent& event) {
  std::lock_guard lk(mu_);
  std::visit(Apply{*this}, event);
}

void ConsoleHost::MessageBox(const std::string& text, const std::string& detail, std::stop_token) {
  std::lock_guard lk(mu_);
  if (interactive_ && lastLineWidth_ > 0) {
    out_ << '\n';
    out_.flush();
    lastLineWidth_ = 0;
  }
  Complain(err_, text, detail);
  err_.flush();
}

std::optional<PortOpenFailed> ConsoleHost::portOpenFailure() const {
  std::lock_guard lk(mu_);
  return portOpenFailure_;
}

std::optional<Outcome> ConsoleHost::outcome() const {
  std::lock_guard lk(mu_);
  return outcome_;
}

std::vector<ImageLoaded> ConsoleHost::loaded() const {
  std::lock_guard lk(mu_);
  return loaded_;
}

std::string ConsoleHost::ProgressLine() const {
  const Clock::duration elapsed = clockRunning_ ? Clock::now() - clockStart_ : clockShown_;
  const double secs = std::chrono::duration<double>(elapsed).count();
  const double rate = secs > 0.5 ? static_cast<double>(bytesDone_) / secs : 0.0;
  std::string eta = "--:--";
  if (rate > 0 && bytes_ >= bytesDone_) {
    eta = unit::MinutesSeconds(std::chrono::seconds(
        static_cast<long long>(static_cast<double>(bytes_ - bytesDone_) / rate)));
  }
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "%-30s %u/%u packets  %llu/%llu bytes  %.1f KiB/s  %s elapsed  %s left  retries %d",
                status_.c_str(), packetsDone_, packets_,
                static_cast<unsigned long long>(bytesDone_),
                static_cast<unsigned long long>(bytes_), rate / 1024.0,
                unit::MinutesSeconds(elapsed).c_str(), eta.c_str(), retryCount_);
  return buf;
}

void ConsoleHost::Render(bool final) {
  std::lock_guard lk(mu_);
  if (interactive_) {
    std::string line = ProgressLine();
    const std::size_t width = line.size();
    if (width < lastLineWidth_) line.append(lastLineWidth_ - width, ' ');
    out_ << '\r' << line;
    if (final) out_ << '\n';
    out_.flush();
    lastLineWidth_ = final ? 0 : width;
    return;
  }
  for (const auto& l : pendingLines_) out_ << l << '\n';
  pendingLines_.clear();
  const auto now = Clock::now();
  // A silent IRD is called for as long as it takes: a line now and then, not one a pass.
  const bool calling = state_ == STATUS_SEND_CONNECT_REQ || state_ == STATUS_WAIT_CONNECT_ACK;
  if (calling && connectRequests_ > 1 && now - lastCallingNote_ >= std::chrono::seconds(5)) {
    if (lastCallingNote_ != Clock::time_point{}) {
      out_ << "still calling: " << connectRequests_ << " connect requests\n";
    }
    lastCallingNote_ = now;
  }
  if ((InDataLoop(state_) && now - lastProgressPrinted_ >= std::chrono::seconds(1)) || final) {
    if (packets_ > 0) out_ << ProgressLine() << '\n';
    lastProgressPrinted_ = now;
  }
  out_.flush();
}

}  // namespace irdload::cli
