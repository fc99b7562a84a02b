// The line's clock on Windows, for the in-memory line's IRD: the steady clock, which is what the
// in-memory line measures with. Absolute sleeps on a wake descriptor are the pseudo-terminal's,
// which Windows does not have.
#include <chrono>

#include "sim/LineClock.h"

namespace irdload::sim {

timespec ToTimespec(MonotonicTime t) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(t);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds.count());
  ts.tv_nsec = static_cast<long>((t - seconds).count());
  return ts;
}

MonotonicTime MonotonicNow() {
  return std::chrono::duration_cast<MonotonicTime>(
      std::chrono::steady_clock::now().time_since_epoch());
}

std::chrono::nanoseconds ByteLineTime(std::uint32_t baud) {
  if (baud == 0) return std::chrono::nanoseconds{0};
  return std::chrono::nanoseconds{(std::int64_t{10} * 1'000'000'000 + baud / 2) / baud};
}

}  // namespace irdload::sim
