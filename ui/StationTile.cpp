#include "ui/StationTile.h"

#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/Events.h"
#include "unit/Durations.h"

namespace irdload::ui {
namespace {

using station::PortPhase;

// Width of the coloured edge that repeats the badge's colour down the tile.
constexpr int kEdgePx = 6;
// A tile is laid out no narrower than this many average characters.
constexpr int kMinimumChars = 48;

// A phase as a tile's sentence: the station's words, in the operator's language.
QString Sentence(PortPhase phase) {
  switch (phase) {
    case PortPhase::WaitingForAdapter:
      return StationTile::tr("Waiting for the adapter");
    case PortPhase::WaitingForNextUnit:
      return StationTile::tr("Waiting for the next unit");
    case PortPhase::WaitingForUnitId:
      return StationTile::tr("Waiting for the unit's id");
    case PortPhase::Calling:
      return StationTile::tr("Calling the IRD");
    case PortPhase::SendingHeader:
      return StationTile::tr("Sending the header");
    case PortPhase::Transferring:
      return StationTile::tr("Loading");
    case PortPhase::Terminating:
      return StationTile::tr("Finishing");
    case PortPhase::Done:
      return StationTile::tr("Done");
    case PortPhase::Halted:
      return StationTile::tr("Halted");
  }
  return {};
}

QString NextUnitText(station::NextUnit mode, bool first) {
  switch (mode) {
    case station::NextUnit::Prompt:
      return first ? StationTile::tr("Press Start to load a unit")
                   : StationTile::tr("Press Start for the next unit");
    case station::NextUnit::Replug:
      return StationTile::tr("Replug the adapter for the next unit, or press Start");
    case station::NextUnit::Quiet:
      return StationTile::tr("Waiting for the IRD to go quiet, or press Start");
  }
  return {};
}

QString ReasonText(FailureReason reason) {
  switch (reason) {
    case FailureReason::None:
      return {};
    case FailureReason::IrdReportedFailure:
      return StationTile::tr("the IRD reported failure");
    case FailureReason::OutOfStep:
      return StationTile::tr("out of step with the IRD");
    case FailureReason::HeaderRejected:
      return StationTile::tr("the header was refused");
    case FailureReason::PacketRejected:
      return StationTile::tr("a packet was refused");
    case FailureReason::SecondFileNotLoaded:
      return StationTile::tr("the second file did not load");
    case FailureReason::AdapterDisconnected:
      return StationTile::tr("the adapter was disconnected");
    case FailureReason::AnswersNotHeard:
      return StationTile::tr("the IRD did not hear the answers");
  }
  return {};
}

// Waiting for the operator, the badge tells how the last unit went (until the next starts).
TileLook LookAfter(const std::optional<station::LastUnit>& last) {
  if (!last) return TileLook::WaitingForUnit;
  if (last->loaded) return TileLook::Loaded;
  return last->outcome.kind == OutcomeKind::Stopped ? TileLook::Stopped : TileLook::Failed;
}

QString LookWord(TileLook look) {
  switch (look) {
    case TileLook::Loading:
      return StationTile::tr("Loading");
    case TileLook::Loaded:
      return StationTile::tr("Loaded");
    case TileLook::Failed:
      return StationTile::tr("Failed");
    case TileLook::Stopped:
      return StationTile::tr("Stopped");
    case TileLook::WaitingForAdapter:
      return StationTile::tr("No adapter");
    case TileLook::WaitingForUnit:
      return StationTile::tr("Waiting");
  }
  return {};
}

// A one-line text cut with an ellipsis where the room ends, rather than clipped mid-letter.
class ElidedLabel final : public QLabel {
 public:
  ElidedLabel(const QString& text, Qt::Alignment alignment, QWidget* parent)
      : QLabel(text, parent), alignment_(alignment) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setToolTip(text);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(rect(), alignment_ | Qt::AlignVCenter,
               fontMetrics().elidedText(text(), Qt::ElideMiddle, width()));
  }

