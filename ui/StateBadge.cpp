#include "ui/StateBadge.h"

#include <QPainter>
#include <QPainterPath>

namespace irdload::ui {
namespace {

// Dark text on the light colours, white on the dark ones.
QColor TextOn(const QColor& background) {
  return background.lightnessF() > 0.6 ? QColor(Qt::black) : QColor(Qt::white);
}

// The look's shape in a square of side `s` at `at`, in `colour`.
void DrawShape(QPainter& p, TileLook look, const QRectF& box, const QColor& colour) {
  const qreal s = box.width();
  const qreal x = box.left();
  const qreal y = box.top();
  QPen pen(colour, s / 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  switch (look) {
    case TileLook::Loading: {
      const QPointF triangle[] = {{x + s * 0.15, y}, {x + s, y + s / 2}, {x + s * 0.15, y + s}};
      p.drawPolygon(triangle, 3);
      break;
    }
    case TileLook::Loaded: {
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      const QPointF tick[] = {
          {x + s * 0.1, y + s * 0.55}, {x + s * 0.4, y + s * 0.85}, {x + s * 0.95, y + s * 0.15}};
      p.drawPolyline(tick, 3);
      break;
    }
    case TileLook::Failed:
      p.setPen(pen);
      p.drawLine(QPointF(x + s * 0.15, y + s * 0.15), QPointF(x + s * 0.85, y + s * 0.85));
      p.drawLine(QPointF(x + s * 0.85, y + s * 0.15), QPointF(x + s * 0.15, y + s * 0.85));
      break;
    case TileLook::Stopped:
      p.drawRect(QRectF(x + s * 0.1, y + s * 0.1, s * 0.8, s * 0.8));
      break;
    case TileLook::WaitingForAdapter:
      pen.setWidthF(s / 6);
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(x + s * 0.12, y + s * 0.12, s * 0.76, s * 0.76));
      break;
    case TileLook::WaitingForUnit:
      p.drawRect(QRectF(x + s * 0.15, y + s * 0.1, s * 0.25, s * 0.8));
      p.drawRect(QRectF(x + s * 0.6, y + s * 0.1, s * 0.25, s * 0.8));
      break;
  }
}

}  // namespace

QColor LookColour(TileLook look) {
  // Okabe and Ito's colours.
  switch (look) {
    case TileLook::Loading:
      return {0x00, 0x72, 0xB2};  // blue
    case TileLook::Loaded:
      return {0x00, 0x9E, 0x73};  // bluish green
    case TileLook::Failed:
      return {0xD5, 0x5E, 0x00};  // vermilion
    case TileLook::Stopped:
      return {0xE6, 0x9F, 0x00};  // orange
    case TileLook::WaitingForAdapter:
      return {0x80, 0x80, 0x80};  // grey
    case TileLook::WaitingForUnit:
      return {0x56, 0xB4, 0xE9};  // sky blue
  }
  return Qt::gray;
}

StateBadge::StateBadge(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);
}

void StateBadge::Show(TileLook look, const QString& word) {
  if (look == look_ && word == word_) return;
  const bool wider = word != word_;
  look_ = look;
  word_ = word;
  if (wider) updateGeometry();
  setAccessibleName(word);
  update();
}

QSize StateBadge::sizeHint() const {
  const QFontMetrics m(font());
  const int h = m.height() + 6;
  return {h + m.horizontalAdvance(word_) + m.averageCharWidth() * 2, h};
}

void StateBadge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor colour = LookColour(look_);
  const QColor ink = TextOn(colour);
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawRoundedRect(r, 4, 4);
  const qreal side = height() * 0.55;
  const QRectF shape(height() * 0.3, (height() - side) / 2, side, side);
  DrawShape(p, look_, shape, ink);
  p.setPen(ink);
  p.drawText(QRectF(shape.right() + height() * 0.3, 0, width(), height()),
             Qt::AlignVCenter | Qt::AlignLeft, word_);
}

}  // namespace irdload::ui
