// A paced serial line between two programs: two pseudo-terminals joined by a thread that
// passes every byte on only once its line time at the baud rate has passed, in each direction.
// Lets tools that expect a real cable (such as an XMODEM sender and receiver) run at a true
// line speed without one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace irdload::sim {

/// The schedule of one direction of a paced line. A byte is delivered one line time after the
/// later of the moment it was read and the previous byte's delivery, so that bytes written in a
/// burst leave one line time apart and a byte never overtakes the one before it. Instants are
/// CLOCK_MONOTONIC readings, as the time since that clock's origin.
class PacedByteQueue {
 public:
  explicit PacedByteQueue(std::chrono::nanoseconds byteTime);

  /// Queues `len` bytes read at `readAt`.
  void Push(const std::uint8_t* data, std::size_t len, std::chrono::nanoseconds readAt);

  /// How many of the oldest bytes are due at `now` (their delivery time has come).
  std::size_t DueCount(std::chrono::nanoseconds now) const;
  /// Copies up to `max` of the oldest bytes into `out`; returns how many.
  std::size_t CopyFront(std::uint8_t* out, std::size_t max) const;
  /// Forgets the `n` oldest bytes (those just delivered).
  void Drop(std::size_t n);

  /// Delivery time of the oldest byte; nothing when the queue is empty.
  std::optional<std::chrono::nanoseconds> NextDue() const;
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint8_t byte;
    std::chrono::nanoseconds due;
  };
  std::deque<Entry> entries_;
  const std::chrono::nanoseconds byteTime_;
  std::chrono::nanoseconds lastDue_{0};
};

/// Two raw pseudo-terminals whose slaves are the two ends of one paced line: what a program
/// writes on one end's slave comes out of the other end's slave, each byte one line time after
/// the previous (10 bit times: start, 8 data, stop). Both slaves are held open for the relay's
/// life, so a program may close and reopen its end. All public calls may be made from any
/// thread.
class PacingRelay {
 public:
  enum class End { A, B };

  /// `baud` > 0: the line speed both directions are paced to.
  explicit PacingRelay(std::uint32_t baud);
  /// Stops and joins the thread and closes every descriptor; bytes still queued are lost.
  ~PacingRelay();

  PacingRelay(const PacingRelay&) = delete;
  PacingRelay& operator=(const PacingRelay&) = delete;

  /// Opens both pseudo-terminals (raw) and starts the thread. False with the reason (call and
  /// errno text) in `error` when any step fails, or when already started.
  bool Start(std::string* error);

  /// Path of an end's slave device; empty before a successful Start().
  const std::string& SlavePath(End end) const;

  /// Bytes delivered so far from `from` to the other end.
  std::uint64_t BytesDelivered(End from) const;

  /// When the line was in use, as CLOCK_MONOTONIC readings (time since that clock's origin):
  /// the first byte read from either end, and the latest byte from `from` written out to the
  /// other end. Zero while there was none.
  std::chrono::nanoseconds FirstByteReadAt() const;
  std::chrono::nanoseconds LastByteDeliveredAt(End from) const;

  /// Stops the thread; the descriptors stay open until destruction. Safe to call twice.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace irdload::sim