 private:
  const Qt::Alignment alignment_;
};

}  // namespace

TileTexts DescribeRow(const station::PortSnapshot& r, station::NextUnit mode, int files,
                      std::chrono::steady_clock::time_point now) {
  TileTexts t;
  switch (r.phase) {
    case PortPhase::WaitingForAdapter:
      t.state = Sentence(r.phase);
      t.look = TileLook::WaitingForAdapter;
      break;
    case PortPhase::WaitingForNextUnit:
      t.state = NextUnitText(mode, r.unit == 0);
      t.asking = true;
      t.look = LookAfter(r.last);
      break;
    case PortPhase::WaitingForUnitId:
      t.state = StationTile::tr("Scan or type the unit's id");
      t.look = TileLook::WaitingForUnit;
      break;
    case PortPhase::Calling:
    case PortPhase::SendingHeader:
    case PortPhase::Terminating:
      t.state = Sentence(r.phase);
      t.loading = true;
      t.look = TileLook::Loading;
      break;
    case PortPhase::Transferring:
      t.state =
          files > 1
              ? StationTile::tr("%1 file %2 of %3").arg(Sentence(r.phase)).arg(r.file).arg(files)
              : Sentence(r.phase);
      t.loading = true;
      t.look = TileLook::Loading;
      break;
    case PortPhase::Done:
      t.state = StationTile::tr("Stopped");
      t.look = TileLook::Stopped;
      break;
    case PortPhase::Halted:
      t.state = StationTile::tr("Halted: %1").arg(QString::fromStdString(r.detail));
      t.look = TileLook::Failed;
      break;
  }
  t.word = LookWord(t.look);
  if (t.loading && r.packets > 0) {
    t.packets = StationTile::tr("Packets %1 of %2").arg(r.packetsDone).arg(r.packets);
    const station::TransferPace pace = station::PaceOf(r, now);
    if (pace.bytesPerSecond > 0) {
      t.rate = StationTile::tr("%1 KiB/s").arg(pace.bytesPerSecond / 1024.0, 0, 'f', 1);
    }
    if (pace.secondsLeft >= 0) {
      t.left = StationTile::tr("%1 left").arg(QString::fromStdString(
          unit::MinutesSeconds(std::chrono::duration<double>(pace.secondsLeft))));
    }
  }
  // An operator's Stop is no fault of the unit: it has its own count.
  t.counts = StationTile::tr("Loaded %1 · Failed %2 · Stopped %3")
                 .arg(r.ok)
                 .arg(r.failed - std::min(r.stopped, r.failed))
                 .arg(r.stopped);
  return t;
}

QString DescribeEnd(const unit::UnitEnded& e) {
  const QString unit =
      e.unitId.empty() ? StationTile::tr("unit %1").arg(e.unit) : QString::fromStdString(e.unitId);
  if (!e.counted) return StationTile::tr("No IRD answered");
  QString text;
  switch (e.outcome.kind) {
    case OutcomeKind::Success:
      return StationTile::tr("Loaded %1").arg(unit);
    case OutcomeKind::Stopped:
      text = StationTile::tr("Stopped %1").arg(unit);
      break;
    case OutcomeKind::NoResponse:
      text = StationTile::tr("No response from %1").arg(unit);
      break;
    default:
      text = e.outcome.reason != FailureReason::None
                 ? StationTile::tr("Failed %1: %2").arg(unit, ReasonText(e.outcome.reason))
                 : StationTile::tr("Failed %1").arg(unit);
      break;
  }
  if (!e.final) text = StationTile::tr("%1, trying again").arg(text);
  return text;
}

