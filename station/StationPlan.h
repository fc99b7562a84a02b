// What every port of a station shares, fixed before the ports start.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/ProtocolMachine.h"
#include "ports/PortInventory.h"
#include "serial/SerialPort.h"
#include "unit/UnitFiles.h"

namespace irdload::unit {
class ReportFolder;
}  // namespace irdload::unit

namespace irdload::station {

/// What arms a port's next unit once one has ended, so that a receiver whose loader answers the
/// connect request again after its load is never loaded twice.
enum class NextUnit {
  Prompt,  ///< the operator presses Enter or scans the next unit's id
  Replug,  ///< the adapter vanished and came back
  Quiet,   ///< the IRD left connect requests unanswered for `quiet` (it rebooted)
};

struct StationPlan {
  std::vector<std::string> files;          ///< FILE, or FILE and SECOND
  std::vector<unit::CheckedFile> checked;  ///< the files as checked at the start (Station::Start)
  std::optional<std::uint32_t> units;      ///< per port; none: until stopped
  int retries = 0;                         ///< whole-unit retries on the same IRD
  NextUnit nextUnit = NextUnit::Replug;
  std::chrono::seconds quiet{5};
  bool askUnitId = false;  ///< every unit waits for its id (Station::Arm)
  /// Starting the station arms every port's first unit; false: the first waits like the next.
  bool armFirst = true;
  unit::ReportFolder* report = nullptr;    ///< none: no records
  std::string traceDir;                    ///< empty: no traces
  std::chrono::seconds connectTimeout{0};  ///< 0: call until the IRD answers
  std::chrono::milliseconds replyWait = SerialPort::kDefaultReplyWait;
  MachineLimits limits;
  InventoryRoots roots;
  std::string toolVersion = "irdload 1.0.0";
  std::string host;
};

}  // namespace irdload::station
