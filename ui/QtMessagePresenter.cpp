#include "ui/QtMessagePresenter.h"

namespace irdload::ui {

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
  return box;
}

void QtMessagePresenter::Show(QWidget* parent, const OperatorMessage& message) {
  MakeBox(parent, message)->exec();
}

}  // namespace irdload::ui
