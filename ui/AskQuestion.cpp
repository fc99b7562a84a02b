#include "ui/AskQuestion.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>

#include "ui/ApplicationTitle.h"

namespace irdload::ui {

bool AskQuestion(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, ApplicationTitle(), text,
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setObjectName(QStringLiteral("question"));
  // A stray Enter or Space must not end what runs.
  box.setDefaultButton(QMessageBox::No);
  box.button(QMessageBox::Yes)->setText(QCoreApplication::translate("AskQuestion", "&Yes"));
  box.button(QMessageBox::No)->setText(QCoreApplication::translate("AskQuestion", "&No"));
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace irdload::ui
