#include "cli/ConsoleHost.h"

#include "cli/Console.h"
#include "cli/TextColumns.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;

// Rate and time left are measured over this much of a transfer at least.
constexpr auto kPaceSpan = 1s;
// A silent IRD is called for as long as it takes: a log line now and then, not one a pass.
constexpr auto kCallingNote = 5s;

// ", rejected 3 times in a row", from the second time.
std::string InARow(int times) {
  return times > 1 ? ", rejected " + std::to_string(times) + " times in a row" : "";
}

}  // namespace

// One event, under mu_.
struct ConsoleHost::Apply {
  ConsoleHost& h;

  // Facts the console does not show.
  template <typename Event>
  void operator()(const Event&) {}

  void operator()(const StateEntered& e) {
    h.state_ = e.state;
    h.phase_ = e.phase;
    h.status_ = std::string(e.status);
    if (e.state == STATUS_SEND_CONNECT_REQ) ++h.connectRequests_;
    if (h.output_.interactive || e.status.empty()) return;
    // The pass that answers a rejection: worth its line, with what goes again.
    if (!h.rejection_.empty()) {
      h.Log(h.status_ + ": " + h.rejection_);
      h.rejection_.clear();
      return;
    }
    // The data loop is shown as progress lines; its last answer (the file is complete) is not.
    const bool fileComplete = h.packets_ > 0 && h.packetsDone_ == h.packets_;
    if (e.phase == Phase::Data && !(e.state == STATUS_SEND_DATA_ACK && fileComplete)) return;
    if (h.statusesLogged_.insert(h.status_).second) h.Log(h.status_);
  }
  void operator()(const HeaderRejected& e) {
    h.rejection_ = "the header goes again" + InARow(e.inARow);
  }
  void operator()(const PacketRejected& e) {
    h.rejection_ = "packet " + std::to_string(e.packet + 1) + "/" + std::to_string(h.packets_) +
                   " goes again" + InARow(e.inARow);
  }
  void operator()(const RetryCountShown& e) { h.retryCount_ = e.retryCount; }
  void operator()(const ImageAccepted& e) {
    if (h.file_ > 0) {
      // A pair's second file: what the first sent counts in the summary.
      h.packetsBefore_ += h.packetsDone_;
      h.bytesBefore_ += h.bytesDone_;
      if (h.firstPacketAt_) {
        h.paceTimeBefore_ += h.lastPacketAt_ - *h.firstPacketAt_;
        h.paceBytesBefore_ += h.bytesDone_ - h.firstPacketBytes_;
      }
    }
    ++h.file_;
    h.packets_ = e.packets;
    h.bytes_ = e.payloadSize;
    h.packetsDone_ = 0;
    h.bytesDone_ = 0;
    h.retryCount_ = 0;
    h.connectRequests_ = 0;
    h.firstPacketAt_.reset();
    h.clockShown_ = {};
    h.statusesLogged_.clear();
    h.tenthsLogged_ = 0;
    if (h.file_ > 1) {
      h.Say("Second file " + e.path + ": " + std::to_string(e.payloadSize) + " bytes in " +
            std::to_string(e.packets) + " packets");
    }
  }
  void operator()(const ImageLoaded& e) { h.loaded_.push_back(e); }
  void operator()(const ProgressMade& e) {
    const auto now = Clock::now();
    h.packetsDone_ = e.packetsDone;
    h.bytesDone_ = e.bytesDone;
    if (!h.firstPacketAt_) {
      h.firstPacketAt_ = now;
      h.firstPacketBytes_ = e.bytesDone;
    }
    h.lastPacketAt_ = now;
    if (h.output_.interactive || e.packets == 0) return;
    const std::uint64_t tenths = std::uint64_t{e.packetsDone} * 10 / e.packets;
    if (tenths > h.tenthsLogged_) {
      h.tenthsLogged_ = tenths;
      h.Log(ProgressLogLine(h.Figures(now), h.Limit()));
    }
  }
  void operator()(const ClockStarted&) {
    const auto now = Clock::now();
    // A pair's second file starts the clock from zero: the first file's run is kept.
    if (h.clockStart_) h.clockBefore_ += now - *h.clockStart_;
    h.clockStart_ = now;
    h.clockEverStarted_ = true;
  }
  void operator()(const ClockStopped&) {
    if (!h.clockStart_) return;
    h.clockShown_ = Clock::now() - *h.clockStart_;
    h.clockBefore_ += *h.clockShown_;
    h.clockStart_.reset();
  }
  void operator()(const PortOpenFailed& e) { h.portOpenFailure_ = e; }
  void operator()(const DownloadEnded& e) {
    h.outcome_ = e.outcome;
    h.counts_ = e.counts;
  }
};

ConsoleHost::ConsoleHost(std::string portName, std::string first, std::string second,
                         ConsoleOutput output, JobSize job)
    : portName_(std::move(portName)),
      first_(std::move(first)),
      second_(std::move(second)),
      output_(std::move(output)),
      job_(job) {}

void ConsoleHost::OnEvent(const EngineEvent& event) {
  std::lock_guard lk(mu_);
  std::visit(Apply{*this}, event);
}

