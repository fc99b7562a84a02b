#include "ports/PortAdvice.h"
#include "ports/PortDiagnostics.h"

namespace irdload {

PortAdvice SystemPortAdvice() {
  PortAdvice advice;
  advice.explainOpenFailure = [](const std::string& devicePath,
                                 const OsError& err) -> std::optional<ExplainedOpenFailure> {
    OpenFailureReason reason = DiagnoseOpenFailure(devicePath, err.code);
    if (reason.kind == OpenFailureKind::Unexplained) return std::nullopt;
    reason.systemText = err.text;
    std::string text = DescribeOpenFailure(reason);
    return ExplainedOpenFailure{std::move(reason), std::move(text)};
  };
  advice.lowerLatency = [](const std::string& devicePath) {
    return LowerFtdiLatencyTimer(devicePath);
  };
  return advice;
}

}  // namespace irdload
