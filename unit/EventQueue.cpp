#include "unit/EventQueue.h"

namespace irdload::unit {

bool EventQueue::Push(PortEvent event) {
  std::lock_guard lk(mu_);
  if (std::holds_alternative<ProgressShown>(event.body)) {
    // Newer progress replaces what the reader has not seen, as long as nothing of its port came
    // after it: the order of one port's events never changes.
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
      if (it->port != event.port) continue;
      if (std::holds_alternative<ProgressShown>(it->body)) {
        *it = std::move(event);
        return true;
      }
      break;
    }
  }
  if (events_.size() >= capacity_) {
    ++dropped_;
    return false;
  }
  events_.push_back(std::move(event));
  return true;
}

std::vector<PortEvent> EventQueue::Take(std::uint64_t* dropped) {
  std::lock_guard lk(mu_);
  std::vector<PortEvent> out(std::make_move_iterator(events_.begin()),
                             std::make_move_iterator(events_.end()));
  events_.clear();
  if (dropped) *dropped = dropped_;
  dropped_ = 0;
  return out;
}

}  // namespace irdload::unit
