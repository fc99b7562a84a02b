// Carries calls from the download worker to the dialog's thread. Every call is queued on this
// object's thread; a call that must wait for the operator blocks its caller until it has run or
// the caller's stop token is requested, whichever comes first, so a stop never waits on a box.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace irdload::ui {

class DialogThreadCalls final : public QObject {
  Q_OBJECT

 public:
  /// Key of calls that nothing supersedes (questions to the operator).
  static constexpr int kUnkeyed = -1;

  DialogThreadCalls();

  /// Calls posted within this long of the first that waits run together, in one turn of the
  /// event loop: the worker's passes come in bursts of microseconds, and painting each state of
  /// each pass cost the dialog more than a percent of a core; ten pictures a second are as many
  /// as a person reads changing figures at.
  static constexpr std::chrono::milliseconds kBatchWindow{100};

  /// Any thread: runs `call` later on this object's thread, after every call posted before it.
  /// `key` names what the call writes, so that a newer direct write can drop it (DropPending).
  void Post(int key, std::function<void()> call);

  /// This object's thread: runs once after each turn that ran posted calls (to show, at once,
  /// what they wrote).
  void SetAfterBatch(std::function<void()> afterBatch) { afterBatch_ = std::move(afterBatch); }

  /// This object's thread: forgets queued calls with `key`, because a write made right now
  /// supersedes them and they must not overwrite it when they run later.
  void DropPending(int key);

  /// Calls queued and not yet run.
  std::size_t pending() const;

  /// Any thread but this object's: runs `call` on this object's thread and returns its result,
  /// or nothing as soon as `stop` is requested. A call whose stop was requested before it got to
  /// run is skipped.
  template <class Result>
  std::optional<Result> CallAndWait(std::stop_token stop, std::function<Result()> call);

 private:
  struct Entry {
    int key;
    std::function<void()> call;
    bool asks = false;  // a question: it may open a box and run a nested event loop
  };

  void PostEntry(Entry entry);
  void ScheduleLocked();
  // Runs what is queued, oldest first; the queue's mutex orders it all.
  void RunPending();

  mutable std::mutex mu_;
  std::deque<Entry> pending_;
  bool scheduled_ = false;  // a RunPending is queued or running and will see new calls
  QTimer batch_;            // lives on this object's thread; started there by a queued call
  std::function<void()> afterBatch_;
};

template <class Result>
std::optional<Result> DialogThreadCalls::CallAndWait(std::stop_token stop,
                                                     std::function<Result()> call) {
  // Shared with the queued call, which may run after the caller has given up.
  struct Reply {
    std::mutex mu;
    std::condition_variable_any cv;
    std::optional<Result> value;
  };
  if (stop.stop_requested()) return std::nullopt;
  auto reply = std::make_shared<Reply>();
  PostEntry({kUnkeyed,
             [reply, stop, call = std::move(call)] {
               if (stop.stop_requested()) return;
               Result value = call();
               {
                 std::lock_guard lk(reply->mu);
                 reply->value = std::move(value);
               }
               reply->cv.notify_all();
             },
             true});
  std::unique_lock lk(reply->mu);
  reply->cv.wait(lk, stop, [&] { return reply->value.has_value(); });
  return reply->value;
}

}  // namespace irdload::ui
