#include "station/OperatorQueue.h"

#include <algorithm>

namespace irdload::station {

void OperatorQueue::Phase(std::size_t port, PortPhase phase) {
  const bool asks =
      phase == PortPhase::WaitingForUnitId || (prompt_ && phase == PortPhase::WaitingForNextUnit);
  std::erase(asking_, port);
  if (asks) asking_.push_back(port);
  Match();
}

void OperatorQueue::Give(std::string answer) {
  answers_.push_back(std::move(answer));
  Match();
}

void OperatorQueue::Withdraw(std::size_t port) {
  std::erase(asking_, port);
}

bool OperatorQueue::Asking(std::size_t port) const {
  return std::find(asking_.begin(), asking_.end(), port) != asking_.end();
}

void OperatorQueue::Match() {
  while (!asking_.empty() && !answers_.empty()) {
    const std::size_t port = asking_.front();
    asking_.pop_front();
    std::string answer = std::move(answers_.front());
    answers_.pop_front();
    arm_(port, std::move(answer));
  }
}

}  // namespace irdload::station
