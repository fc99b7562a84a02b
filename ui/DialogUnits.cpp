#include "ui/DialogUnits.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace irdload::ui {
namespace {

// The character cell the forms were laid out for.
constexpr double kFormCharWidthPx = 6.0;
constexpr double kFormCharHeightPx = 13.0;

int Scaled(int value, double factor) {
  return static_cast<int>(std::lround(value * factor));
}

}  // namespace

void FitFormToFont(QWidget& form) {
  const QFontMetricsF metrics(form.font());
  // Average character width the way dialog base units are measured: the 52 Latin letters.
  const double charWidth = metrics.horizontalAdvance(QStringLiteral(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           52.0;
  const double fx = std::max(1.0, charWidth / kFormCharWidthPx);
  const double fy = std::max(1.0, metrics.height() / kFormCharHeightPx);
  for (QWidget* child : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->isWindow()) continue;  // popups and menus keep their own size
    const QRect g = child->geometry();
    child->setGeometry(Scaled(g.x(), fx), Scaled(g.y(), fy), Scaled(g.width(), fx),
                       Scaled(g.height(), fy));
  }
  form.setFixedSize(Scaled(form.width(), fx), Scaled(form.height(), fy));
}

void FitFieldToText(QLabel& field, const QString& widest, QWidget* after, QWidget* before) {
  const QMargins own = field.contentsMargins();
  // The frame, the label's own margins and a little air each side.
  const int around = 2 * field.frameWidth() + own.left() + own.right() + 2 * field.margin() +
                     std::max(0, field.indent()) + 4;
  const int needed =
      static_cast<int>(std::ceil(QFontMetricsF(field.font()).horizontalAdvance(widest))) + around;
  const int extra = needed - field.width();
  if (extra <= 0) return;
  QRect g = field.geometry();
  if (before != nullptr) {
    g.setLeft(g.left() - extra);
    before->move(before->x() - extra, before->y());
  } else {
    g.setRight(g.right() + extra);
    if (after != nullptr) after->move(after->x() + extra, after->y());
  }
  field.setGeometry(g);
}

}  // namespace irdload::ui
