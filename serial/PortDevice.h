// One serial device as the port logic sees it: the narrow interface under SerialPort. The
// operating system's own ports implement it (PosixTty.cpp on Linux, Win32Port.cpp on Windows;
// the build takes exactly one), and so does the in-memory line (MemoryLine.h) that joins the
// engine to a virtual IRD in the same process. Each call does what the port logic needs and no
// more; a failing call carries the system's code and text upward, and nothing here prints.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/LineSettings.h"

namespace irdload {

struct OsError {
  int code = 0;       // errno or GetLastError(); 0 when the failure is not the system's
  std::string text;   // what a person must know to fix it
  bool gone = false;  // the device went away (unplugged, hung up): nothing more will pass
  explicit operator bool() const { return code != 0 || !text.empty(); }
};

enum class WaitResult { Readable, TimedOut, HungUp };

class PortDevice {
 public:
  using Clock = std::chrono::steady_clock;

  /// Closes the device when it is open.
  virtual ~PortDevice() = default;

  /// Opens `devicePath` exclusively for reading and writing, so that no call ever waits for the
  /// line (non-blocking on Linux, overlapped on Windows). False with `err` set: the system's
  /// code and its text; explaining it to the operator is for the layers above.
  virtual bool Open(const std::string& devicePath, OsError& err) = 0;
  virtual bool isOpen() const = 0;

  /// Raw binary line with software flow control off both ways, and `line`'s baud rate, parity,
  /// data and stop bits when given; everything else stays as the port had it. True when `line`
  /// was given, applied, and read back as asked.
  virtual bool Configure(const LineSettings* line) = 0;

  /// Abandons transfers in progress and discards what the driver holds, both directions.
  virtual void PurgeBoth() = 0;
  /// Discards what has arrived and not been read.
  virtual void PurgeInput() = 0;

  /// Writes every byte and returns once they have left, or `limit` has passed (stuck flow
  /// control). False with `err` set; `err.gone` when the device can take no more.
  virtual bool WriteAll(const std::uint8_t* data, std::size_t length,
                        std::chrono::milliseconds limit, OsError& err) = 0;

  /// Reads what is waiting, up to `length` bytes, never asking for more than is there; 0 when
  /// nothing is. `gone` is set when the device reported that it went away.
  virtual std::size_t ReadWaiting(std::uint8_t* data, std::size_t length, bool& gone) = 0;

  /// Sleeps until input is waiting, the line hangs up (the device is gone: do not wait on it
  /// again), or `deadline` passes; a byte that lands ends the wait at once. A device that is
  /// not open just waits.
  virtual WaitResult WaitReadable(Clock::time_point deadline) = 0;

  /// Best effort: asks the driver to pass bytes on at once (ASYNC_LOW_LATENCY). True when it
  /// took; a device without such a setting is no failure.
  virtual bool RequestLowLatency() = 0;

  /// Releases the device; nothing when it is not open.
  virtual void Close() = 0;
};

/// A device of this operating system's own serial ports (PosixTty.cpp or Win32Port.cpp).
std::unique_ptr<PortDevice> MakeSystemPortDevice();

/// Best effort, for the thread that does a port's I/O: short timer waits, and with `realTime`,
/// a higher priority where this user may have it.
void TuneSystemIoThread(bool realTime);

}  // namespace irdload
