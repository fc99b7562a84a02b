#include "sim/LineClock.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace irdload::sim {

timespec ToTimespec(MonotonicTime t) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(t);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds.count());
  ts.tv_nsec = static_cast<long>((t - seconds).count());
  return ts;
}

MonotonicTime MonotonicNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

std::chrono::nanoseconds ByteLineTime(std::uint32_t baud) {
  if (baud == 0) return std::chrono::nanoseconds{0};
  return std::chrono::nanoseconds{(std::int64_t{10} * 1'000'000'000 + baud / 2) / baud};
}

bool SleepUntil(MonotonicTime deadline, int wakeFd, const std::atomic<bool>& stop) {
  for (;;) {
    if (stop.load(std::memory_order_acquire)) return false;
    const MonotonicTime now = MonotonicNow();
    if (now >= deadline) return true;
    if (wakeFd < 0) {
      const timespec until = ToTimespec(deadline);
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
      continue;
    }
    // EINTR, or a wake that was not a stop, only means "look again": the deadline is absolute.
    const timespec left = ToTimespec(deadline - now);
    pollfd wake{wakeFd, POLLIN, 0};
    ppoll(&wake, 1, &left, nullptr);
  }
}

}  // namespace irdload::sim
