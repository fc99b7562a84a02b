// The POSIX side of PortDevice: one terminal device opened by path, its descriptor and its
// termios. Every failing call reports errno and its text; nothing here prints. Explaining a
// failure to the operator (who holds the port, which group may open it) is for the layers above
// (ports/PortAdvice.h).
#pragma once

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/PortDevice.h"

namespace irdload::posix {

/// Opens a terminal exclusively for reading and writing: O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
/// an advisory lock (flock) and TIOCEXCL. Returns the descriptor or -1 with `err` set; a port
/// that another program has locked fails with EBUSY.
int OpenExclusive(const std::string& path, OsError& err);

/// Raw binary mode, software flow control off both ways, modem lines ignored for reading,
/// reads never wait (VMIN 0, VTIME 0); applies `line` when given and its rate is one the driver
/// knows. Reads the settings back and reports a mismatch or a rate it left alone.
bool ConfigureRaw(int fd, const LineSettings* line, OsError& err);

/// Discards what the driver holds in both directions.
void PurgeBoth(int fd);
/// Discards what has arrived and not been read.
void PurgeInput(int fd);

/// Writes all bytes (waiting for room as needed, bounded by `limit`), then drains: returns
/// only once the bytes have left. False on any failure, with `err` set.
bool WriteAllAndDrain(int fd, const std::uint8_t* data, std::size_t len,
                      std::chrono::milliseconds limit, OsError& err);

/// Reads what is waiting, up to `len` bytes, without waiting (the descriptor is non-blocking);
/// 0 when nothing is. `gone` is set when the device reported it went away.
std::size_t ReadAvailable(int fd, std::uint8_t* data, std::size_t len, bool& gone);

/// Sleeps until `deadline` on the monotonic clock, or until the descriptor has input, or until
/// it reports a hang-up or an error (the device is gone: the caller must not wait on it again).
/// fd < 0 just sleeps.
WaitResult WaitReadableUntil(int fd, std::chrono::steady_clock::time_point deadline);

/// True for the errno values a device that went away gives (EIO, ENXIO, ENODEV).
bool MeansDeviceGone(int code);

/// Best effort: ASYNC_LOW_LATENCY through TIOCSSERIAL. True when the driver took it; a
/// pseudo-terminal answers ENOTTY, which is not a failure.
bool RequestAsyncLowLatency(int fd);

void CloseFd(int fd);

}  // namespace irdload::posix
