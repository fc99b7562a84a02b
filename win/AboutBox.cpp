#include "win/AboutBox.h"

#include "win/resource.h"

namespace irdload::win {
namespace {

INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      // Centred on its owner, as the framework centres a template without a position.
      RECT owner{};
      RECT box{};
      ::GetWindowRect(::GetWindow(window, GW_OWNER), &owner);
      ::GetWindowRect(window, &box);
      const int width = box.right - box.left;
      const int height = box.bottom - box.top;
      ::SetWindowPos(window, nullptr, owner.left + (owner.right - owner.left - width) / 2,
                     owner.top + (owner.bottom - owner.top - height) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowAboutBox(HWND owner) {
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, Procedure,
                    0);
}

}  // namespace irdload::win
