#include "cli/StationView.h"

#include <cstdio>

#include "cli/Console.h"
#include "unit/Durations.h"

namespace irdload::cli {
namespace {

using unit::PortPhase;

std::string MinSec(double seconds) {
  if (seconds < 0) return "--:--";
  return unit::MinutesSeconds(std::chrono::duration<double>(seconds));
}

std::string UnitName(std::uint32_t unit, const std::string& id) {
  return "unit " + std::to_string(unit) + (id.empty() ? "" : " (" + id + ")");
}

struct Line {
  const unit::PortEvent& event;

  std::string operator()(const unit::PhaseChanged& e) const {
    switch (e.phase) {
      case PortPhase::WaitingForAdapter:
        return std::string(unit::PhaseText(e.phase)) + " at " + e.detail;
      case PortPhase::WaitingForNextUnit:
      case PortPhase::WaitingForUnitId:
        return e.detail;
      case PortPhase::Calling:
      case PortPhase::Done:
      case PortPhase::Halted:
        return std::string(unit::PhaseText(e.phase));
      default:
        return e.status.empty() ? std::string(unit::PhaseText(e.phase)) : e.status;
    }
  }
  std::string operator()(const unit::UnitStarted& e) const {
    return UnitName(e.unit, e.unitId) +
           (e.attempt > 1 ? ", attempt " + std::to_string(e.attempt) : "") + " on " + e.device;
  }
  std::string operator()(const unit::ProgressShown& e) const {
    return "unit " + std::to_string(e.unit) + ": " + std::to_string(e.packetsDone) + "/" +
           std::to_string(e.packets) + " packets, " + std::to_string(e.bytesDone) + "/" +
           std::to_string(e.bytes) + " bytes" +
           (e.rejections > 0 ? ", " + std::to_string(e.rejections) + " rejected" : "") +
           (e.lateReplies > 0 ? ", " + std::to_string(e.lateReplies) + " late replies" : "");
  }
  std::string operator()(const unit::MessageShown& e) const {
    return e.text + (e.detail.empty() ? "" : ": " + e.detail);
  }
  std::string operator()(const unit::UnitEnded& e) const {
    const std::string how = std::string(OutcomeName(e.outcome.kind)) +
                            (e.outcome.message.empty() ? "" : " (" + e.outcome.message + ")") +
                            (e.outcome.detail.empty() ? "" : ": " + e.outcome.detail);
    if (!e.counted) return "the call ended before an IRD answered: " + how;
    std::string text = UnitName(e.unit, e.unitId) + ": " + how;
    if (!e.final) return text + "; trying again";
    if (!e.recordError.empty()) return text + "; its record could not be written";
    return e.record.empty() ? text : text + "; record " + e.record;
  }
  std::string operator()(const unit::PortFinished& e) const {
    return "finished: " + std::to_string(e.ok) + " ok, " + std::to_string(e.failed) + " failed";
  }
};

}  // namespace

StationView::StationView(std::ostream& out, std::vector<std::string> labels, bool table)
    : out_(out), labels_(std::move(labels)), table_(table), lastProgress_(labels_.size()) {}

void StationView::Add(const unit::PortEvent& event) {
  if (event.port == unit::kNoPort) {
    // The station's own word to the operator, of no port.
    pending_.push_back(Printable(std::visit(Line{event}, event.body)));
    return;
  }
  if (event.port >= labels_.size()) return;
  if (const auto* p = std::get_if<unit::ProgressShown>(&event.body)) {
    // The table shows progress as it goes; the log takes a line a second.
    const auto now = std::chrono::steady_clock::now();
    if (table_ || (p->packetsDone != p->packets &&
                   now - lastProgress_[event.port] < std::chrono::seconds(1))) {
      return;
    }
    lastProgress_[event.port] = now;
  }
  pending_.push_back(Printable(labels_[event.port] + ": " + std::visit(Line{event}, event.body)));
}

void StationView::Note(const std::string& text) {
  pending_.push_back(Printable(text));
}

std::string StationView::Row(const std::string& label, const station::PortSnapshot& r,
                             std::chrono::steady_clock::time_point now) {
  const station::TransferPace pace = station::PaceOf(r, now);
  char buf[256];
  std::snprintf(buf, sizeof buf, "%-12.12s %-22.22s %5u/%-5u %9llu/%-9llu %7.1f KiB/s %6s %5u %6u",
                label.c_str(), std::string(unit::PhaseName(r.phase)).c_str(), r.packetsDone,
                r.packets, static_cast<unsigned long long>(r.bytesDone),
                static_cast<unsigned long long>(r.bytes), pace.bytesPerSecond / 1024.0,
                MinSec(pace.secondsLeft).c_str(), r.ok, r.failed);
  return buf;
}

void StationView::Draw(const std::vector<station::PortSnapshot>& rows) {
  if (!table_) {
    for (const auto& l : pending_) out_ << l << '\n';
    pending_.clear();
    out_.flush();
    return;
  }
  // Back to the table's first line and clear down, the new lines, then the table again.
  if (rowsDrawn_ > 0) out_ << "\x1b[" << rowsDrawn_ << "F\x1b[J";
  for (const auto& l : pending_) out_ << l << '\n';
  pending_.clear();
  char head[160];
  std::snprintf(head, sizeof head, "%-12s %-22s %11s %19s %13s %6s %5s %6s", "PORT", "STATE",
                "PACKETS", "BYTES", "RATE", "ETA", "OK", "FAILED");
  out_ << head << '\n';
  const auto now = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < rows.size() && i < labels_.size(); ++i) {
    out_ << Printable(Row(labels_[i], rows[i], now)) << '\n';
  }
  rowsDrawn_ = rows.size() + 1;
  out_.flush();
}

}  // namespace irdload::cli
