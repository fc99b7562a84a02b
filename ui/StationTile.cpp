#include "ui/StationTile.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/Events.h"
#include "unit/Durations.h"

namespace irdload::ui {
namespace {

using station::PortPhase;

// The station's words for a phase, as a tile's sentence.
QString Sentence(PortPhase phase) {
  QString text = QString::fromStdString(std::string(unit::PhaseText(phase)));
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

QString NextUnitText(station::NextUnit mode, bool first) {
  switch (mode) {
    case station::NextUnit::Prompt:
      return first ? QStringLiteral("Press Start to load a unit")
                   : QStringLiteral("Press Start for the next unit");
    case station::NextUnit::Replug:
      return QStringLiteral("Replug the adapter for the next unit, or press Start");
    case station::NextUnit::Quiet:
      return QStringLiteral("Waiting for the IRD to go quiet, or press Start");
  }
  return {};
}

QString ReasonText(FailureReason reason) {
  switch (reason) {
    case FailureReason::None:
      return {};
    case FailureReason::IrdReportedFailure:
      return QStringLiteral("the IRD reported failure");
    case FailureReason::OutOfStep:
      return QStringLiteral("out of step with the IRD");
    case FailureReason::HeaderRejected:
      return QStringLiteral("the header was refused");
    case FailureReason::PacketRejected:
      return QStringLiteral("a packet was refused");
    case FailureReason::SecondFileNotLoaded:
      return QStringLiteral("the second file did not load");
    case FailureReason::AdapterDisconnected:
      return QStringLiteral("the adapter was disconnected");
    case FailureReason::AnswersNotHeard:
      return QStringLiteral("the IRD did not hear the answers");
  }
  return {};
}

}  // namespace

TileTexts DescribeRow(const station::PortSnapshot& r, station::NextUnit mode, int files,
                      std::chrono::steady_clock::time_point now) {
  TileTexts t;
  switch (r.phase) {
    case PortPhase::WaitingForAdapter:
      t.state = Sentence(r.phase);
      break;
    case PortPhase::WaitingForNextUnit:
      t.state = NextUnitText(mode, r.unit == 0);
      t.asking = true;
      break;
    case PortPhase::WaitingForUnitId:
      t.state = QStringLiteral("Scan or type the unit's id");
      break;
    case PortPhase::Calling:
    case PortPhase::SendingHeader:
    case PortPhase::Terminating:
      t.state = Sentence(r.phase);
      t.loading = true;
      break;
    case PortPhase::Transferring:
      t.state =
          files > 1
              ? QStringLiteral("%1 file %2 of %3").arg(Sentence(r.phase)).arg(r.file).arg(files)
              : Sentence(r.phase);
      t.loading = true;
      break;
    case PortPhase::Done:
      t.state = QStringLiteral("Stopped");
      break;
    case PortPhase::Halted:
      t.state = QStringLiteral("Halted: ") + QString::fromStdString(r.detail);
      break;
  }
  if (t.loading && r.packets > 0) {
    t.packets = QStringLiteral("Packets %1 of %2").arg(r.packetsDone).arg(r.packets);
    const station::TransferPace pace = station::PaceOf(r, now);
    if (pace.bytesPerSecond > 0) {
      t.rate = QStringLiteral("%1 KiB/s").arg(pace.bytesPerSecond / 1024.0, 0, 'f', 1);
    }
    if (pace.secondsLeft >= 0) {
      t.left = QString::fromStdString(
                   unit::MinutesSeconds(std::chrono::duration<double>(pace.secondsLeft))) +
               QStringLiteral(" left");
    }
  }
  t.counts = QStringLiteral("Loaded %1 · Failed %2").arg(r.ok).arg(r.failed);
  return t;
}

QString DescribeEnd(const unit::UnitEnded& e) {
  const QString unit =
      e.unitId.empty() ? QStringLiteral("unit %1").arg(e.unit) : QString::fromStdString(e.unitId);
  if (!e.counted) return QStringLiteral("No IRD answered");
  QString text;
  switch (e.outcome.kind) {
    case OutcomeKind::Success:
      return QStringLiteral("Loaded ") + unit;
    case OutcomeKind::Stopped:
      text = QStringLiteral("Stopped ") + unit;
      break;
    case OutcomeKind::NoResponse:
      text = QStringLiteral("No response from ") + unit;
      break;
    default:
      text = QStringLiteral("Failed ") + unit;
      if (e.outcome.reason != FailureReason::None) {
        text += QStringLiteral(": ") + ReasonText(e.outcome.reason);
      }
      break;
  }
  if (!e.final) text += QStringLiteral(", trying again");
  return text;
}

StationTile::StationTile(const QString& label, const QString& device, QWidget* parent)
    : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  auto* title = new QLabel(QStringLiteral("<b>%1</b>").arg(label.toHtmlEscaped()), this);
  auto* where = new QLabel(device, this);
  where->setEnabled(false);  // greyed: the detail, not the name
  where->setToolTip(device);
  state_ = new QLabel(this);
  state_->setObjectName(QStringLiteral("state"));
  state_->setWordWrap(true);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 1000);  // permille: a file may be larger than an int counts
  progress_->setTextVisible(true);
  progress_->setFormat(QStringLiteral("%p%"));
  packets_ = new QLabel(this);
  rate_ = new QLabel(this);
  left_ = new QLabel(this);
  last_ = new QLabel(this);
  last_->setObjectName(QStringLiteral("last"));
  last_->setWordWrap(true);
  counts_ = new QLabel(this);
  start_ = new QPushButton(QStringLiteral("Start"), this);
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  start_->setObjectName(QStringLiteral("start"));
  stop_->setObjectName(QStringLiteral("stop"));
  connect(start_, &QPushButton::clicked, this, &StationTile::startClicked);
  connect(stop_, &QPushButton::clicked, this, &StationTile::stopClicked);

