// The program's texts on Windows: the string tables in the user's language (Russian where the
// user's Windows speaks it, English otherwise), filled in; the application title that captions
// every message box.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

namespace irdload::win {

/// String `id` in the user's interface language, else English, else the neutral table.
std::wstring LoadText(UINT id);

/// `text` with "{0}", "{1}"... replaced by the values in order.
std::wstring Fill(std::wstring text, std::initializer_list<std::wstring> values);

/// The program file's name without its folder and extension: "irdload" for irdload.exe.
std::wstring ApplicationTitle();

}  // namespace irdload::win
