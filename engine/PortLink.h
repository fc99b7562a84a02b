// The engine's view of its serial port, so that tests and fuzzers can put a double in its place.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "serial/SerialPort.h"

namespace irdload {

class PortLink {
 public:
  virtual ~PortLink() = default;
  virtual int Open(const std::string& portName, const std::string& mode) = 0;
  virtual void Close() = 0;
  virtual int Write(const void* buffer, std::uint32_t length) = 0;
  virtual int WriteByte(int value) = 0;
  virtual int ReadByte(std::uint8_t& b) = 0;
  virtual OpenFailure LastOpenFailure() const = 0;
  /// True once the open port has reported a hang-up or an I/O error: the adapter is gone.
  virtual bool LineLost() const { return false; }
  /// Discards the bytes waiting now, unread; returns how many there were.
  virtual std::size_t DropWaiting() { return 0; }
  /// Called once on the worker thread before its first transfer.
  virtual void PrepareIoThread() {}
};

/// The real thing: a SerialPort.
class SerialPortLink final : public PortLink {
 public:
  explicit SerialPortLink(std::chrono::milliseconds replyWait = SerialPort::kDefaultReplyWait,
                          ReplyWatch watch = {}, bool realTime = false)
      : port_(replyWait, watch), realTime_(realTime) {}
  int Open(const std::string& portName, const std::string& mode) override {
    return port_.Open(portName, mode);
  }
  void Close() override { port_.Close(); }
  int Write(const void* buffer, std::uint32_t length) override {
    return port_.Write(buffer, length);
  }
  int WriteByte(int value) override { return port_.WriteByte(value); }
  int ReadByte(std::uint8_t& b) override { return port_.ReadByte(b); }
  OpenFailure LastOpenFailure() const override { return port_.lastOpenFailure(); }
  bool LineLost() const override { return port_.lineLost(); }
  std::size_t DropWaiting() override { return port_.DropWaiting(); }
  void PrepareIoThread() override { SerialPort::TuneIoThread(realTime_); }

  /// For what the engine does not need: a trace tap, the settings read back.
  SerialPort& port() { return port_; }

 private:
  SerialPort port_;
  bool realTime_;
};

}  // namespace irdload
