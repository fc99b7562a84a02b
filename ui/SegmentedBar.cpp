#include "ui/SegmentedBar.h"

#include <QEvent>
#include <QPainter>
#include <QProgressBar>
#include <algorithm>

namespace irdload::ui {
namespace {

constexpr int kGapPx = 2;

void Paint(QProgressBar& bar) {
  QPainter p(&bar);
  const QPalette& colours = bar.palette();
  const QRect outer = bar.rect();
  p.fillRect(outer, colours.color(QPalette::Base));
  p.setPen(colours.color(QPalette::Dark));
  p.drawRect(outer.adjusted(0, 0, -1, -1));
  const QRect inner = outer.adjusted(2, 2, -2, -2);
  const qint64 span = static_cast<qint64>(bar.maximum()) - bar.minimum();
  if (span <= 0 || inner.isEmpty() || bar.value() <= bar.minimum()) return;
  // Blocks about two thirds as wide as the bar is high; a block begun is drawn whole.
  const int block = std::max(2, inner.height() * 2 / 3);
  const qint64 filled = inner.width() * (static_cast<qint64>(bar.value()) - bar.minimum()) / span;
  const QColor colour = colours.color(QPalette::Highlight);
  for (int x = 0; x < filled; x += block + kGapPx) {
    const int width = std::min(block, inner.width() - x);
    p.fillRect(inner.left() + x, inner.top(), width, inner.height(), colour);
  }
}

}  // namespace

void SegmentedBar::Apply(QProgressBar& bar) {
  bar.installEventFilter(new SegmentedBar(&bar));
}

bool SegmentedBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Paint) return false;
  Paint(*static_cast<QProgressBar*>(watched));
  return true;
}

}  // namespace irdload::ui
