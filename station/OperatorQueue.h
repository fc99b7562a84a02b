// The operator's answers (a press of Enter or Start, a scanned unit id) matched with the ports
// that wait for one, first come first served: a barcode scanner types ids in the order the
// operator picks up the units, and the port that has waited longest takes the next.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "station/StationPlan.h"
#include "unit/UnitEvents.h"

namespace irdload::station {

using unit::PortPhase;

class OperatorQueue {
 public:
  /// `arm` hands port `port` its answer.
  using Arm = std::function<void(std::size_t port, std::optional<std::string> answer)>;

  OperatorQueue(NextUnit nextUnit, Arm arm)
      : prompt_(nextUnit == NextUnit::Prompt), arm_(std::move(arm)) {}

  /// A port's phase changed: it now waits for an answer, or no longer does.
  void Phase(std::size_t port, PortPhase phase);
  /// An answer typed or scanned; kept until a port asks when none does yet.
  void Give(std::string answer);
  /// `port` got its go another way (its own button): it asks no more.
  void Withdraw(std::size_t port);
  /// True when `port` waits for an answer.
  bool Asking(std::size_t port) const;
  bool anyoneAsking() const { return !asking_.empty(); }
  /// Answers typed ahead of the ports that will want them.
  std::size_t waiting() const { return answers_.size(); }

 private:
  void Match();

  const bool prompt_;
  const Arm arm_;
  std::deque<std::size_t> asking_;
  std::deque<std::string> answers_;
};

}  // namespace irdload::station
