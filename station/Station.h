// A production bench: one engine per port, each port's loop on its own thread, one hot-plug
// watcher for all their paths. Front-end neutral: commands go in (Arm, StopStarting, StopNow),
// events and snapshots come out, and a front end (the command line's table or JSON lines, the
// dialog's station window) drains them on its own event loop when wakeFd() is readable.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/HotPlugWatcher.h"
#include "station/PortMailbox.h"
#include "station/PortSpec.h"
#include "station/StationPlan.h"
#include "unit/ReportFolder.h"

namespace irdload::station {

/// The plan every port shares (files, units, what arms the next unit, ...) and the ports.
/// `report` and `host` are filled in by Start.
struct StationOptions : StationPlan {
  std::vector<PortSpec> ports;
  std::string reportDir;  ///< empty: no records
};

struct StationSummary {
  std::uint32_t ok = 0, failed = 0;
  bool stopped = false;  ///< StopStarting or StopNow was called
  bool halted = false;   ///< a port could not go on (see its messages)
};

class Station {
 public:
  explicit Station(StationOptions options);
  /// Stops every port at once and joins them.
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  /// Checks the ports, the files and the report and trace folders, then starts the watcher and
  /// the ports. False with a sentence for the operator when anything is refused; nothing has
  /// been touched then but the report folder's probe.
  bool Start(std::string* error);

  std::size_t portCount() const { return ports_.size(); }
  const PortSpec& port(std::size_t i) const { return options_.ports[i]; }

  /// The operator's go for port `i`'s next unit, or its unit id (askUnitId). It also cuts short
  /// a wait for a replug or a quiet line.
  void Arm(std::size_t i, std::optional<std::string> unitId);
  /// Ends port `i`'s running unit now; the port goes on to wait for its next unit.
  void StopUnit(std::size_t i);
  /// Running units finish; none starts. Every port ends once its unit has.
  void StopStarting();
  /// Running units end now (recorded as stopped).
  void StopNow();

  /// Readable when an event other than progress is waiting; read it (8 bytes) to clear it.
  int wakeFd() const { return wakeFd_; }
  /// Every waiting event, port by port, each port's oldest first.
  std::vector<PortEvent> TakeEvents();
  std::vector<PortSnapshot> Snapshots() const;
  /// True once every port's loop has ended.
  bool Finished() const;
  StationSummary Summary() const;

 private:
  struct Port;

  StationOptions options_;
  StationPlan plan_;
  std::unique_ptr<unit::ReportFolder> report_;
  int wakeFd_ = -1;
  std::vector<std::unique_ptr<Port>> ports_;
  HotPlugWatcher watcher_;
  std::atomic<bool> stopped_{false}, halted_{false};
};

}  // namespace irdload::station
