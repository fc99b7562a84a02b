#include "ui/DialogUnits.h"

#include <QFontMetricsF>
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

}  // namespace irdload::ui
