#include "win/FieldFit.h"

namespace irdload::win {

void FitFieldToText(HWND dialog, int field, const wchar_t* widest, Grow grow, HWND neighbour) {
  HWND control = ::GetDlgItem(dialog, field);
  if (control == nullptr) return;
  const HDC dc = ::GetDC(control);
  const HGDIOBJ old =
      ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE text{};
  ::GetTextExtentPoint32W(dc, widest, static_cast<int>(::wcslen(widest)), &text);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  RECT box{};
  RECT inside{};
  ::GetWindowRect(control, &box);
  ::GetClientRect(control, &inside);
  ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&box), 2);
  // The client edge and a little air each side.
  const int frame = (box.right - box.left) - inside.right;
  const int extra = text.cx + frame + 4 - (box.right - box.left);
  if (extra <= 0) return;
  const int left = grow == Grow::Right ? box.left : box.left - extra;
  ::SetWindowPos(control, nullptr, left, box.top, box.right - box.left + extra,
                 box.bottom - box.top, SWP_NOZORDER | SWP_NOACTIVATE);
  if (neighbour == nullptr) return;
  RECT at{};
  ::GetWindowRect(neighbour, &at);
  ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&at), 2);
  ::SetWindowPos(neighbour, nullptr, at.left + (grow == Grow::Right ? extra : -extra), at.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace irdload::win
