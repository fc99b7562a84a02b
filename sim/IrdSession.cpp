#include "sim/IrdSession.h"

#include <algorithm>

#include "engine/Link.h"
#include "sim/LineClock.h"

namespace irdload::sim {

IrdSession::IrdSession(const SessionOptions& timing, const FaultPlan& plan, ReportStore& store)
    : timing_(timing),
      plan_(plan),
      store_(store),
      receiver_(plan, store, timing.skipsPaddingPacket),
      byteTime_(ByteLineTime(timing.baud)) {}

void IrdSession::FromPc(const std::uint8_t* data, std::size_t length, Time readAt) {
  store_.AppendFromPc(data, length);
  if (timing_.recordTiming) store_.NoteReadFromPc(readAt);
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint64_t index = pcBytes_++;
    Time lineStart = readAt;
    if (byteTime_.count() > 0) {
      // A byte is there only once its line time has passed after the one before it.
      lineStart = std::max(rxLineFreeAt_, readAt);
      rxLineFreeAt_ = lineStart + byteTime_;
    } else {
      rxLineFreeAt_ = readAt;
    }
    const Time arrival = rxLineFreeAt_;
    RepeatUntil(arrival);
    if (silent_ || hungUp_) continue;
    bool lost = false;
    if (awaiting_) {
      if (plan_.Find(FaultKind::LoseAnswer, *awaiting_) != nullptr) {
        store_.CountFault(FaultKind::LoseAnswer);
        lost = true;
      }
      awaiting_.reset();
    }
    if (index <= 0xFFFFFFFFu &&
        plan_.Find(FaultKind::LosePcByte, static_cast<std::uint32_t>(index)) != nullptr) {
      store_.CountFault(FaultKind::LosePcByte);
      lost = true;
    }
    // A byte lost on the line is never heard: the IRD's silence goes on.
    if (lost) {
      ++pcBytesLost_;
      continue;
    }
    if (timing_.recordTiming) NoteTiming(data[i], lineStart, arrival);
    // The PC spoke: the silence that a repeat waits for begins again from here.
    repeatAt_.reset();
    repeats_ = 0;
    if (const std::optional<std::uint8_t> reply = receiver_.Feed(data[i])) {
      lastDecision_ = *reply;
      ++decisions_;
      terminateAsked_ = *reply == CMD_TERMINATE_OK || *reply == CMD_TERMINATE_FAIL;
      Reply(*reply, arrival);
    } else if (timing_.repeatAfter.count() > 0) {
      repeatAt_ = arrival + timing_.repeatAfter;
    }
  }
}

void IrdSession::NoteTiming(std::uint8_t byte, Time lineStart, Time arrival) {
  // Packet data may hold any value, so the commands are told apart by where they stand: the
  // connect request before any reply, the terminate answer right after a terminate request.
  if (byte == CMD_CONNECT_REQ && replyIndex_ == 0) store_.NoteConnectRequest(lineStart);
  if (byte == CMD_TERMINATE_ANSWER && terminateAsked_) {
    store_.NoteTerminateAnswer(arrival);
    terminateAsked_ = false;
  }
}

