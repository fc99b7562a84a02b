// One serial port, opened exclusively and configured from a mode text such as "115200,N,8,1",
// which is parsed here, once, into the LineSettings that the device applies. Results follow the
// classic convention: 1 for success, 0 for failure, a count for Read.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serial/OpenFailureReason.h"
#include "serial/PortDevice.h"

namespace irdload {

/// Why the last Open failed: `message` is the operator's text ("COM3 Open Error!"), `detail`
/// the operating system's reason worded in English for the person who must fix it, and `reason`
/// the same as values, for a front end that words it in another language.
struct OpenFailure {
  std::string message;
  std::string detail;
  OpenFailureReason reason = {};
};

/// An open failure as the layers above explain it: its kind with the values a sentence needs,
/// and that sentence in English.
struct ExplainedOpenFailure {
  OpenFailureReason reason = {};
  std::string text;
};

enum class WireDirection {
  ToDevice,
  FromDevice,
  StaleFromDevice,  ///< arrived unasked before a write, and dropped unread (DropWaiting)
};

/// What the layers above the port add to it, both optional (ports/PortAdvice.h gives this
/// system's own): the operator's words for an open that failed (who holds the port, which group
/// may open it), and a way to ask a driver for quick replies that the device alone does not have
/// (the FTDI latency timer in sysfs).
struct PortAdvice {
  /// Why an open of `devicePath` failed with `err`; nothing keeps `err.text`, unexplained.
  std::function<std::optional<ExplainedOpenFailure>(const std::string& devicePath,
                                                    const OsError& err)>
      explainOpenFailure;
  /// True when the driver now passes bytes on at once.
  std::function<bool(const std::string& devicePath)> lowerLatency;
};

/// Devices other than the system's ports for some port names (an in-memory line): the device
/// that `portName` opens, or null when the name is for the system's ports.
using DeviceSource = std::function<std::unique_ptr<PortDevice>(const std::string& portName)>;

/// How ReadByte waits where a reply is due: around the moment a reply should land (one line time
/// after the last write, plus the reply's own) it can look without sleeping for a short window,
/// in case a sleeping thread's wake-up costs more than the reply's own line time. Off by
/// default: on this kind of machine the wake-up took about 10 µs more than a busy look, against
/// a line time of 87 µs a byte, while the window cost 0.2% of a core (the benchmark's
/// side-by-side rows keep measuring it).
struct ReplyWatch {
  std::chrono::microseconds before{50};  ///< how early the window opens
  std::chrono::microseconds after{0};    ///< how long it stays open; 0: never look busily
};

class SerialPort {
 public:
  /// Observer of every byte that leaves or arrives, for traces. Called on the I/O thread.
  using Tap = std::function<void(WireDirection, const std::uint8_t*, std::size_t)>;

  /// ReadByte's bound: 50 pauses of 1 ms after the first attempt.
  static constexpr std::chrono::milliseconds kDefaultReplyWait{50};

  /// `replyWait` bounds ReadByte: the pauses after its first attempt, in whole milliseconds.
  explicit SerialPort(std::chrono::milliseconds replyWait = kDefaultReplyWait,
                      ReplyWatch watch = {});
  virtual ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  /// Opens "COMn" (/dev/ttyS<n-1> on Linux, \\.\COMn on Windows), a device path, or a name
  /// the device source knows. 0 on failure, with lastOpenFailure() set; a mode text that does
  /// not parse leaves the line settings as they were and still gives 1.
  int Open(std::string portName, std::string mode);
  /// Purges both directions and releases the port; nothing when never opened.
  void Close();
  /// Sends `length` bytes (0: the NUL-terminated text in buffer) and returns once they have
  /// left. 0 only when no port was ever opened; a failed transfer still gives 1.
  int Write(const void* buffer, std::uint32_t length);
  /// Reads at most `maxLength` of the bytes already waiting; never waits.
  std::uint32_t Read(void* buffer, std::uint32_t maxLength);
  /// One byte within the bound: an attempt, then up to replyWait of 1 ms pauses, which end early
  /// when a byte lands (or the line is lost). 1 with `b` set, or 0 with `b` untouched.
  int ReadByte(std::uint8_t& b);
  /// Sends the low 8 bits of `value`; the result of Write.
  int WriteByte(int value);
  /// Reads and discards every byte waiting now, never waiting for more; the tap sees them as
  /// StaleFromDevice. Returns how many there were.
  std::size_t DropWaiting();

  const OpenFailure& lastOpenFailure() const { return openFailure_; }
  /// The OS reason of the last failed transfer, empty when the last one went through.
  const std::string& lastTransferError() const { return transferError_; }
  /// True when the driver accepted a low-latency request at the last Open.
  bool lowLatency() const { return lowLatency_; }
  bool isOpen() const { return handle_ == Handle::Open; }
  /// The device path of the port last opened (or tried).
  const std::string& devicePath() const { return devicePath_; }
  /// True when the last Open applied the mode and read the settings back unchanged.
  bool settingsVerified() const { return settingsVerified_; }
  std::chrono::milliseconds replyWait() const { return replyWait_; }
  /// True once the open port reported a hang-up or an I/O error (the adapter went away); cleared
  /// by the next Open.
  bool lineLost() const { return lineLost_; }

  void SetTap(Tap tap) { tap_ = std::move(tap); }
  /// Takes effect at the next Open.
  void SetAdvice(PortAdvice advice) { advice_ = std::move(advice); }
  /// Takes effect at the next Open.
  void SetDeviceSource(DeviceSource source) { source_ = std::move(source); }
  /// Where "COMn" names are looked for instead of /dev (a test's fake tree). Takes effect at
  /// the next Open.
  void SetDeviceRoot(std::filesystem::path root) { devRoot_ = std::move(root); }

  /// Tunes the calling thread for this port's I/O (short timer slack; with `realTime`, a
  /// real-time priority where allowed). Best effort; call from the thread that reads and writes.
  static void TuneIoThread(bool realTime = false);

 private:
  // A port never opened, an open one, and one whose last open failed: only the first counts as
  // "no port" for Write's result.
  enum class Handle { None, Open, Failed };

  WaitResult WaitFor(std::chrono::steady_clock::time_point deadline);

  Handle handle_ = Handle::None;
  std::unique_ptr<PortDevice> device_;  // of the last Open; null before it and after Close
  std::chrono::milliseconds replyWait_;
  ReplyWatch watch_;
  std::chrono::nanoseconds byteTime_{0};  // of the line settings in force; 0 when unknown
  std::optional<std::chrono::steady_clock::time_point> replyDue_;
  bool lineLost_ = false;
  bool lowLatency_ = false;
  bool settingsVerified_ = false;
  std::string devicePath_;
  OpenFailure openFailure_;
  std::string transferError_;
  Tap tap_;
  PortAdvice advice_;
  DeviceSource source_;
  std::filesystem::path devRoot_ = "/dev";
};

}  // namespace irdload
