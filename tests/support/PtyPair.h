// A pseudo-terminal pair for serial tests: the test plays the far end on the master, the code
// under test opens the slave by path. Both ends raw (a new slave starts in canonical mode).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace irdload::test {

class PtyPair {
 public:
  PtyPair() {
    char name[256];
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    slavePath_ = name;
    // A program the test starts must not hold the line open: closing the master would then
    // hang nothing up.
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
  }
  ~PtyPair() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }
  int slave() const { return slave_; }
  /// Hangs the line up, as an unplugged adapter does.
  void CloseMaster() {
    ::close(master_);
    master_ = -1;
  }
  void CloseSlave() {
    ::close(slave_);
    slave_ = -1;
  }

  void Send(const std::vector<std::uint8_t>& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) throw std::runtime_error("write to master failed");
      done += static_cast<std::size_t>(n);
    }
  }
  /// Reads what the slave side sent: up to `count` bytes, within `bound`.
  std::vector<std::uint8_t> Receive(
      std::size_t count, std::chrono::milliseconds bound = std::chrono::seconds(5)) const {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      std::uint8_t buf[4096];
      const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
  /// Waits until the slave's input queue holds `count` bytes (sent from the master).
  bool WaitQueued(int count, std::chrono::milliseconds bound = std::chrono::seconds(5)) const {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
      int n = 0;
      if (::ioctl(slave_, FIONREAD, &n) == 0 && n >= count) return true;
      ::usleep(200);
    }
    return false;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace irdload::test
