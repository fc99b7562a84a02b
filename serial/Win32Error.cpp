#include "serial/Win32Error.h"

#include <windows.h>

#include "serial/Win32Text.h"

namespace irdload {

std::string WindowsErrorText(unsigned long code) {
  wchar_t* buffer = nullptr;
  // Wide, so that the text is whole in any language Windows speaks.
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer),
      0, nullptr);
  std::string text = n > 0 && buffer ? Utf8FromWide(std::wstring(buffer, n)) : std::string();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  const std::string number = "error " + std::to_string(code);
  return text.empty() ? number : text + " (" + number + ")";
}

}  // namespace irdload
