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
#include <sstream>
#include <thread>
#include <vector>

#include "serial/PortDiagnostics.h"
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

std::string Trim(std::string s) {
  const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
  s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
  return s;
}

}  // namespace

bool ParseMode(const std::string& mode, LineSettings& out) {
  std::vector<std::string> parts;
  std::stringstream in(mode);
  for (std::string part; std::getline(in, part, ',');) parts.push_back(Trim(part));
  if (parts.size() != 4) return false;
  LineSettings line;
  char* end = nullptr;
  errno = 0;
  const unsigned long baud = std::strtoul(parts[0].c_str(), &end, 10);
  speed_t speed;
  if (parts[0].empty() || *end != '\0' || errno != 0 || baud > UINT32_MAX ||
      !SpeedForBaud(static_cast<std::uint32_t>(baud), speed)) {
    return false;
  }
  line.baud = static_cast<std::uint32_t>(baud);
  if (parts[1].size() != 1) return false;
  line.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
  if (std::string("NEOMS").find(line.parity) == std::string::npos) return false;
  if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8') return false;
  line.dataBits = parts[2][0] - '0';
  if (parts[3] != "1" && parts[3] != "2") return false;
  line.stopBits = parts[3][0] - '0';
  out = line;
  return true;
}

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
  if (line) {
    SpeedForBaud(line->baud, speed);
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
  if (line) {
    same = same && (back.c_cflag & cmask) == (t.c_cflag & cmask) && ::cfgetospeed(&back) == speed &&
           ::cfgetispeed(&back) == speed;
  }
  if (!same) {
    err = {0, "the driver did not accept every line setting"};
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

struct PortDevice::Os {
  int fd = -1;
  std::string path;  // as opened: the FTDI latency timer is found from it
};

PortDevice::PortDevice() : os_(std::make_unique<Os>()) {}

PortDevice::~PortDevice() {
  Close();
}

bool PortDevice::Open(const std::string& devicePath, OsError& err) {
  Close();
  const int fd = posix::OpenExclusive(devicePath, err);
  if (fd < 0) {
    const std::string why = ExplainOpenFailure(devicePath, err.code);
    if (!why.empty()) err.text = why;
    return false;
  }
  os_->fd = fd;
  os_->path = devicePath;
  return true;
}

bool PortDevice::isOpen() const {
  return os_->fd >= 0;
}

bool PortDevice::Configure(const std::string& mode, LineSettings& applied) {
  LineSettings line;
  const bool parsed = posix::ParseMode(mode, line);
  applied = parsed ? line : LineSettings{};
  OsError err;
  return posix::ConfigureRaw(os_->fd, parsed ? &line : nullptr, err) && parsed;
}

void PortDevice::PurgeBoth() {
  posix::PurgeBoth(os_->fd);
}

void PortDevice::PurgeInput() {
  posix::PurgeInput(os_->fd);
}

bool PortDevice::WriteAll(const std::uint8_t* data, std::size_t length,
                          std::chrono::milliseconds limit, OsError& err) {
  if (posix::WriteAllAndDrain(os_->fd, data, length, limit, err)) return true;
  err.gone = posix::MeansDeviceGone(err.code);
  return false;
}

std::size_t PortDevice::ReadWaiting(std::uint8_t* data, std::size_t length, bool& gone) {
  return posix::ReadAvailable(os_->fd, data, length, gone);
}

WaitResult PortDevice::WaitReadable(Clock::time_point deadline) {
  return posix::WaitReadableUntil(os_->fd, deadline);
}

bool PortDevice::RequestLowLatency() {
  // Both ways, whatever the first gives: drivers differ in which one they honour.
  const bool asyncLowLatency = posix::RequestAsyncLowLatency(os_->fd);
  return LowerFtdiLatencyTimer(os_->path) || asyncLowLatency;
}

void PortDevice::Close() {
  posix::CloseFd(os_->fd);
  os_->fd = -1;
}

void PortDevice::TuneIoThread(bool realTime) {
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
