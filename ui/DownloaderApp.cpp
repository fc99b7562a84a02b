#include "ui/DownloaderApp.h"

#include "ui/MainDialog.h"
#include "ui/ProgramIcon.h"
#include "ui/Translations.h"

namespace irdload::ui {

DownloaderApp::DownloaderApp(int& argc, char** argv) : QApplication(argc, argv) {
  // Every window without its own icon, message boxes included, shows the program's.
  setWindowIcon(ProgramIcon());
  InstallTranslation(*this);
}

bool DownloaderApp::InitInstance() {
  MainDialog dialog;
  dialog.exec();
  return false;
}

}  // namespace irdload::ui
