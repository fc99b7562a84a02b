#include "sim/LineClock.h"

#include <time.h>

#include <algorithm>
#include <cerrno>

namespace irdload::sim {
namespace {

// Long enough not to spin, short enough that a stop is seen at once by a person.
constexpr std::chrono::milliseconds kStopCheckInterval{5};

}  // namespace

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

bool SleepUntil(MonotonicTime deadline, const std::atomic<bool>& stop) {
  for (;;) {
    if (stop.load(std::memory_order_acquire)) return false;
    const MonotonicTime now = MonotonicNow();
    if (now >= deadline) return true;
    const timespec until = ToTimespec(std::min<MonotonicTime>(deadline, now + kStopCheckInterval));
    // EINTR only means "look again"; the deadline is absolute, so nothing drifts.
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
  }
}

}  // namespace irdload::sim
