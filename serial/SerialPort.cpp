#include "serial/SerialPort.h"

#include <cerrno>
#include <cstring>

#include "serial/PortName.h"
#include "serial/PosixTty.h"

namespace irdload {

namespace {

// A write must finish within this; the floor covers 1024 bytes at 9600 baud with room to spare.
std::chrono::milliseconds WriteLimit(std::uint32_t length) {
  return std::chrono::milliseconds(2000 + length * 2);
}
}  // namespace

SerialPort::SerialPort(std::chrono::milliseconds replyWait)
    : replyWait_(replyWait.count() < 0 ? std::chrono::milliseconds{0} : replyWait) {}

SerialPort::~SerialPort() {
  if (handle_ == Handle::Open) Close();
}

int SerialPort::Open(std::string portName, std::string mode) {
  if (handle_ == Handle::Open) Close();
  openFailure_ = {};
  lineLost_ = false;
  lowLatency_ = false;
  settingsVerified_ = false;
  devicePath_ = DevicePathForPortName(portName);
  posix::OsError err;
  const int fd = devicePath_.empty() ? -1 : posix::OpenExclusive(devicePath_, err);
  if (devicePath_.empty()) err = {ENOENT, "\"" + portName + "\" names no serial port"};
  if (fd < 0) {
    handle_ = Handle::Failed;
    fd_ = -1;
    openFailure_ = {portName + " Open Error!", err.text};
    return 0;
  }
  fd_ = fd;
  handle_ = Handle::Open;
  posix::PurgeBoth(fd_);
  posix::LineSettings line;
  const bool parsed = posix::ParseMode(mode, line);
  posix::OsError cfg;
  settingsVerified_ = posix::ConfigureRaw(fd_, parsed ? &line : nullptr, cfg) && parsed;
  lowLatency_ = posix::RequestLowLatency(fd_, devicePath_);
  return 1;
}

void SerialPort::Close() {
  if (handle_ != Handle::Open) return;
  posix::PurgeBoth(fd_);
  posix::CloseFd(fd_);
  fd_ = -1;
  // The object keeps a "port" (like a stale handle) so that Write still reports 1.
  handle_ = Handle::Failed;
}

int SerialPort::Write(const void* buffer, std::uint32_t length) {
  if (handle_ == Handle::None) return 0;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (length == 0) length = static_cast<std::uint32_t>(std::strlen(static_cast<const char*>(buffer)));
  if (handle_ != Handle::Open) {
    transferError_ = "the port is not open";
    return 1;
  }
  posix::OsError err;
  if (posix::WriteAllAndDrain(fd_, bytes, length, WriteLimit(length), err)) {
    transferError_.clear();
  } else {
    transferError_ = err.text;
    if (posix::MeansDeviceGone(err.code)) lineLost_ = true;
  }
  // The bytes went out as far as the caller can tell; a failed transfer shows up as a missing
  // reply, which the engine already handles.
  if (tap_) tap_(WireDirection::ToDevice, bytes, length);
  return 1;
}

std::uint32_t SerialPort::Read(void* buffer, std::uint32_t maxLength) {
  if (handle_ != Handle::Open || maxLength == 0) return 0;
  const long waiting = posix::BytesWaiting(fd_);
  if (waiting <= 0) return 0;
  const std::uint32_t n = static_cast<std::uint32_t>(waiting) < maxLength
                              ? static_cast<std::uint32_t>(waiting)
                              : maxLength;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::size_t got = posix::ReadWaiting(fd_, bytes, n);
  if (got > 0 && tap_) tap_(WireDirection::FromDevice, bytes, got);
  return static_cast<std::uint32_t>(got);
}

int SerialPort::ReadByte(std::uint8_t& b) {
  std::uint8_t rx = 0;
  if (Read(&rx, 1) == 1) {
    b = rx;
    return 1;
  }
  // The pauses run back to back, so they are waited out as one: a byte ends the wait the moment
  // it lands, and an empty line costs one wake-up instead of one per millisecond. A line that
  // hung up ends it too: no byte can come, and the caller must hear so at once.
  const auto deadline = std::chrono::steady_clock::now() + replyWait_;
  while (std::chrono::steady_clock::now() < deadline) {
    const posix::WaitResult waited = posix::WaitReadableUntil(fd_, deadline);
    if (Read(&rx, 1) == 1) {
      b = rx;
      return 1;
    }
    if (waited == posix::WaitResult::HungUp) {
      lineLost_ = true;
      return 0;
    }
  }
  return 0;
}

int SerialPort::WriteByte(int value) {
  const std::uint8_t byte = static_cast<std::uint8_t>(value & 0xFF);
  return Write(&byte, 1);
}

}  // namespace irdload
