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

}  // namespace irdload::unit
