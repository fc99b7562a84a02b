#include "ui/DialogThreadCalls.h"

#include <algorithm>

namespace irdload::ui {

DialogThreadCalls::DialogThreadCalls() {
  batch_.setSingleShot(true);
  batch_.setInterval(kBatchWindow);
  connect(&batch_, &QTimer::timeout, this, &DialogThreadCalls::RunPending);
}

void DialogThreadCalls::Post(int key, std::function<void()> call) {
  PostEntry({key, std::move(call), false});
}

void DialogThreadCalls::PostEntry(Entry entry) {
  // Posting under the lock makes the queue's mutex order this thread's writes before the run.
  std::lock_guard lk(mu_);
  pending_.push_back(std::move(entry));
  if (!scheduled_) ScheduleLocked();
}

void DialogThreadCalls::ScheduleLocked() {
  scheduled_ = true;
  // A timer starts only on its own thread, whichever thread posts. By name, not by member
  // pointer: the member-pointer form builds its call object here and reads it on the dialog's
  // thread in our own code, ordered only by Qt's event queue lock, which the thread sanitizer
  // cannot see; by name both ends stay inside Qt. The run itself is ordered by mu_.
  QMetaObject::invokeMethod(&batch_, "start", Qt::QueuedConnection);
}

void DialogThreadCalls::DropPending(int key) {
  std::lock_guard lk(mu_);
  std::erase_if(pending_, [key](const Entry& e) { return e.key == key; });
}

std::size_t DialogThreadCalls::pending() const {
  std::lock_guard lk(mu_);
  return pending_.size();
}

void DialogThreadCalls::RunPending() {
  for (;;) {
    Entry entry;
    {
      std::lock_guard lk(mu_);
      if (pending_.empty()) {
        scheduled_ = false;
        break;
      }
      entry = std::move(pending_.front());
      pending_.pop_front();
      // A question may open a box whose event loop must go on running the calls that come
      // while it is open: they get a run of their own.
      if (entry.asks) {
        scheduled_ = false;
        if (!pending_.empty()) ScheduleLocked();
      }
    }
    if (entry.asks) {
      // What the batch wrote shows before the box opens, and a write the operator makes while
      // it is open is not overwritten by it afterwards.
      if (afterBatch_) afterBatch_();
      entry.call();
      return;
    }
    // Not under the lock: a call may open a modal box.
    entry.call();
  }
  if (afterBatch_) afterBatch_();
}

}  // namespace irdload::ui
