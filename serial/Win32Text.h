// Text between the program, which keeps UTF-8 throughout, and Windows' wide-character calls, so
// that a path or a message is whole whatever code page the system runs with.
#pragma once

#include <string>

namespace irdload {

/// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::wstring WideFromUtf8(const std::string& utf8);

/// UTF-16 to UTF-8.
std::string Utf8FromWide(const std::wstring& wide);

}  // namespace irdload
