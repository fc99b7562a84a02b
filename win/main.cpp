// irdload.exe: loads a firmware upgrade into a satellite receiver over a serial line. The whole
// life of the program is one modal dialog.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "win/MainWindow.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
  ::InitCommonControlsEx(&controls);
  irdload::win::MainWindow dialog;
  dialog.Run();
  return 0;
}
