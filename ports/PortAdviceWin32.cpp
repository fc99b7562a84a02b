#include <windows.h>

#include "ports/PortAdvice.h"

namespace irdload {
namespace {

OpenFailureKind KindOf(int code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenFailureKind::NoSuchPortOnPc;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return OpenFailureKind::PortInUse;
    default:
      return OpenFailureKind::Unexplained;
  }
}

std::string Hint(OpenFailureKind kind) {
  return kind == OpenFailureKind::NoSuchPortOnPc
             ? "; no such port on this PC (irdload-cli ports lists them)"
             : "; another program may have the port open";
}

}  // namespace

PortAdvice SystemPortAdvice() {
  PortAdvice advice;
  advice.explainOpenFailure = [](const std::string& devicePath,
                                 const OsError& err) -> std::optional<ExplainedOpenFailure> {
    const OpenFailureKind kind = KindOf(err.code);
    if (kind == OpenFailureKind::Unexplained) return std::nullopt;
    OpenFailureReason reason;
    reason.kind = kind;
    reason.devicePath = devicePath;
    reason.code = err.code;
    reason.systemText = err.text;
    return ExplainedOpenFailure{std::move(reason), err.text + Hint(kind)};
  };
  // Windows keeps an FTDI adapter's latency timer in the registry, for an administrator.
  return advice;
}

}  // namespace irdload
