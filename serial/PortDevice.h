// The operating system's side of one serial port: the one platform interface under SerialPort.
// PosixTty.cpp implements it on Linux and Win32Port.cpp on Windows; the build takes exactly one.
// Each call does what the port logic needs and no more; a failing call carries the system's code
// and text upward, and nothing here prints.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace irdload {

struct OsError {
  int code = 0;       // errno or GetLastError(); 0 when the failure is not the system's
  std::string text;   // what a person must know to fix it
  bool gone = false;  // the device went away (unplugged, hung up): nothing more will pass
  explicit operator bool() const { return code != 0 || !text.empty(); }
};

/// Line settings as a mode text such as "115200,N,8,1" gives them.
struct LineSettings {
  std::uint32_t baud = 0;  // 0: not known
  char parity = 'N';       // N, E, O, M, S
  int dataBits = 8;        // 5..8
  int stopBits = 1;        // 1 or 2
};

/// Line time of one byte with these settings: start, data, parity and stop bits; 0 when the
/// baud rate is not known.
inline std::chrono::nanoseconds ByteTime(const LineSettings& line) {
  if (line.baud == 0) return std::chrono::nanoseconds(0);
  const int bits = 1 + line.dataBits + (line.parity == 'N' ? 0 : 1) + line.stopBits;
  return std::chrono::nanoseconds(std::int64_t{bits} * 1'000'000'000LL / line.baud);
}

enum class WaitResult { Readable, TimedOut, HungUp };

class PortDevice {
 public:
  using Clock = std::chrono::steady_clock;

  PortDevice();
  /// Closes the device when it is open.
  ~PortDevice();
  PortDevice(const PortDevice&) = delete;
  PortDevice& operator=(const PortDevice&) = delete;

  /// Opens `devicePath` exclusively for reading and writing, so that no call ever waits for the
  /// line (non-blocking on Linux, overlapped on Windows). False with `err` set; its text is
  /// worded for the operator (who holds the port, what to do).
  bool Open(const std::string& devicePath, OsError& err);
  bool isOpen() const;

  /// Raw binary line with software flow control off both ways, and the mode text's baud rate,
  /// parity, data and stop bits when it parses; everything else stays as the port had it.
  /// True when the mode parsed and the settings read back as asked. `applied` gets the mode's
  /// settings when it parsed (baud 0 otherwise).
  bool Configure(const std::string& mode, LineSettings& applied);

  /// Abandons transfers in progress and discards what the driver holds, both directions.
  void PurgeBoth();
  /// Discards what has arrived and not been read.
  void PurgeInput();

  /// Writes every byte and returns once they have left, or `limit` has passed (stuck flow
  /// control). False with `err` set.
  bool WriteAll(const std::uint8_t* data, std::size_t length, std::chrono::milliseconds limit,
                OsError& err);

  /// Reads what is waiting, up to `length` bytes, never asking for more than is there; 0 when
  /// nothing is. `gone` is set when the device reported that it went away.
  std::size_t ReadWaiting(std::uint8_t* data, std::size_t length, bool& gone);

  /// Waits until input is waiting, the line hangs up (the device is gone: do not wait on it
  /// again), or `deadline` passes. On Windows the wait is made of 1 ms pauses, at most one per
  /// millisecond left. A device that is not open just waits.
  WaitResult WaitReadable(Clock::time_point deadline);

  /// Best effort: asks the driver to pass bytes on at once (ASYNC_LOW_LATENCY, the FTDI latency
  /// timer). True when it took; a device without such a setting is no failure.
  bool RequestLowLatency();

  /// Releases the device; nothing when it is not open.
  void Close();

  /// Best effort, for the thread that does a port's I/O: short timer waits, and with
  /// `realTime`, a higher priority where this user may have it.
  static void TuneIoThread(bool realTime);

 private:
  struct Os;  // each platform's handle and records
  std::unique_ptr<Os> os_;
};

}  // namespace irdload
