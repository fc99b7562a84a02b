// Signals as a descriptor (SIGINT and SIGTERM unless told others): blocked in this thread and
// every thread started after, and read through a signalfd, so that an event loop polls them
// beside its other descriptors.
#pragma once

#include <signal.h>

#include <initializer_list>

namespace irdload::cli {

class SignalFd {
 public:
  /// Inactive: no signal is touched and fd() is -1 (tests run commands in their own process).
  explicit SignalFd(bool active, std::initializer_list<int> signals = {SIGINT, SIGTERM});
  /// Closes the descriptor and restores the mask.
  ~SignalFd();
  SignalFd(const SignalFd&) = delete;
  SignalFd& operator=(const SignalFd&) = delete;

  int fd() const { return fd_; }
  /// How many signals arrived since the last call.
  int Take();

 private:
  int fd_ = -1;
  sigset_t set_{}, old_{};
};

}  // namespace irdload::cli
