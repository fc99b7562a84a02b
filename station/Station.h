// A production bench: one unit run per port, each port's loop on its own thread, one hot-plug
// watcher for all their paths. The contract every front end uses, and nothing more:
// - Subscribe(): a queue of the ports' events of the subscriber's own, any number of them;
// - Snapshot(): every port's state as a value (and SnapshotJson for a dashboard);
// - Give(answer): the operator's Enter or scanned id, to the port that has waited longest;
//   Go(port): a port's own start button; StopUnit, StopStarting, StopNow.
// The station arms its ports itself: no front end feeds phases back into it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/HotPlugWatcher.h"
#include "station/OperatorQueue.h"
#include "station/PortRunner.h"
#include "station/PortSpec.h"
#include "station/StationPlan.h"
#include "station/StationSnapshot.h"
#include "station/Subscription.h"
#include "unit/ReportFolder.h"

namespace irdload::station {

/// The plan every port shares (files, units, what arms the next unit, ...) and the ports.
/// `report`, `checked` and `host` are filled in by Start.
struct StationOptions : StationPlan {
  std::vector<PortSpec> ports;
  std::string reportDir;  ///< empty: no records
};

struct StationSummary {
  std::uint32_t ok = 0, failed = 0;
  bool stopped = false;  ///< StopStarting or StopNow was called
  bool halted = false;   ///< a port could not go on (see its messages)
};

class Station final : private PortHome {
 public:
  /// Events a subscriber may have waiting before the newest are dropped.
  static constexpr std::size_t kSubscriberCapacity = 8192;

  explicit Station(StationOptions options);
  /// Stops every port at once and joins them.
  ~Station() override;
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  /// Checks the ports, the files and the report and trace folders, then starts the watcher and
  /// the ports. False with a sentence for the operator when anything is refused; nothing has
  /// been touched then but the report folder's probe.
  bool Start(std::string* error);

  std::size_t portCount() const { return options_.ports.size(); }
  const PortSpec& port(std::size_t i) const { return options_.ports[i]; }

  /// A queue of every event from now on; take one before Start to miss none.
  std::shared_ptr<Subscription> Subscribe(std::size_t capacity = kSubscriberCapacity);
  StationSnapshot Snapshot() const;

  /// The operator's answer: Enter (empty) or a scanned unit id, for the port that has waited
  /// longest for one (kept until a port asks, when none does yet). An id no record could hold
  /// is refused with a message to every subscriber.
  void Give(std::string answer);
  /// A port's own go: answers its wait for the next unit (or for its adapter) as Enter would,
  /// and cuts short a wait for a replug or a quiet line. Nothing while it loads or waits for its
  /// unit's id.
  void Go(std::size_t port);
  void GoAll();
  /// True when a port waits for the operator's answer.
  bool AnyoneAsking() const;
  /// Ends port `i`'s running unit now; the port goes on to wait for its next unit.
  void StopUnit(std::size_t i);
  /// Running units finish; none starts. Every port ends once its unit has.
  void StopStarting();
  /// Running units end now (recorded as stopped).
  void StopNow();

  /// True once every port's loop has ended.
  bool Finished() const;
  StationSummary Summary() const;

 private:
  // PortHome
  void Post(std::size_t port, unit::PortEventBody body) override;
  void Halt() override;
  std::optional<std::string> Claim(std::size_t port, const DeviceId& device) override;
  void Release(std::size_t port) override;
  void Publish(const unit::PortEvent& event);

  StationOptions options_;
  StationPlan plan_;
  std::unique_ptr<unit::ReportFolder> report_;
  std::vector<std::unique_ptr<PortRunner>> ports_;
  HotPlugWatcher watcher_;

  mutable std::mutex rowsMu_;
  std::vector<PortSnapshot> rows_;
  mutable std::mutex subscribersMu_;
  std::vector<std::weak_ptr<Subscription>> subscribers_;
  mutable std::mutex answersMu_;
  OperatorQueue answers_;
  std::mutex claimsMu_;
  std::map<DeviceId, std::size_t> claims_;  // which port holds which device
  std::atomic<bool> stopped_{false}, halted_{false};
};

}  // namespace irdload::station
