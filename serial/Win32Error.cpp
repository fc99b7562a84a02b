#include "serial/Win32Error.h"

#include <windows.h>

namespace irdload {

std::string WindowsErrorText(unsigned long code) {
  char* buffer = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0,
      nullptr);
  std::string text = n > 0 && buffer ? std::string(buffer, n) : std::string();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  const std::string number = "error " + std::to_string(code);
  return text.empty() ? number : text + " (" + number + ")";
}

}  // namespace irdload
