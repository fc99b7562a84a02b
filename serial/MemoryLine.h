// A serial line inside one process: its PC end is a PortDevice of its own (for SerialPort, through
// a DeviceSource), its far end is played by whoever stands in for the device, such as the
// in-process virtual IRD (sim/InMemoryIrd.h). It works the same on every platform. Like a UART, a
// write at the PC end returns once its bytes have had their line time at the settings the PC
// configured; the far end gets them at once, with the moment they were written, and paces its
// own replies.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/PortDevice.h"

namespace irdload {

class MemoryLine : public std::enable_shared_from_this<MemoryLine> {
 public:
  using Clock = std::chrono::steady_clock;

  static std::shared_ptr<MemoryLine> Make() { return std::shared_ptr<MemoryLine>(new MemoryLine); }

  /// A device for the PC's end. Its Open succeeds while no other PC end is open and the line has
  /// not hung up.
  std::unique_ptr<PortDevice> PcEnd();

  // The far end. Any thread.
  /// Waits until the PC has written, `deadline` passes, or the line is shut; moves what the PC
  /// wrote into `out` and gives when it was written (its line time starts then).
  /// False when the line was shut.
  bool TakeFromPc(std::vector<std::uint8_t>& out, Clock::time_point& writtenAt,
                  Clock::time_point deadline);
  /// Bytes that reach the PC now.
  void PutToPc(const std::uint8_t* data, std::size_t length);
  /// The far end goes away, as an unplugged adapter: the PC end reads, waits and writes no more.
  void HangUp();
  /// Ends the far end's waiting for good (its driver is going).
  void Shut();

 private:
  class PcPort;
  MemoryLine() = default;

  std::mutex mu_;
  std::condition_variable toPcReady_;
  std::condition_variable toFarReady_;
  std::deque<std::uint8_t> toPc_;
  std::vector<std::uint8_t> toFar_;
  Clock::time_point toFarWrittenAt_{};
  bool pcOpen_ = false;
  bool hungUp_ = false;
  bool shut_ = false;
};

}  // namespace irdload
