#include "ui/ProgramIcon.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterIrdloadResources() {
  Q_INIT_RESOURCE(irdload);
}

namespace irdload::ui {

void RegisterProgramIcon() {
  RegisterIrdloadResources();
}

QIcon ProgramIcon() {
  RegisterProgramIcon();
  QIcon icon;
  icon.addFile(QString::fromLatin1(kProgramIcon32), QSize(32, 32));
  icon.addFile(QString::fromLatin1(kProgramIcon16), QSize(16, 16));
  return icon;
}

}  // namespace irdload::ui
