#include "bench/MeasuredPort.h"

#include <pthread.h>

#include "sim/LineClock.h"

namespace irdload::bench {

MeasuredPort::MeasuredPort(const PortTuningVariant& variant)
    : variant_(variant), inner_(SerialPort::kDefaultReplyWait, variant.watch, variant.realTime) {
  inner_.port().SetTap([this](WireDirection direction, const std::uint8_t* data, std::size_t n) {
    if (direction != WireDirection::FromDevice) return;
    const auto at = sim::MonotonicNow();
    std::lock_guard lk(mu_);
    for (std::size_t i = 0; i < n; ++i) reads_.emplace_back(data[i], at);
  });
}

int MeasuredPort::Open(const std::string& portName, const std::string& mode) {
  return inner_.Open(portName, mode);
}

int MeasuredPort::Write(const void* buffer, std::uint32_t length) {
  SampleCpu();
  return inner_.Write(buffer, length);
}

int MeasuredPort::WriteByte(int value) {
  SampleCpu();
  return inner_.WriteByte(value);
}

void MeasuredPort::PrepareIoThread() {
  if (variant_.tuneThread) inner_.PrepareIoThread();
  std::lock_guard lk(mu_);
  haveClock_ = pthread_getcpuclockid(pthread_self(), &workerClock_) == 0;
}

void MeasuredPort::SampleCpu() {
  std::lock_guard lk(mu_);
  timespec ts{};
  if (haveClock_ && clock_gettime(workerClock_, &ts) == 0) {
    workerCpu_ = std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
  }
}

std::vector<std::pair<std::uint8_t, std::chrono::nanoseconds>> MeasuredPort::reads() const {
  std::lock_guard lk(mu_);
  return reads_;
}

std::chrono::nanoseconds MeasuredPort::workerCpu() const {
  std::lock_guard lk(mu_);
  return workerCpu_;
}

}  // namespace irdload::bench
