#include "serial/SerialPort.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "serial/PortName.h"

namespace irdload {

namespace {

// A write must finish within this; the floor covers 1024 bytes at 9600 baud with room to spare.
std::chrono::milliseconds WriteLimit(std::uint32_t length) {
  return std::chrono::milliseconds(2000 + length * 2);
}
}  // namespace

SerialPort::SerialPort(std::chrono::milliseconds replyWait, ReplyWatch watch)
    : replyWait_(replyWait.count() < 0 ? std::chrono::milliseconds{0} : replyWait), watch_(watch) {}

SerialPort::~SerialPort() {
  if (handle_ == Handle::Open) Close();
}

int SerialPort::Open(std::string portName, std::string mode) {
  if (handle_ == Handle::Open) Close();
  openFailure_ = {};
  lineLost_ = false;
  lowLatency_ = false;
  settingsVerified_ = false;
  device_ = source_ ? source_(portName) : nullptr;
  devicePath_ = device_ ? portName : DevicePathForPortName(portName, devRoot_);
  if (!device_) device_ = MakeSystemPortDevice();
  OsError err;
  OpenFailureReason reason;
  reason.portName = portName;
  reason.devicePath = devicePath_;
  if (devicePath_.empty()) {
    err.text = "\"" + portName + "\" names no serial port";
    reason.kind = OpenFailureKind::NotAPortName;
  } else if (device_->Open(devicePath_, err)) {
    handle_ = Handle::Open;
  } else {
    reason.code = err.code;
    reason.systemText = err.text;
    // The device gives the system's reason; the layers above know who holds the port and what
    // to do about it.
    if (auto explained = advice_.explainOpenFailure ? advice_.explainOpenFailure(devicePath_, err)
                                                    : std::nullopt) {
      err.text = std::move(explained->text);
      reason = std::move(explained->reason);
      reason.portName = portName;
    }
  }
  if (handle_ != Handle::Open) {
    handle_ = Handle::Failed;
    device_.reset();
    openFailure_ = {portName + " Open Error!", err.text, std::move(reason)};
    return 0;
  }
  device_->PurgeBoth();
  const std::optional<LineSettings> line = ParseMode(mode);
  settingsVerified_ = device_->Configure(line ? &*line : nullptr);
  byteTime_ = line ? ByteTime(*line) : std::chrono::nanoseconds(0);
  replyDue_.reset();
  // Both ways, whatever the first gives: drivers differ in which one they honour.
  lowLatency_ = device_->RequestLowLatency();
  if (advice_.lowerLatency && advice_.lowerLatency(devicePath_)) lowLatency_ = true;
  return 1;
}

void SerialPort::Close() {
  if (handle_ != Handle::Open) return;
  // Every write has drained, so the output holds nothing a purge should abandon, unless the
  // last one got stuck; on a pseudo-terminal a purge would even take the last bytes back from
  // the other end before it read them.
  if (transferError_.empty()) {
    device_->PurgeInput();
  } else {
    device_->PurgeBoth();
  }
  device_->Close();
  device_.reset();
  // The object keeps a "port" (like a stale handle) so that Write still reports 1.
  handle_ = Handle::Failed;
}

int SerialPort::Write(const void* buffer, std::uint32_t length) {
  if (handle_ == Handle::None) return 0;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (length == 0)
    length = static_cast<std::uint32_t>(std::strlen(static_cast<const char*>(buffer)));
  if (handle_ != Handle::Open) {
    transferError_ = "the port is not open";
    return 1;
  }
  OsError err;
  const auto started = std::chrono::steady_clock::now();
  if (device_->WriteAll(bytes, length, WriteLimit(length), err)) {
    transferError_.clear();
  } else {
    transferError_ = err.text;
    if (err.gone) lineLost_ = true;
  }
  // The bytes went out as far as the caller can tell; a failed transfer shows up as a missing
  // reply, which the engine already handles.
  if (tap_) tap_(WireDirection::ToDevice, bytes, length);
  // An answer can land no sooner than these bytes' line time and its own after the write began
  // (a pseudo-terminal takes the bytes at once; a UART's drain has already waited them out).
  if (byteTime_.count() > 0) {
    replyDue_ = std::max(std::chrono::steady_clock::now(),
                         started + byteTime_ * (std::int64_t{length} + 1));
  }
  return 1;
}

std::uint32_t SerialPort::Read(void* buffer, std::uint32_t maxLength) {
  if (handle_ != Handle::Open || maxLength == 0) return 0;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  // The descriptor never blocks: a read takes what is waiting, up to maxLength, and no more.
  bool gone = false;
  const std::size_t got = device_->ReadWaiting(bytes, maxLength, gone);
  if (gone) lineLost_ = true;
  if (got > 0 && tap_) tap_(WireDirection::FromDevice, bytes, got);
  return static_cast<std::uint32_t>(got);
}

int SerialPort::ReadByte(std::uint8_t& b) {
  std::uint8_t rx = 0;
  const auto take = [&] {
    if (Read(&rx, 1) != 1) return false;
    b = rx;
    replyDue_.reset();
    return true;
  };
  if (take()) return 1;
  if (lineLost_) return 0;
  // The pauses run back to back, so they are waited out as one: a byte ends the wait the moment
  // it lands, and an empty line costs one wake-up instead of one per millisecond. A line that
  // hung up ends it too: no byte can come, and the caller must hear so at once.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + replyWait_;
  if (replyDue_ && watch_.after.count() > 0) {
    const auto open = std::min(*replyDue_ - watch_.before, deadline);
    const auto close = std::min(*replyDue_ + watch_.after, deadline);
    replyDue_.reset();  // one window per write
    if (Clock::now() < open && WaitFor(open) == WaitResult::HungUp) {
      lineLost_ = true;
      return 0;
    }
    while (Clock::now() < close) {
      if (take()) return 1;
      if (lineLost_) return 0;
    }
  }
  while (Clock::now() < deadline) {
    const WaitResult waited = WaitFor(deadline);
    if (take()) return 1;
    if (waited == WaitResult::HungUp || lineLost_) {
      lineLost_ = true;
      return 0;
    }
  }
  return 0;
}

WaitResult SerialPort::WaitFor(std::chrono::steady_clock::time_point deadline) {
  if (device_) return device_->WaitReadable(deadline);
  // No port: the bound is waited out all the same, as a silent line's would be.
  std::this_thread::sleep_until(deadline);
  return WaitResult::TimedOut;
}

std::size_t SerialPort::DropWaiting() {
  if (handle_ != Handle::Open) return 0;
  std::size_t dropped = 0;
  std::uint8_t chunk[256];
  for (;;) {
    bool gone = false;
    const std::size_t got = device_->ReadWaiting(chunk, sizeof chunk, gone);
    if (gone) lineLost_ = true;
    if (got == 0) break;
    if (tap_) tap_(WireDirection::StaleFromDevice, chunk, got);
    dropped += got;
    if (got < sizeof chunk) break;
  }
  return dropped;
}

void SerialPort::TuneIoThread(bool realTime) {
  TuneSystemIoThread(realTime);
}

int SerialPort::WriteByte(int value) {
  const std::uint8_t byte = static_cast<std::uint8_t>(value & 0xFF);
  return Write(&byte, 1);
}

}  // namespace irdload
