#include "unit/UnitEvents.h"

namespace irdload::unit {

std::string_view PhaseName(PortPhase phase) {
  switch (phase) {
    case PortPhase::WaitingForAdapter:
      return "waiting-for-adapter";
    case PortPhase::WaitingForNextUnit:
      return "waiting-for-next-unit";
    case PortPhase::WaitingForUnitId:
      return "waiting-for-unit-id";
    case PortPhase::Calling:
      return "calling";
    case PortPhase::SendingHeader:
      return "sending-header";
    case PortPhase::Transferring:
      return "transferring";
    case PortPhase::Terminating:
      return "terminating";
    case PortPhase::Done:
      return "done";
    case PortPhase::Halted:
      return "halted";
  }
  return "unknown";
}

std::string_view PhaseText(PortPhase phase) {
  switch (phase) {
    case PortPhase::WaitingForAdapter:
      return "waiting for the adapter";
    case PortPhase::WaitingForNextUnit:
      return "waiting for the next unit";
    case PortPhase::WaitingForUnitId:
      return "waiting for the unit's id";
    case PortPhase::Calling:
      return "calling the IRD";
    case PortPhase::SendingHeader:
      return "sending the header";
    case PortPhase::Transferring:
      return "loading";
    case PortPhase::Terminating:
      return "finishing";
    case PortPhase::Done:
      return "done";
    case PortPhase::Halted:
      return "halted";
  }
  return "unknown";
}

std::optional<PortPhase> PortPhaseOf(Phase phase) {
  switch (phase) {
    case Phase::Connecting:
      return PortPhase::Calling;
    case Phase::Header:
      return PortPhase::SendingHeader;
    case Phase::Data:
      return PortPhase::Transferring;
    case Phase::Terminating:
      return PortPhase::Terminating;
    case Phase::Ended:
    case Phase::Idle:
      break;
  }
  return std::nullopt;
}

}  // namespace irdload::unit
