#include "ports/PortAdvice.h"
#include "ports/PortDiagnostics.h"

namespace irdload {

PortAdvice SystemPortAdvice() {
  PortAdvice advice;
  advice.explainOpenFailure = [](const std::string& devicePath, const OsError& err) {
    return ExplainOpenFailure(devicePath, err.code);
  };
  advice.lowerLatency = [](const std::string& devicePath) {
    return LowerFtdiLatencyTimer(devicePath);
  };
  return advice;
}

}  // namespace irdload
