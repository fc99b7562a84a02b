// How the command line talks to the person at the console.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace irdload::cli {

/// "irdload-cli: <text>", then the detail indented on its own line when there is one; both
/// Printable.
void Complain(std::ostream& err, const std::string& text, const std::string& detail = {});

/// `text` with control characters and DEL shown as escapes (\n, \t, \x1b), so that a file name
/// cannot move the cursor or rewrite the terminal; other bytes, UTF-8 names among them, stay.
std::string Printable(std::string_view text);

/// The extension as the dialog's file selection sees it: after the last dot of the file name,
/// case-sensitive; a name without one counts as "uuc".
std::string ChosenExtension(const std::string& path);

}  // namespace irdload::cli
