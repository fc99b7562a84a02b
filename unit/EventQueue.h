// A bounded queue of port events between the threads that post them and one reader: progress
// that the reader has not taken yet is replaced by newer progress of the same port (only the
// latest counts), and once the queue is full further events are dropped and counted, so that a
// reader that falls behind never holds up a load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "unit/UnitEvents.h"

namespace irdload::unit {

class EventQueue {
 public:
  explicit EventQueue(std::size_t capacity) : capacity_(capacity) {}

  /// False when the queue was full and the event was dropped.
  bool Push(PortEvent event);
  /// Every waiting event, oldest first; `dropped` gets how many were dropped since the last call.
  std::vector<PortEvent> Take(std::uint64_t* dropped = nullptr);

 private:
  const std::size_t capacity_;
  std::mutex mu_;
  std::deque<PortEvent> events_;
  std::uint64_t dropped_ = 0;
};

/// A sink that stamps each event with its port and the time and queues it.
class QueueSink final : public EventSink {
 public:
  QueueSink(EventQueue& queue, std::size_t port) : queue_(queue), port_(port) {}
  void Post(PortEventBody body) override {
    queue_.Push({port_, std::chrono::system_clock::now(), std::move(body)});
  }

 private:
  EventQueue& queue_;
  const std::size_t port_;
};

}  // namespace irdload::unit
