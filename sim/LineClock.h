// Time on the simulated line: CLOCK_MONOTONIC instants and absolute sleeps, so that paced
// bytes follow a schedule instead of piling up sleep errors.
#pragma once

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace irdload::sim {

// An instant on CLOCK_MONOTONIC, as the time since that clock's origin.
using MonotonicTime = std::chrono::nanoseconds;

MonotonicTime MonotonicNow();

// The same instant for the clock and timer calls.
timespec ToTimespec(MonotonicTime t);

// Line time of one byte: start bit, 8 data bits, stop bit.
std::chrono::nanoseconds ByteLineTime(std::uint32_t baud);

// Sleeps until `deadline` in one wait, which a write to `wakeFd` (an eventfd; -1 for none) cuts
// short when `stop` is set. False when it returned early because `stop` was set.
bool SleepUntil(MonotonicTime deadline, int wakeFd, const std::atomic<bool>& stop);

}  // namespace irdload::sim
