#include "serial/MemoryLine.h"

#include <algorithm>
#include <thread>

namespace irdload {

// The PC's end: exclusive while open, paced on write, woken by the far end's bytes.
class MemoryLine::PcPort final : public PortDevice {
 public:
  explicit PcPort(std::shared_ptr<MemoryLine> line) : line_(std::move(line)) {}
  ~PcPort() override { Close(); }

  bool Open(const std::string& devicePath, OsError& err) override {
    Close();
    std::lock_guard lk(line_->mu_);
    if (line_->hungUp_ || line_->shut_) {
      err = {0, devicePath + ": the virtual IRD is not running", true};
      return false;
    }
    if (line_->pcOpen_) {
      err = {0, devicePath + ": already open"};
      return false;
    }
    line_->pcOpen_ = true;
    open_ = true;
    return true;
  }
  bool isOpen() const override { return open_; }
  bool Configure(const LineSettings* line) override {
    byteTime_ = line ? ByteTime(*line) : std::chrono::nanoseconds(0);
    return open_ && line != nullptr;
  }
  void PurgeBoth() override { PurgeInput(); }
  void PurgeInput() override {
    std::lock_guard lk(line_->mu_);
    line_->toPc_.clear();
  }
  bool WriteAll(const std::uint8_t* data, std::size_t length, std::chrono::milliseconds,
                OsError& err) override {
    const auto now = Clock::now();
    {
      std::lock_guard lk(line_->mu_);
      if (!open_ || line_->hungUp_) {
        err = {0, "write: the line went away (hang-up)", true};
        return false;
      }
      // The far end reads every write before the next (writes return after their line time),
      // so a write finds the far end's buffer empty unless it is still catching up.
      if (line_->toFar_.empty()) line_->toFarWrittenAt_ = std::max(now, lineFreeAt_);
      line_->toFar_.insert(line_->toFar_.end(), data, data + length);
    }
    line_->toFarReady_.notify_all();
    // As a UART's drain: the call returns once the bytes have left at the line's rate.
    lineFreeAt_ = std::max(now, lineFreeAt_) + byteTime_ * static_cast<std::int64_t>(length);
    std::this_thread::sleep_until(lineFreeAt_);
    return true;
  }
  std::size_t ReadWaiting(std::uint8_t* data, std::size_t length, bool& gone) override {
    std::lock_guard lk(line_->mu_);
    if (!open_) return 0;
    const std::size_t n = std::min(length, line_->toPc_.size());
    std::copy_n(line_->toPc_.begin(), n, data);
    line_->toPc_.erase(line_->toPc_.begin(), line_->toPc_.begin() + static_cast<std::ptrdiff_t>(n));
    if (n == 0 && line_->hungUp_) gone = true;
    return n;
  }
  WaitResult WaitReadable(Clock::time_point deadline) override {
    std::unique_lock lk(line_->mu_);
    if (!open_) {
      lk.unlock();
      std::this_thread::sleep_until(deadline);
      return WaitResult::TimedOut;
    }
    line_->toPcReady_.wait_until(lk, deadline,
                                 [&] { return !line_->toPc_.empty() || line_->hungUp_; });
    if (!line_->toPc_.empty()) return WaitResult::Readable;
    return line_->hungUp_ ? WaitResult::HungUp : WaitResult::TimedOut;
  }
  bool RequestLowLatency() override { return true; }
  void Close() override {
    if (!open_) return;
    std::lock_guard lk(line_->mu_);
    line_->pcOpen_ = false;
    open_ = false;
  }

 private:
  std::shared_ptr<MemoryLine> line_;
  bool open_ = false;
  std::chrono::nanoseconds byteTime_{0};
  Clock::time_point lineFreeAt_{};
};

std::unique_ptr<PortDevice> MemoryLine::PcEnd() {
  return std::make_unique<PcPort>(shared_from_this());
}

bool MemoryLine::TakeFromPc(std::vector<std::uint8_t>& out, Clock::time_point& writtenAt,
                            Clock::time_point deadline) {
  std::unique_lock lk(mu_);
  toFarReady_.wait_until(lk, deadline, [&] { return !toFar_.empty() || shut_; });
  if (shut_) return false;
  out.clear();
  out.swap(toFar_);
  writtenAt = toFarWrittenAt_;
  return true;
}

void MemoryLine::PutToPc(const std::uint8_t* data, std::size_t length) {
  {
    std::lock_guard lk(mu_);
    if (hungUp_) return;
    toPc_.insert(toPc_.end(), data, data + length);
  }
  toPcReady_.notify_all();
}

void MemoryLine::HangUp() {
  {
    std::lock_guard lk(mu_);
    hungUp_ = true;
  }
  toPcReady_.notify_all();
}

void MemoryLine::Shut() {
  {
    std::lock_guard lk(mu_);
    shut_ = true;
  }
  toFarReady_.notify_all();
  HangUp();
}

}  // namespace irdload
