#include <windows.h>

#include "ports/PortAdvice.h"

namespace irdload {
namespace {

std::string Hint(int code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "; no such port on this PC (irdload-cli ports lists them)";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "; another program may have the port open";
    default:
      return "";
  }
}

}  // namespace

PortAdvice SystemPortAdvice() {
  PortAdvice advice;
  advice.explainOpenFailure = [](const std::string&, const OsError& err) {
    const std::string hint = Hint(err.code);
    return hint.empty() ? std::string() : err.text + hint;
  };
  // Windows keeps an FTDI adapter's latency timer in the registry, for an administrator.
  return advice;
}

}  // namespace irdload
