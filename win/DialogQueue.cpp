#include "win/DialogQueue.h"

namespace irdload::win {

void DialogQueue::Attach(HWND window) {
  std::lock_guard lk(mu_);
  window_ = window;
  if (!pending_.empty()) NotifyLocked();
}

void DialogQueue::Detach() {
  std::lock_guard lk(mu_);
  window_ = nullptr;
  pending_.clear();
}

void DialogQueue::Post(int key, std::function<void()> call) {
  PostEntry({key, std::move(call), false});
}

void DialogQueue::PostEntry(Entry entry) {
  std::lock_guard lk(mu_);
  pending_.push_back(std::move(entry));
  if (!notified_) NotifyLocked();
}

void DialogQueue::NotifyLocked() {
  if (window_ == nullptr) return;
  // One message for any number of calls: the handler runs all that are queued by then.
  notified_ = ::PostMessageW(window_, kMessage, 0, 0) != 0;
}

void DialogQueue::DropPending(int key) {
  std::lock_guard lk(mu_);
  std::erase_if(pending_, [key](const Entry& e) { return e.key == key; });
}

std::size_t DialogQueue::pending() const {
  std::lock_guard lk(mu_);
  return pending_.size();
}

void DialogQueue::RunPending() {
  for (;;) {
    Entry entry;
    {
      std::lock_guard lk(mu_);
      if (pending_.empty()) {
        notified_ = false;
        break;
      }
      entry = std::move(pending_.front());
      pending_.pop_front();
      // A question opens a box whose own message loop must go on running the calls that come
      // while it is open: they get a message of their own.
      if (entry.asks) {
        notified_ = false;
        if (!pending_.empty()) NotifyLocked();
      }
    }
    if (entry.asks) {
      // What the batch wrote shows before the box opens.
      if (afterBatch_) afterBatch_();
      entry.call();
      return;
    }
    entry.call();
  }
  if (afterBatch_) afterBatch_();
}

}  // namespace irdload::win
