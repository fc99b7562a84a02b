#include "station/Subscription.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace irdload::station {

Subscription::Subscription(std::size_t capacity)
    : queue_(capacity), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Subscription::~Subscription() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::vector<unit::PortEvent> Subscription::Take(std::uint64_t* dropped) {
  std::uint64_t count = 0;
  if (wakeFd_ >= 0) [[maybe_unused]]
    const ssize_t n = ::read(wakeFd_, &count, sizeof count);
  return queue_.Take(dropped);
}

void Subscription::Deliver(const unit::PortEvent& event) {
  const bool progress = std::holds_alternative<unit::ProgressShown>(event.body);
  queue_.Push(event);
  if (!progress && wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
  }
}

}  // namespace irdload::station
