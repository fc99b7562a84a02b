#include "ui/QtMessagePresenter.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QSpacerItem>
#include <QStyle>
#include <algorithm>

namespace irdload::ui {
namespace {

// Room the title bar needs besides the caption: the window menu, close button and frame.
constexpr int kTitleBarButtonsPx = 160;

}  // namespace

std::unique_ptr<QMessageBox> QtMessagePresenter::MakeBox(QWidget* parent,
                                                         const OperatorMessage& message) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setIcon(message.icon);
  box->setWindowTitle(message.caption);
  // Engine texts and OS reasons are plain text; a '<' in a path must not turn into markup.
  box->setTextFormat(Qt::PlainText);
  box->setText(message.text);
  if (!message.detail.isEmpty()) box->setInformativeText(message.detail);
  box->setStandardButtons(QMessageBox::Ok);
  box->setDefaultButton(QMessageBox::Ok);
  box->setWindowModality(Qt::ApplicationModal);
  // Wide enough that the message stays on one line (a path must not break at its slashes) and
  // the caption is not cut, within a share of the screen.
  const QFontMetrics metrics(box->font());
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int widest = screen != nullptr ? screen->availableGeometry().width() * 3 / 5 : 800;
  const int icon = box->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, box.get());
  const int wanted = std::min(
      widest, std::max(metrics.horizontalAdvance(message.text) + icon + 3 * metrics.height(),
                       metrics.horizontalAdvance(message.caption) + kTitleBarButtonsPx));
  if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  return box;
}

void QtMessagePresenter::Show(QWidget* parent, const OperatorMessage& message) {
  const auto box = MakeBox(parent, message);
  // A box with no window to stand over (the start-up's, before the dialog shows) goes to the
  // middle of the screen, not to its corner.
  if (parent == nullptr || !parent->isVisible()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      box->adjustSize();
      box->move(screen->availableGeometry().center() - box->rect().center());
    }
  }
  box->exec();
}

}  // namespace irdload::ui
