// How the command line talks to the person at the console.
#pragma once

#include <ostream>
#include <string>

namespace irdload::cli {

/// "irdload-cli: <text>", then the detail indented on its own line when there is one.
void Complain(std::ostream& err, const std::string& text, const std::string& detail = {});

/// The extension as the dialog's file selection sees it: after the last dot of the file name,
/// case-sensitive; a name without one counts as "uuc".
std::string ChosenExtension(const std::string& path);

}  // namespace irdload::cli
