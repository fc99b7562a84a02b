#include "serial/PosixTty.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "serial/PortName.h"

namespace irdload::posix {
namespace {

using Clock = std::chrono::steady_clock;

std::string ErrnoText(int code) {
  char buf[256];
  // GNU strerror_r returns the text, which may not be in buf.
  return ::strerror_r(code, buf, sizeof buf);
}

struct BaudEntry {
  std::uint32_t baud;
  speed_t speed;
};

constexpr BaudEntry kBauds[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000},
    {4000000, B4000000},
};

bool SpeedForBaud(std::uint32_t baud, speed_t& speed) {
  for (const auto& e : kBauds) {
    if (e.baud == baud) {
      speed = e.speed;
      return true;
    }
  }
  return false;
}

}  // namespace

int OpenExclusive(const std::string& path, OsError& err) {
  if (path.empty()) {
    err = {ENOENT, "no such port"};
    return -1;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int code = errno;
    err = {code, path + ": " + ErrnoText(code)};
    return -1;
  }
  if (!::isatty(fd)) {
    ::close(fd);
    err = {ENOTTY, path + " is not a serial port (not a terminal device)"};
    return -1;
  }
  // TIOCEXCL keeps out other openers but not root; the advisory lock keeps out every program
  // that locks its ports too, root included.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    ::close(fd);
    err = code == EWOULDBLOCK ? OsError{EBUSY, path + ": locked by another program"}
                              : OsError{code, path + ": " + ErrnoText(code)};
    return -1;
  }
  ::ioctl(fd, TIOCEXCL);
  return fd;
}

bool ConfigureRaw(int fd, const LineSettings* line, OsError& err) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    err = {errno, "reading the line settings: " + ErrnoText(errno)};
    return false;
  }
  // Bytes must pass unaltered both ways: no line editing, echo, signals or CR/LF translation.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | IUCLC | IMAXBEL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  speed_t speed = 0;
  // A rate this driver has no speed for leaves the port's own in force, and says so.
  const bool known = line != nullptr && SpeedForBaud(line->baud, speed);
  if (known) {
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[line->dataBits - 5];
    if (line->parity != 'N') t.c_cflag |= PARENB;
    if (line->parity == 'O' || line->parity == 'M') t.c_cflag |= PARODD;
    if (line->parity == 'M' || line->parity == 'S') t.c_cflag |= CMSPAR;
    if (line->stopBits == 2) t.c_cflag |= CSTOPB;
    if (line->parity == 'N') t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  }
  int rc;
  do {
    rc = ::tcsetattr(fd, TCSANOW, &t);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    err = {errno, "applying the line settings: " + ErrnoText(errno)};
    return false;
  }
  // tcsetattr succeeds when any one change took; read back to know they all did.
  termios back{};
  if (::tcgetattr(fd, &back) != 0) {
    err = {errno, "reading the line settings back: " + ErrnoText(errno)};
    return false;
  }
  const tcflag_t lmask = ECHO | ICANON | ISIG | IEXTEN;
  const tcflag_t imask = IXON | IXOFF | ICRNL | INLCR | ISTRIP;
  const tcflag_t cmask = CSIZE | PARENB | PARODD | CSTOPB;
  bool same = (back.c_lflag & lmask) == (t.c_lflag & lmask) &&
              (back.c_iflag & imask) == (t.c_iflag & imask) &&
              (back.c_oflag & OPOST) == (t.c_oflag & OPOST);
  if (known) {
    same = same && (back.c_cflag & cmask) == (t.c_cflag & cmask) && ::cfgetospeed(&back) == speed &&
           ::cfgetispeed(&back) == speed;
  }
  if (!same) {
    err = {0, "the driver did not accept every line setting"};
    return false;
  }
  if (line != nullptr && !known) {
    err = {EINVAL, std::to_string(line->baud) + " baud is not a rate this driver knows"};
    return false;
  }
  return true;
}

void PurgeBoth(int fd) {
  ::tcflush(fd, TCIOFLUSH);
}

void PurgeInput(int fd) {
  ::tcflush(fd, TCIFLUSH);
}

