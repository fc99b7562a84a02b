// The report that the receiving thread writes and any other thread reads, behind one mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "sim/LineClock.h"
#include "sim/VirtualIrd.h"

namespace irdload::sim {

class ReportStore {
 public:
  // Runs `change` on the report under the lock, then wakes the waiters.
  template <typename Change>
  void Update(Change&& change) {
    {
      std::lock_guard lock(mutex_);
      change(report_);
    }
    changed_.notify_all();
  }

  // Runs `put` (which puts the byte on the line and says whether it went) under the lock and
  // logs the byte when it went, so that whoever has seen the byte arrive finds it logged.
  // `timed` also notes when it went, for Report::timing.
  template <typename Put>
  bool PutAndLogToPc(std::uint8_t byte, Put&& put, bool timed = false) {
    std::lock_guard lock(mutex_);
    if (!put()) return false;
    LogToPcLocked(byte);
    if (timed) report_.timing.replies.push_back({byte, MonotonicNow(), MonotonicTime{0}});
    return true;
  }

  Report Snapshot() const;

  void AppendFromPc(const std::uint8_t* data, std::size_t len);
  void CountUnexpected();
  void CountFault(FaultKind kind);

  // Timing: bytes from the PC were read at `readAt`, which answers every byte put on the line
  // since the previous read.
  void NoteReadFromPc(MonotonicTime readAt);
  // Keeps the first connect request's line start.
  void NoteConnectRequest(MonotonicTime lineStart);
  // Keeps the latest terminate answer's arrival.
  void NoteTerminateAnswer(MonotonicTime arrived);

  // The thread has ended; waiters for more terminated files give up.
  void MarkStopped();

  bool WaitForTerminatedFiles(std::size_t n, std::chrono::milliseconds timeout) const;

 private:
  void LogToPcLocked(std::uint8_t byte);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Report report_;
  std::size_t repliesAnswered_ = 0;  // report_.timing.replies before this index have an answer
  bool stopped_ = false;
};

}  // namespace irdload::sim