  auto* figures = new QHBoxLayout;
  figures->addWidget(packets_);
  figures->addStretch();
  figures->addWidget(rate_);
  figures->addWidget(left_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(counts_);
  buttons->addStretch();
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  auto* layout = new QVBoxLayout(this);
  auto* head = new QHBoxLayout;
  head->addWidget(title);
  head->addStretch();
  head->addWidget(where);
  layout->addLayout(head);
  layout->addWidget(state_);
  layout->addWidget(progress_);
  layout->addLayout(figures);
  layout->addWidget(last_);
  layout->addLayout(buttons);
  ShowIdle();
}

void StationTile::Show(const TileTexts& t, const station::PortSnapshot& r, bool running) {
  state_->setText(t.state);
  progress_->setValue(t.loading && r.bytes > 0 ? static_cast<int>(r.bytesDone * 1000 / r.bytes)
                                               : (t.loading ? 0 : progress_->value()));
  packets_->setText(t.packets);
  rate_->setText(t.rate);
  left_->setText(t.left);
  counts_->setText(t.counts);
  start_->setEnabled(!running || t.asking);
  stop_->setEnabled(running && t.loading);
}

void StationTile::ShowEnd(const unit::UnitEnded& end) {
  last_->setText(QStringLiteral("Last: ") + DescribeEnd(end));
  // The engine's own words, for whoever wants to know more.
  const std::string more = end.outcome.message +
                           (end.outcome.detail.empty() || end.outcome.message.empty() ? "" : "\n") +
                           end.outcome.detail;
  last_->setToolTip(QString::fromStdString(more));
  if (end.counted && end.outcome.kind == OutcomeKind::Success) progress_->setValue(1000);
}

void StationTile::ShowIdle() {
  state_->setText(QStringLiteral("Press Start to load a unit"));
  packets_->clear();
  rate_->clear();
  left_->clear();
  start_->setEnabled(true);
  stop_->setEnabled(false);
}

QString StationTile::stateText() const {
  return state_->text();
}
QString StationTile::lastText() const {
  return last_->text();
}

}  // namespace irdload::ui
