// The engine's serial port with what the benchmark needs to see of it: when each reply byte was
// taken from the port, and the worker thread's CPU time. The tuning under test is given at
// construction.
#pragma once

#include <time.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/PortLink.h"

namespace irdload::bench {

struct PortTuningVariant {
  const char* name;
  ReplyWatch watch;
  bool tuneThread;  // timer slack 1 µs on the worker
  bool realTime;    // and the lowest real-time priority
};

class MeasuredPort final : public PortLink {
 public:
  explicit MeasuredPort(const PortTuningVariant& variant);

  int Open(const std::string& portName, const std::string& mode) override;
  void Close() override { inner_.Close(); }
  int Write(const void* buffer, std::uint32_t length) override;
  int WriteByte(int value) override;
  int ReadByte(std::uint8_t& b) override { return inner_.ReadByte(b); }
  OpenFailure LastOpenFailure() const override { return inner_.LastOpenFailure(); }
  bool LineLost() const override { return inner_.LineLost(); }
  std::size_t DropWaiting() override { return inner_.DropWaiting(); }
  void PrepareIoThread() override;

  /// Every byte from the IRD with the moment it was read (CLOCK_MONOTONIC, from its epoch).
  std::vector<std::pair<std::uint8_t, std::chrono::nanoseconds>> reads() const;
  /// The worker's CPU time up to its last write.
  std::chrono::nanoseconds workerCpu() const;

 private:
  void SampleCpu();

  PortTuningVariant variant_;
  SerialPortLink inner_;
  mutable std::mutex mu_;
  std::vector<std::pair<std::uint8_t, std::chrono::nanoseconds>> reads_;
  clockid_t workerClock_{};
  bool haveClock_ = false;
  std::chrono::nanoseconds workerCpu_{0};
};

}  // namespace irdload::bench
