#include "ui/ApplicationTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace irdload::ui {

QString ApplicationTitleFor(const QString& programPath) {
  return QFileInfo(programPath).completeBaseName();
}

QString ApplicationTitle() {
  return ApplicationTitleFor(QCoreApplication::applicationFilePath());
}

}  // namespace irdload::ui
