// The naive port design, for comparison only: ReadByte looks for a byte, and when none is
// there sleeps a plain 1 ms before looking again, instead of waiting on the descriptor.
#pragma once

#include "engine/PortLink.h"

namespace irdload::bench {

class SleepPollingPort final : public PortLink {
 public:
  explicit SleepPollingPort(int readPauses = 50);

  int Open(const std::string& portName, const std::string& mode) override;
  void Close() override;
  int Write(const void* buffer, std::uint32_t length) override;
  int WriteByte(int value) override;
  // Same bound as SerialPort::ReadByte: an attempt, then up to readPauses sleeps each followed
  // by an attempt; but a sleep never ends early when a byte lands.
  int ReadByte(std::uint8_t& b) override;
  OpenFailure LastOpenFailure() const override;

 private:
  SerialPort port_;
  const int readPauses_;
};

}  // namespace irdload::bench