void ConsoleHost::MessageBox(const std::string& text, const std::string& detail, std::stop_token) {
  std::lock_guard lk(mu_);
  // What was said before the message comes before it, wherever the two streams go.
  if (output_.interactive) {
    ClearLine();
  } else {
    WriteLog();
  }
  output_.out.flush();
  if (output_.interactive) {
    const std::size_t limit = Limit();
    for (const auto& line : Fold("irdload-cli: " + Printable(text), limit)) {
      output_.err << line << '\n';
    }
    if (!detail.empty()) {
      for (const auto& line : Fold(Printable(detail), limit > 2 ? limit - 2 : 1, "")) {
        output_.err << "  " << line << '\n';
      }
    }
  } else {
    Complain(output_.err, text, detail);
  }
  output_.err.flush();
}

void ConsoleHost::Note(const std::string& text) {
  std::lock_guard lk(mu_);
  Say(text);
}

void ConsoleHost::Say(const std::string& text) {
  if (!output_.interactive) {
    Log(Printable(text));
    WriteLog();
    return;
  }
  ClearLine();
  for (const auto& line : Fold(Printable(text), Limit())) output_.out << line << '\n';
  output_.out.flush();
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

std::size_t ConsoleHost::Limit() const {
  return LineLimit(output_.columns ? output_.columns() : 0);
}

SendFigures ConsoleHost::Figures(Clock::time_point now) const {
  SendFigures f;
  f.status = status_;
  f.packetsDone = packetsDone_;
  f.packets = packets_;
  f.bytesDone = bytesDone_;
  f.bytes = bytes_;
  if (phase_ == Phase::Connecting) {
    f.connectRequests = connectRequests_;
  } else {
    f.retryCount = retryCount_;
  }
  const std::optional<Clock::duration> elapsed =
      clockStart_ ? std::optional(now - *clockStart_) : clockShown_;
  if (elapsed) f.elapsed = std::chrono::duration_cast<std::chrono::seconds>(*elapsed);
  if (firstPacketAt_) {
    // Until the last packet the pace runs to now, so that a stall shows; then it holds.
    const bool allSent = packetsDone_ == packets_;
    const double span =
        std::chrono::duration<double>((allSent ? lastPacketAt_ : now) - *firstPacketAt_).count();
    const std::uint64_t moved = bytesDone_ - firstPacketBytes_;
    if (span >= std::chrono::duration<double>(kPaceSpan).count() && moved > 0) {
      f.bytesPerSecond = static_cast<double>(moved) / span;
      if (!allSent && bytes_ >= bytesDone_) {
        f.left = std::chrono::seconds(
            static_cast<long long>(static_cast<double>(bytes_ - bytesDone_) / *f.bytesPerSecond));
      }
    }
  }
  return f;
}

SendTotals ConsoleHost::Totals(Clock::time_point now) const {
  SendTotals t;
  t.packetsDone = packetsBefore_ + packetsDone_;
  t.bytesDone = bytesBefore_ + bytesDone_;
  t.packets = job_.packets > 0 ? job_.packets : packetsBefore_ + packets_;
  t.bytes = job_.bytes > 0 ? job_.bytes : bytesBefore_ + bytes_;
  if (clockEverStarted_) {
    t.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        clockBefore_ + (clockStart_ ? now - *clockStart_ : Clock::duration{}));
  }
  // The pace as the progress line measured it: between the packets, file by file.
  Clock::duration paceTime = paceTimeBefore_;
  std::uint64_t paceBytes = paceBytesBefore_;
  if (firstPacketAt_) {
    paceTime += lastPacketAt_ - *firstPacketAt_;
    paceBytes += bytesDone_ - firstPacketBytes_;
  }
  t.rejections = counts_.rejections;
  t.repeats = counts_.repeats;
  t.lateReplies = counts_.lateReplies;
  if (paceTime >= kPaceSpan && paceBytes > 0) {
    t.bytesPerSecond =
        static_cast<double>(paceBytes) / std::chrono::duration<double>(paceTime).count();
  }
  return t;
}

void ConsoleHost::Log(std::string line) {
  pendingLines_.push_back(std::move(line));
}

void ConsoleHost::WriteLog() {
  for (const auto& l : pendingLines_) output_.out << l << '\n';
  pendingLines_.clear();
  output_.out.flush();
}

void ConsoleHost::ClearLine() {
  if (lineWidth_ == 0) return;
  output_.out << '\r' << std::string(std::min(lineWidth_, Limit()), ' ') << '\r';
  lineWidth_ = 0;
}

void ConsoleHost::Render(bool final) {
  std::lock_guard lk(mu_);
  const auto now = Clock::now();
  if (output_.interactive) {
    if (summarised_) return;
    const std::size_t limit = Limit();
    const std::string line =
        final ? SummaryLine(Totals(now), limit) : ProgressLine(Figures(now), limit);
    // Spaces over what is left of a longer line before; at the end, over the whole row, which
    // may hold the terminal's echo of Ctrl-C.
    output_.out << '\r' << PadRight(line, final ? limit : std::min(lineWidth_, limit));
    lineWidth_ = TextWidth(line);
    if (final) {
      output_.out << '\n';
      lineWidth_ = 0;
      summarised_ = true;
    }
    output_.out.flush();
    return;
  }
  if (phase_ == Phase::Connecting && connectRequests_ > 1 &&
      now - lastCallingNote_ >= kCallingNote) {
    if (lastCallingNote_ != Clock::time_point{}) {
      Log("still calling: " + std::to_string(connectRequests_) + " connect requests");
    }
    lastCallingNote_ = now;
  }
  if (final && !summarised_) {
    Log(SummaryLine(Totals(now), Limit()));
    summarised_ = true;
  }
  WriteLog();
}

}  // namespace irdload::cli
