// The IRD's side of one line with time but without I/O: what the PC's bytes make the IRD say,
// and when each byte it says reaches the PC. The protocol's decisions are IrdReceiver's; this adds
// what a real line and a real receiver do around them: the line's pace, the IRD's turnaround, a
// reply repeated after a silence, bytes lost either way, a USB adapter holding bytes until its
// latency timer fires, and the scripted faults. A driver (a pseudo-terminal, an in-memory line,
// an in-process model with a virtual clock) reads the PC's bytes into FromPc and carries out what
// Advance says is due; times are on the driver's own monotonic clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/FaultPlan.h"
#include "sim/IrdReceiver.h"
#include "sim/ReportStore.h"

namespace irdload::sim {

struct SessionOptions {
  std::uint32_t baud = 0;                     ///< pace of both directions; 0: bytes move at once
  std::chrono::microseconds replyLatency{0};  ///< the IRD's turnaround before each reply
  /// A reply the PC leaves unanswered this long is sent again, as many receivers do (every
  /// silence this long, up to kMaxRepeats of one reply); 0: never.
  std::chrono::microseconds repeatAfter{0};
  /// Bytes to the PC are held until the next tick of a free-running timer of this period, as a
  /// USB serial adapter's latency timer holds a short reply; 0: not held.
  std::chrono::microseconds holdTick{0};
  /// Note the PC's first connect request and last terminate answer in Report::timing.
  bool recordTiming = false;
  /// The IRD counts packets by payload bytes: it never asks for a last packet that would carry
  /// none (a payload that is a multiple of 1021 bytes, or empty).
  bool skipsPaddingPacket = false;
};

/// What falls due on the line.
struct LineAction {
  enum class Kind : std::uint8_t {
    Byte,    ///< `byte` reaches the PC now: write it
    HangUp,  ///< the IRD closes the line now and stops
    Stall,   ///< the PC is stalled for `stall` from now (StallPc), as a busy PC would be
  };
  Kind kind = Kind::Byte;
  std::uint8_t byte = 0;
  std::chrono::nanoseconds at{0};
  std::chrono::microseconds stall{0};
};

class IrdSession {
 public:
  using Time = std::chrono::nanoseconds;
  /// One reply is repeated at most this often in a row; then the IRD waits in silence.
  static constexpr int kMaxRepeats = 100;

  /// `plan` and `store` must outlive the session.
  IrdSession(const SessionOptions& timing, const FaultPlan& plan, ReportStore& store);

  /// The PC's bytes, read from the line at `readAt`. On a paced line they arrived one byte time
  /// apart, the first no sooner than one byte time after the previous one.
  void FromPc(const std::uint8_t* data, std::size_t length, Time readAt);
  /// When the next action falls due (a byte, a repeat to decide, a hang-up); nothing: idle.
  std::optional<Time> NextDue() const;
  /// Moves the line to `now`: appends every action due by then, in order.
  void Advance(Time now, std::vector<LineAction>& out);

  /// The receiver's latest decision before any line fault (0 before the first), for models that
  /// tell what the IRD accepted from what the PC heard.
  std::uint8_t lastDecision() const { return lastDecision_; }
  /// How many of the PC's bytes the line lost so far (LoseAnswer, LosePcByte).
  std::uint64_t pcBytesLost() const { return pcBytesLost_; }
  /// How many replies the receiver has decided on so far.
  std::uint64_t decisions() const { return decisions_; }
  /// The line is closed (HangUpAt): nothing more will come.
  bool hungUp() const { return hungUp_; }
  /// When the PC's latest byte has fully arrived (readAt of the last FromPc when unpaced).
  Time pcLineFreeAt() const { return rxLineFreeAt_; }

 private:
  void Reply(std::uint8_t reply, Time trigger);
  Time Queue(LineAction action, Time earliest);
  void NoteTiming(std::uint8_t byte, Time lineStart, Time arrival);
  void RepeatUntil(Time limit);
  Time Held(Time due) const;

  const SessionOptions timing_;
  const FaultPlan& plan_;
  ReportStore& store_;
  IrdReceiver receiver_;
  const std::chrono::nanoseconds byteTime_;

  std::deque<LineAction> pending_;  // due times never decrease
  Time rxLineFreeAt_{0};            // when the PC's latest byte has fully arrived
  Time txLineFreeAt_{0};            // when our latest byte has fully left
  Time lastDue_{0};                 // of the latest action queued
  std::optional<Time> repeatAt_;    // when the last reply goes again, unless the PC speaks first
  int repeats_ = 0;                 // of the last reply, in a row
  std::uint32_t replyIndex_ = 0;
  std::uint64_t pcBytes_ = 0;              // every byte the PC wrote, lost ones included
  std::optional<std::uint32_t> awaiting_;  // the reply whose answer the next PC byte begins
  std::uint8_t lastDecision_ = 0;
  std::uint64_t decisions_ = 0;
  std::uint64_t pcBytesLost_ = 0;
  bool terminateAsked_ = false;  // the last decision was a terminate request (for timing)
  bool silent_ = false;
  bool hungUp_ = false;
};

}  // namespace irdload::sim
