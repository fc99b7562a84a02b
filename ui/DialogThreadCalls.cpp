#include "ui/DialogThreadCalls.h"

#include <algorithm>

namespace irdload::ui {

void DialogThreadCalls::Post(int key, std::function<void()> call) {
  // Posting under the lock makes the queue's mutex order this thread's writes before the run.
  std::lock_guard lk(mu_);
  pending_.push_back({key, std::move(call)});
  QMetaObject::invokeMethod(this, "RunOldest", Qt::QueuedConnection);
}

void DialogThreadCalls::DropPending(int key) {
  std::lock_guard lk(mu_);
  std::erase_if(pending_, [key](const Entry& e) { return e.key == key; });
}

std::size_t DialogThreadCalls::pending() const {
  std::lock_guard lk(mu_);
  return pending_.size();
}

void DialogThreadCalls::RunOldest() {
  std::function<void()> call;
  {
    std::lock_guard lk(mu_);
    if (pending_.empty()) return;  // dropped by a newer direct write
    call = std::move(pending_.front().call);
    pending_.pop_front();
  }
  // Not under the lock: a call may open a modal box whose event loop runs later calls.
  call();
}

}  // namespace irdload::ui
