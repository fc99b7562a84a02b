// The system's own words for a Windows error code, for messages that carry the reason.
#pragma once

#include <string>

namespace irdload {

/// FormatMessage's text for `code` without its line end, then " (error N)"; "error N" alone
/// when Windows has no text for it.
std::string WindowsErrorText(unsigned long code);

}  // namespace irdload
