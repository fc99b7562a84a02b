// One end of a pseudo-terminal line opened by path in raw mode, as a serial port would be;
// closed when the object goes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace irdload::test {

class RawTtyEnd {
 public:
  RawTtyEnd() = default;
  RawTtyEnd(const RawTtyEnd&) = delete;
  RawTtyEnd& operator=(const RawTtyEnd&) = delete;
  ~RawTtyEnd() { Close(); }

  /// `extraFlags` adds to O_RDWR | O_NOCTTY | O_CLOEXEC (O_NONBLOCK, say).
  ::testing::AssertionResult Open(const std::string& path, int extraFlags = 0) {
    Close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | extraFlags);
    if (fd_ < 0) {
      return ::testing::AssertionFailure() << "open " << path << ": " << std::strerror(errno);
    }
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return ::testing::AssertionFailure() << "tcgetattr";
    ::cfmakeraw(&tio);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return ::testing::AssertionFailure() << "tcsetattr";
    return ::testing::AssertionSuccess();
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd() const { return fd_; }

 protected:
  int fd_ = -1;
};

}  // namespace irdload::test