void IrdSession::Reply(std::uint8_t reply, Time trigger) {
  const std::uint32_t index = replyIndex_++;
  if (plan_.Find(FaultKind::HangUpAt, index) != nullptr) {
    store_.CountFault(FaultKind::HangUpAt);
    Queue({LineAction::Kind::HangUp}, trigger);
    silent_ = true;
    repeatAt_.reset();
    return;
  }
  if (plan_.SilentAt(index)) {
    silent_ = true;
    repeatAt_.reset();
    store_.CountFault(FaultKind::SilentFrom);
    return;
  }
  Time earliest = trigger;
  if (timing_.replyLatency.count() > 0) earliest = trigger + timing_.replyLatency;
  if (const Fault* delay = plan_.Find(FaultKind::DelayReply, index)) {
    store_.CountFault(FaultKind::DelayReply);
    earliest += delay->delay;
  }
  if (const Fault* garbage = plan_.Find(FaultKind::Garbage, index)) {
    store_.CountFault(FaultKind::Garbage);
    for (std::uint32_t i = 0; i < garbage->value; ++i) {
      Queue({LineAction::Kind::Byte, plan_.GarbageByte(index, i)}, earliest);
    }
  }
  awaiting_ = index;
  if (plan_.Find(FaultKind::DropReply, index) != nullptr) {
    // The IRD goes on as if it had been heard, and waits as long as for a reply that went.
    store_.CountFault(FaultKind::DropReply);
    if (timing_.repeatAfter.count() > 0) {
      repeatAt_ = std::max(earliest, lastDue_) + timing_.repeatAfter;
    }
    return;
  }
  std::uint8_t onLine = reply;
  if (const Fault* corrupt = plan_.Find(FaultKind::CorruptReply, index)) {
    store_.CountFault(FaultKind::CorruptReply);
    onLine = static_cast<std::uint8_t>(corrupt->value & 0xFF);
  }
  if (plan_.Find(FaultKind::ClearBit20, index) != nullptr) {
    store_.CountFault(FaultKind::ClearBit20);
    onLine = static_cast<std::uint8_t>(onLine & ~0x20);
  }
  const Time due = Queue({LineAction::Kind::Byte, onLine}, earliest);
  if (timing_.repeatAfter.count() > 0) repeatAt_ = due + timing_.repeatAfter;
  if (const Fault* stall = plan_.Find(FaultKind::StallPc, index)) {
    store_.CountFault(FaultKind::StallPc);
    LineAction action{LineAction::Kind::Stall};
    action.stall = std::chrono::duration_cast<std::chrono::microseconds>(stall->delay);
    Queue(action, due);
  }
}

IrdSession::Time IrdSession::Queue(LineAction action, Time earliest) {
  Time due = std::max(earliest, lastDue_);
  if (action.kind == LineAction::Kind::Byte) {
    if (byteTime_.count() > 0) {
      // The byte reaches the PC only once its own line time is over.
      txLineFreeAt_ = std::max(txLineFreeAt_, earliest) + byteTime_;
      due = std::max(due, txLineFreeAt_);
    }
    due = Held(due);
  }
  action.at = due;
  lastDue_ = due;
  pending_.push_back(action);
  return due;
}

IrdSession::Time IrdSession::Held(Time due) const {
  if (timing_.holdTick.count() <= 0) return due;
  const Time tick = timing_.holdTick;
  return (due + tick - Time{1}) / tick * tick;
}

void IrdSession::RepeatUntil(Time limit) {
  while (repeatAt_ && *repeatAt_ < limit && !silent_ && !hungUp_) {
    const Time at = *repeatAt_;
    repeatAt_.reset();
    if (repeats_ >= kMaxRepeats) return;
    const std::optional<std::uint8_t> reply = receiver_.Repeat();
    if (!reply) return;
    ++repeats_;
    store_.Update([](Report& report) { ++report.repeatsSent; });
    const Time due = Queue({LineAction::Kind::Byte, *reply}, at);
    repeatAt_ = due + timing_.repeatAfter;
  }
}

std::optional<IrdSession::Time> IrdSession::NextDue() const {
  std::optional<Time> next;
  if (!pending_.empty()) next = pending_.front().at;
  if (repeatAt_ && !silent_ && !hungUp_) next = next ? std::min(*next, *repeatAt_) : *repeatAt_;
  return next;
}

void IrdSession::Advance(Time now, std::vector<LineAction>& out) {
  RepeatUntil(now + Time{1});
  while (!pending_.empty() && pending_.front().at <= now) {
    const LineAction action = pending_.front();
    pending_.pop_front();
    out.push_back(action);
    if (action.kind == LineAction::Kind::HangUp) {
      hungUp_ = true;
      pending_.clear();
      repeatAt_.reset();
      return;
    }
  }
}

}  // namespace irdload::sim