StationTile::StationTile(const QString& label, const QString& device, QWidget* parent)
    : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  // Focus lands here when a pressed button loses its use; the keyboard goes on from here.
  setFocusPolicy(Qt::ClickFocus);
  badge_ = new StateBadge(this);
  badge_->setObjectName(QStringLiteral("badge"));
  auto* title = new ElidedLabel(label, Qt::AlignLeft, this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  auto* where = new ElidedLabel(device, Qt::AlignRight, this);
  where->setEnabled(false);  // greyed: the detail, not the name
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
  counts_->setObjectName(QStringLiteral("counts"));
  start_ = new QPushButton(tr("Start"), this);
  stop_ = new QPushButton(tr("Stop"), this);
  start_->setObjectName(QStringLiteral("start"));
  stop_->setObjectName(QStringLiteral("stop"));
  start_->setToolTip(tr("Load the unit on this socket"));
  stop_->setToolTip(tr("End this socket's unit now; it is counted as stopped"));
  connect(start_, &QPushButton::clicked, this, &StationTile::startClicked);
  connect(stop_, &QPushButton::clicked, this, &StationTile::stopClicked);

  auto* figures = new QHBoxLayout;
  figures->addWidget(packets_);
  figures->addStretch();
  figures->addWidget(rate_);
  figures->addWidget(left_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kEdgePx + 6, 6, 6, 6);
  layout->setSpacing(4);
  auto* head = new QHBoxLayout;
  head->addWidget(badge_);
  head->addWidget(title, 3);
  head->addWidget(where, 2);
  layout->addLayout(head);
  layout->addWidget(state_);
  layout->addWidget(progress_);
  layout->addLayout(figures);
  layout->addWidget(last_);
  layout->addWidget(counts_);
  layout->addLayout(buttons);
  setMinimumWidth(MinimumWidth(fontMetrics()));
  ShowIdle();
}

int StationTile::MinimumWidth(const QFontMetrics& metrics) {
  return metrics.averageCharWidth() * kMinimumChars;
}

void StationTile::Show(const TileTexts& t, const station::PortSnapshot& r, bool running) {
  state_->setText(t.state);
  badge_->Show(t.look, t.word);
  progress_->setValue(t.loading && r.bytes > 0 ? static_cast<int>(r.bytesDone * 1000 / r.bytes)
                                               : (t.loading ? 0 : progress_->value()));
  QPalette bar = progress_->palette();
  bar.setColor(QPalette::Highlight, LookColour(t.look));
  progress_->setPalette(bar);
  packets_->setText(t.packets);
  rate_->setText(t.rate);
  left_->setText(t.left);
  counts_->setText(t.counts);
  SetButtons(!running || t.asking, running && t.loading);
  update();
}

void StationTile::ShowEnd(const unit::UnitEnded& end) {
  last_->setText(tr("Last: %1").arg(DescribeEnd(end)));
  // The engine's own words, for whoever wants to know more.
  const std::string more = end.outcome.message +
                           (end.outcome.detail.empty() || end.outcome.message.empty() ? "" : "\n") +
                           end.outcome.detail;
  last_->setToolTip(QString::fromStdString(more));
  if (end.counted && end.outcome.kind == OutcomeKind::Success) progress_->setValue(1000);
}

void StationTile::ShowIdle() {
  state_->setText(tr("Press Start to load a unit"));
  badge_->Show(TileLook::WaitingForUnit, LookWord(TileLook::WaitingForUnit));
  packets_->clear();
  rate_->clear();
  left_->clear();
  SetButtons(true, false);
  update();
}

void StationTile::SetButtons(bool start, bool stop) {
  for (auto [button, enable] : {std::pair{start_, start}, std::pair{stop_, stop}}) {
    if (!enable && button->hasFocus()) setFocus(Qt::OtherFocusReason);
    button->setEnabled(enable);
  }
}

QString StationTile::stateText() const {
  return state_->text();
}
QString StationTile::lastText() const {
  return last_->text();
}

void StationTile::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  p.fillRect(QRect(1, 1, kEdgePx, height() - 2), LookColour(badge_->look()));
  if (hasFocus()) {
    QPen pen(palette().color(QPalette::Highlight), 2);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
  }
}

void StationTile::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  update();
}

void StationTile::focusOutEvent(QFocusEvent* event) {
  QFrame::focusOutEvent(event);
  update();
}

}  // namespace irdload::ui
