#include "engine/Events.h"

namespace irdload {

std::string_view OutcomeName(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::Success:
      return "success";
    case OutcomeKind::Failed:
      return "failed";
    case OutcomeKind::NoResponse:
      return "no-response";
    case OutcomeKind::PortOpenFailed:
      return "port-open-failed";
    case OutcomeKind::FileRefused:
      return "file-refused";
    case OutcomeKind::Stopped:
      return "stopped";
  }
  return "unknown";
}

std::string_view FailureReasonName(FailureReason reason) {
  switch (reason) {
    case FailureReason::None:
      return "none";
    case FailureReason::IrdReportedFailure:
      return "ird-reported-failure";
    case FailureReason::OutOfStep:
      return "out-of-step";
    case FailureReason::HeaderRejected:
      return "header-rejected";
    case FailureReason::PacketRejected:
      return "packet-rejected";
    case FailureReason::SecondFileNotLoaded:
      return "second-file-not-loaded";
    case FailureReason::AdapterDisconnected:
      return "adapter-disconnected";
    case FailureReason::AnswersNotHeard:
      return "answers-not-heard";
  }
  return "unknown";
}

std::string_view PhaseName(Phase phase) {
  switch (phase) {
    case Phase::Connecting:
      return "connecting";
    case Phase::Header:
      return "header";
    case Phase::Data:
      return "data";
    case Phase::Terminating:
      return "terminating";
    case Phase::Ended:
      return "ended";
    case Phase::Idle:
      return "idle";
  }
  return "unknown";
}

}  // namespace irdload
