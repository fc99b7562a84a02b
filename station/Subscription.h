// One subscriber's view of a station: its own bounded queue of the ports' events and its own
// wake-up descriptor. Each front end (the terminal table, JSON Lines, the dialog's station window,
// a dashboard) takes one, so that none waits for another and a slow one never slows a load: it
// loses events (and is told how many) rather than hold a port up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "unit/EventQueue.h"
#include "unit/UnitEvents.h"

namespace irdload::station {

class Subscription {
 public:
  explicit Subscription(std::size_t capacity);
  ~Subscription();
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  /// Readable when an event other than progress waits (progress waits for the reader's own
  /// tick); Take clears it.
  int wakeFd() const { return wakeFd_; }
  /// Every waiting event, oldest first; `dropped` gets how many were lost since the last call
  /// because the queue was full.
  std::vector<unit::PortEvent> Take(std::uint64_t* dropped = nullptr);

  /// From the station's ports.
  void Deliver(const unit::PortEvent& event);

 private:
  unit::EventQueue queue_;
  int wakeFd_ = -1;
};

}  // namespace irdload::station
