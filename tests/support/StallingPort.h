// The engine's real serial port with a PC that stalls: after a chosen reply has been read, the
// worker is held up for a while before it goes on, as on a busy PC.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "engine/PortLink.h"

namespace irdload::test {

class StallingPort final : public PortLink {
 public:
  /// Stalls for `stall` after the `afterReply`-th reply byte read (counted from 0).
  StallingPort(std::chrono::milliseconds replyWait, std::uint32_t afterReply,
               std::chrono::milliseconds stall)
      : inner_(replyWait), afterReply_(afterReply), stall_(stall) {}

  int Open(const std::string& name, const std::string& mode) override {
    return inner_.Open(name, mode);
  }
  void Close() override { inner_.Close(); }
  int Write(const void* buffer, std::uint32_t length) override {
    return inner_.Write(buffer, length);
  }
  int WriteByte(int value) override { return inner_.WriteByte(value); }
  int ReadByte(std::uint8_t& b) override {
    const int got = inner_.ReadByte(b);
    if (got && replies_++ == afterReply_) std::this_thread::sleep_for(stall_);
    return got;
  }
  OpenFailure LastOpenFailure() const override { return inner_.LastOpenFailure(); }
  bool LineLost() const override { return inner_.LineLost(); }
  std::size_t DropWaiting() override { return inner_.DropWaiting(); }
  void PrepareIoThread() override { inner_.PrepareIoThread(); }

 private:
  SerialPortLink inner_;
  const std::uint32_t afterReply_;
  const std::chrono::milliseconds stall_;
  std::uint32_t replies_ = 0;
};

}  // namespace irdload::test
