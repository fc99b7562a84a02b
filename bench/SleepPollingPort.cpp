#include "bench/SleepPollingPort.h"

#include <time.h>

#include <cerrno>

namespace irdload::bench {
namespace {

void SleepOneMillisecond() {
  timespec left{0, 1'000'000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace

SleepPollingPort::SleepPollingPort(int readPauses)
    : port_(std::chrono::milliseconds{readPauses}), readPauses_(readPauses < 0 ? 0 : readPauses) {}

int SleepPollingPort::Open(const std::string& portName, const std::string& mode) {
  return port_.Open(portName, mode);
}

void SleepPollingPort::Close() {
  port_.Close();
}

int SleepPollingPort::Write(const void* buffer, std::uint32_t length) {
  return port_.Write(buffer, length);
}

int SleepPollingPort::WriteByte(int value) {
  return port_.WriteByte(value);
}

int SleepPollingPort::ReadByte(std::uint8_t& b) {
  for (int pause = 0;; ++pause) {
    if (port_.Read(&b, 1) == 1) return 1;
    if (pause == readPauses_) return 0;
    SleepOneMillisecond();
  }
}

OpenFailure SleepPollingPort::LastOpenFailure() const {
  return port_.lastOpenFailure();
}

}  // namespace irdload::bench
