// The About box, template 100: modal, centred on its owner; OK, Enter, Escape and the window's
// close end it.
#pragma once

#include <windows.h>

namespace irdload::win {

void ShowAboutBox(HWND owner);

}  // namespace irdload::win
