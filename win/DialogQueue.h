// Carries calls from the download worker to the dialog's thread as posted window messages: the
// worker never touches a window. A call that must wait for the operator (a message box, a file
// choice) blocks its caller until it has run on the dialog's thread or the caller's stop token
// is requested, whichever comes first, so a stop never waits on a box.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace irdload::win {

class DialogQueue {
 public:
  /// The message that tells the dialog calls are waiting; its handler calls RunPending().
  static constexpr UINT kMessage = WM_APP + 1;
  /// Key of calls that nothing supersedes (questions to the operator).
  static constexpr int kUnkeyed = -1;
  /// How soon a caller waiting for the operator sees its stop.
  static constexpr std::chrono::milliseconds kStopCheck{50};

  /// Dialog's thread: posts go to `window` from now on (calls posted before go too).
  void Attach(HWND window);
  /// Dialog's thread, as the window goes: calls posted from now on are dropped.
  void Detach();

  /// Any thread: runs `call` later on the dialog's thread, after every call posted before it.
  /// `key` names what the call writes, so that a newer direct write can drop it (DropPending).
  void Post(int key, std::function<void()> call);
  /// Dialog's thread: forgets queued calls with `key`; a write made right now supersedes them.
  void DropPending(int key);
  /// Dialog's thread: runs once after each turn that ran posted calls, and before a question.
  void SetAfterBatch(std::function<void()> afterBatch) { afterBatch_ = std::move(afterBatch); }
  /// Dialog's thread, on kMessage: runs what is queued, oldest first.
  void RunPending();
  /// Calls queued and not yet run.
  std::size_t pending() const;

  /// Any thread but the dialog's: runs `call` there and returns its result, or nothing as soon
  /// as `stop` is requested. A call whose stop came before it got to run is skipped.
  template <class Result>
  std::optional<Result> CallAndWait(std::stop_token stop, std::function<Result()> call);

 private:
  struct Entry {
    int key = kUnkeyed;
    std::function<void()> call;
    bool asks = false;  // a question: it opens a box with a message loop of its own
  };
  void PostEntry(Entry entry);
  void NotifyLocked();

  mutable std::mutex mu_;
  std::deque<Entry> pending_;
  HWND window_ = nullptr;
  bool notified_ = false;  // a kMessage is on its way and will see new calls
  std::function<void()> afterBatch_;
};

template <class Result>
std::optional<Result> DialogQueue::CallAndWait(std::stop_token stop, std::function<Result()> call) {
  // Shared with the queued call, which may run after the caller has given up.
  struct Reply {
    std::mutex mu;
    std::condition_variable cv;
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
  // The stop is looked at every kStopCheck, not woken by a stop callback: with MinGW's threads a
  // wait woken through a stop token can miss its wake-up and never return.
  while (!reply->value && !stop.stop_requested()) reply->cv.wait_for(lk, kStopCheck);
  return reply->value;
}

}  // namespace irdload::win
