#include "cli/StationView.h"

#include "cli/Console.h"
#include "cli/TextColumns.h"

namespace irdload::cli {
namespace {

using unit::PortPhase;

std::string UnitName(std::uint32_t unit, const std::string& id) {
  return "unit " + std::to_string(unit) + (id.empty() ? "" : " (" + id + ")");
}

// An event's line; empty for one that is not worth a line.
struct Line {
  // Events this view does not know yet say nothing.
  template <typename Event>
  std::string operator()(const Event&) const {
    return {};
  }

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
  // Not the unit's failed steps: summed, they grow by one at nearly every packet of a healthy
  // 115200 line (a packet takes 89 ms, a reply wait 50 ms), which reads as trouble.
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

bool operator==(const TerminalSize& a, const TerminalSize& b) {
  return a.columns == b.columns && a.rows == b.rows;
}

}  // namespace

StationView::StationView(std::ostream& out, std::vector<std::string> labels, bool table,
                         std::function<TerminalSize()> size)
    : out_(out),
      labels_(std::move(labels)),
      table_(table),
      size_(std::move(size)),
      tenthsLogged_(labels_.size(), 0),
      fileLogged_(labels_.size()) {}

void StationView::Add(const unit::PortEvent& event) {
  if (event.port == unit::kNoPort) {
    // The station's own word to the operator, of no port.
    const std::string line = std::visit(Line{}, event.body);
    if (!line.empty()) pending_.push_back(Printable(line));
    return;
  }
  if (event.port >= labels_.size()) return;
  if (const auto* p = std::get_if<unit::ProgressShown>(&event.body)) {
    // The table shows progress as it goes; the log takes a line at every tenth of a file.
    if (table_ || p->packets == 0) return;
    const std::pair<std::uint32_t, int> file{p->unit, p->file};
    if (fileLogged_[event.port] != file) {
      fileLogged_[event.port] = file;
      tenthsLogged_[event.port] = 0;
    }
    const std::uint64_t tenths = std::uint64_t{p->packetsDone} * 10 / p->packets;
    if (tenths <= tenthsLogged_[event.port]) return;
    tenthsLogged_[event.port] = tenths;
  }
  const std::string line = std::visit(Line{}, event.body);
  if (!line.empty()) pending_.push_back(Printable(labels_[event.port] + ": " + line));
}

void StationView::Note(const std::string& text) {
  pending_.push_back(Printable(text));
}

StationRow StationView::RowOf(const std::string& label, const station::PortSnapshot& r,
                              std::chrono::steady_clock::time_point now) {
  StationRow row;
  row.label = label;
  row.state = std::string(unit::PhaseName(r.phase));
  row.packetsDone = r.packetsDone;
  row.packets = r.packets;
  row.bytesDone = r.bytesDone;
  row.bytes = r.bytes;
  row.ok = r.ok;
  row.failed = r.failed;
  // The station's pace is 0 and the time left negative until they can be measured.
  const station::TransferPace pace = station::PaceOf(r, now);
  if (pace.bytesPerSecond > 0) row.bytesPerSecond = pace.bytesPerSecond;
  if (pace.bytesPerSecond > 0 && pace.secondsLeft >= 0) {
    row.left = std::chrono::seconds(static_cast<long long>(pace.secondsLeft));
  }
  return row;
}

void StationView::Draw(const std::vector<station::PortSnapshot>& ports) {
  if (!table_) {
    for (const auto& l : pending_) out_ << l << '\n';
    pending_.clear();
    out_.flush();
    return;
  }
  const TerminalSize size = size_ ? size_() : TerminalSize{};
  const std::size_t limit = LineLimit(size.columns);
  // One frame, written at once. Rows are overwritten in place (each cleared to its end) rather
  // than the table cleared first, so that a terminal that shows a frame half written shows
  // no blank table.
  std::string frame;
  if (rowsDrawn_ > 0 && !(size == drawnFor_)) {
    // A resized terminal may have rewrapped the old table: start again from a clear screen.
    frame += "\x1b[H\x1b[J";
  } else if (rowsDrawn_ > 0) {
    // Back to the table's first row: the new lines take its place, the table comes below them.
    frame += "\x1b[" + std::to_string(rowsDrawn_) + "F";
  }
  drawnFor_ = size;
  const auto row = [&frame](const std::string& line) { frame += line + "\x1b[K\n"; };
  for (const auto& text : pending_) {
    for (const auto& l : Fold(text, limit)) row(l);
  }
  pending_.clear();
  std::vector<StationRow> rows;
  const auto now = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < ports.size() && i < labels_.size(); ++i) {
    rows.push_back(RowOf(Printable(labels_[i]), ports[i], now));
  }
  const std::vector<std::string> table = StationTable(rows, size.columns, size.rows);
  for (const auto& l : table) row(l);
  rowsDrawn_ = table.size();
  frame += "\x1b[J";  // below: what is left of a longer table before
  out_ << frame;
  out_.flush();
}

}  // namespace irdload::cli