bool WriteAllAndDrain(int fd, const std::uint8_t* data, std::size_t len,
                      std::chrono::milliseconds limit, OsError& err) {
  const auto deadline = Clock::now() + limit;
  std::size_t done = 0;
  while (done < len) {
    const ssize_t n = ::write(fd, data + done, len - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      err = {errno, "write: " + ErrnoText(errno)};
      return false;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      err = {ETIMEDOUT, "write: the port took no data (flow control stuck?)"};
      return false;
    }
    pollfd p{fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
      err = {EIO, "write: the line went away (hang-up)"};
      return false;
    }
  }
  // Wait while the driver still holds bytes, bounded, then let tcdrain cover the last few in
  // the UART: a plain tcdrain could wait for ever behind stuck hardware flow control.
  for (;;) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
    if (Clock::now() >= deadline) {
      err = {ETIMEDOUT, "drain: bytes stayed in the output queue (flow control stuck?)"};
      return false;
    }
    const auto nap = std::clamp<long>(queued * 87L, 50L, 2000L);
    std::this_thread::sleep_for(std::chrono::microseconds(nap));
  }
  int rc;
  do {
    rc = ::tcdrain(fd);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    err = {errno, "drain: " + ErrnoText(errno)};
    return false;
  }
  return true;
}

std::size_t ReadAvailable(int fd, std::uint8_t* data, std::size_t len, bool& gone) {
  ssize_t n;
  do {
    n = ::read(fd, data, len);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && MeansDeviceGone(errno)) gone = true;
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

WaitResult WaitReadableUntil(int fd, Clock::time_point deadline) {
  if (fd < 0) {
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch());
    timespec ts{static_cast<time_t>(ns.count() / 1000000000),
                static_cast<long>(ns.count() % 1000000000)};
    // steady_clock is CLOCK_MONOTONIC on Linux.
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
    return WaitResult::TimedOut;
  }
  for (;;) {
    const auto now = Clock::now();
    if (now >= deadline) return WaitResult::TimedOut;
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
    timespec ts{static_cast<time_t>(left.count() / 1000000000),
                static_cast<long>(left.count() % 1000000000)};
    pollfd p{fd, POLLIN, 0};
    const int r = ::ppoll(&p, 1, &ts, nullptr);
    if (r == 0) return WaitResult::TimedOut;
    if (r < 0) {
      if (errno == EINTR) continue;
      return WaitResult::HungUp;
    }
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return WaitResult::HungUp;
    return WaitResult::Readable;
  }
}

bool MeansDeviceGone(int code) {
  return code == EIO || code == ENXIO || code == ENODEV;
}

bool RequestAsyncLowLatency(int fd) {
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
  ss.flags |= ASYNC_LOW_LATENCY;
  return ::ioctl(fd, TIOCSSERIAL, &ss) == 0;
}

void CloseFd(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace irdload::posix

namespace irdload {
namespace {

// One terminal device by path, its descriptor and its termios.
class PosixTty final : public PortDevice {
 public:
  ~PosixTty() override { Close(); }

  bool Open(const std::string& devicePath, OsError& err) override {
    Close();
    fd_ = posix::OpenExclusive(devicePath, err);
    return fd_ >= 0;
  }
  bool isOpen() const override { return fd_ >= 0; }
  bool Configure(const LineSettings* line) override {
    OsError err;
    return posix::ConfigureRaw(fd_, line, err) && line != nullptr;
  }
  void PurgeBoth() override { posix::PurgeBoth(fd_); }
  void PurgeInput() override { posix::PurgeInput(fd_); }
  bool WriteAll(const std::uint8_t* data, std::size_t length, std::chrono::milliseconds limit,
                OsError& err) override {
    if (posix::WriteAllAndDrain(fd_, data, length, limit, err)) return true;
    err.gone = posix::MeansDeviceGone(err.code);
    return false;
  }
  std::size_t ReadWaiting(std::uint8_t* data, std::size_t length, bool& gone) override {
    return posix::ReadAvailable(fd_, data, length, gone);
  }
  WaitResult WaitReadable(Clock::time_point deadline) override {
    return posix::WaitReadableUntil(fd_, deadline);
  }
  bool RequestLowLatency() override { return posix::RequestAsyncLowLatency(fd_); }
  void Close() override {
    posix::CloseFd(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<PortDevice> MakeSystemPortDevice() {
  return std::make_unique<PosixTty>();
}

void TuneSystemIoThread(bool realTime) {
  // Timer slack of 1 µs: the default 50 µs blurs the short waits for a reply. The real-time
  // priority is the lowest one, where this user may have it (RLIMIT_RTPRIO or the capability).
  ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
  if (!realTime) return;
  sched_param param{};
  param.sched_priority = ::sched_get_priority_min(SCHED_FIFO);
  ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param);
}

std::string DevicePathForPortName(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  const std::optional<int> n = ClassicPortNumber(name);
  return n ? "/dev/ttyS" + std::to_string(*n - 1) : std::string();
}

}  // namespace irdload
