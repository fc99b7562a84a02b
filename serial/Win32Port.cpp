// The Win32 side of PortDevice: a COM port opened for overlapped I/O, with an OVERLAPPED record
// and an event of its own for each direction. The wait for a reply is a one-byte read that the
// driver completes when the byte lands; the byte it takes is kept for the next ReadWaiting. A wait
// that ends first leaves its read pending for the next wait to go on with: a serial read is not
// cancelled reliably everywhere (under wine a cancelled read can block until the next byte,
// which never comes while the PC is the one to speak). Writes complete before WriteAll returns.
#include <windows.h>

#include <algorithm>
#include <optional>

#include "serial/PortDevice.h"
#include "serial/PortName.h"
#include "serial/Win32Error.h"
#include "serial/Win32Text.h"

namespace irdload {
namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kQueueBytes = 4096;  // a whole 1024-byte packet fits in the output queue
// A read asks only for bytes already queued, so it ends at once; this only guards against a
// driver that lost them.
constexpr DWORD kReadGuardMs = 1000;

HANDLE NewEvent() {
  return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void CloseEvent(HANDLE& event) {
  if (event) ::CloseHandle(event);
  event = nullptr;
}

BYTE ParityCode(char letter) {
  switch (letter) {
    case 'O':
      return ODDPARITY;
    case 'E':
      return EVENPARITY;
    case 'M':
      return MARKPARITY;
    case 'S':
      return SPACEPARITY;
    default:
      return NOPARITY;
  }
}

class Win32Port final : public PortDevice {
 public:
  ~Win32Port() override { Close(); }

  bool Open(const std::string& devicePath, OsError& err) override;
  bool isOpen() const override { return port_ != INVALID_HANDLE_VALUE; }
  bool Configure(const LineSettings* line) override;
  void PurgeBoth() override;
  void PurgeInput() override;
  bool WriteAll(const std::uint8_t* data, std::size_t length, std::chrono::milliseconds limit,
                OsError& err) override;
  std::size_t ReadWaiting(std::uint8_t* data, std::size_t length, bool& gone) override;
  WaitResult WaitReadable(Clock::time_point deadline) override;
  bool RequestLowLatency() override;
  void Close() override;

 private:
  // A port that can no longer tell how many bytes it holds has gone (unplugged, or a line that
  // hung up): whatever code the failed call gave, which differs from driver to driver.
  bool Gone() const {
    DWORD errors = 0;
    COMSTAT stat{};
    return !::ClearCommError(port_, &errors, &stat);
  }
  // Clears the port's error state so that later transfers can proceed; the flags are not needed.
  void ClearError() const {
    DWORD errors = 0;
    COMSTAT stat{};
    ::ClearCommError(port_, &errors, &stat);
  }
  // Waits for an overlapped transfer that went pending, at most `limitMs`; a transfer still
  // running then is cancelled and waited out. The count it moved, or nothing with `code`.
  std::optional<DWORD> Finish(OVERLAPPED& ov, DWORD limitMs, DWORD& code);
  // Starts a transfer on `ov` with a fresh event state.
  static void Rearm(OVERLAPPED& ov) {
    ov.Offset = 0;
    ov.OffsetHigh = 0;
    ::ResetEvent(ov.hEvent);
  }

  // Takes the wait's pending read if it has completed; false while it is still pending.
  bool TakePendingRead();

  HANDLE port_ = INVALID_HANDLE_VALUE;
  OVERLAPPED write_{};
  OVERLAPPED read_{};
  // The wait's one-byte read, left pending across calls until a byte completes it.
  bool readPending_ = false;
  std::uint8_t pendingByte_ = 0;
  // A byte the wait's read took off the line before ReadWaiting asked for it.
  std::optional<std::uint8_t> early_;
};

bool Win32Port::TakePendingRead() {
  if (!readPending_) return true;
  if (::WaitForSingleObject(read_.hEvent, 0) != WAIT_OBJECT_0) return false;
  DWORD moved = 0;
  const bool ok = ::GetOverlappedResult(port_, &read_, &moved, FALSE) != 0;
  readPending_ = false;
  if (ok && moved == 1) early_ = pendingByte_;
  return true;
}

std::optional<DWORD> Win32Port::Finish(OVERLAPPED& ov, DWORD limitMs, DWORD& code) {
  if (::WaitForSingleObject(ov.hEvent, limitMs) == WAIT_TIMEOUT) {
    ::CancelIoEx(port_, &ov);
    DWORD moved = 0;
    ::GetOverlappedResult(port_, &ov, &moved, TRUE);
    code = ERROR_TIMEOUT;
    return std::nullopt;
  }
  DWORD moved = 0;
  while (!::GetOverlappedResult(port_, &ov, &moved, TRUE)) {
    code = ::GetLastError();
    if (code != ERROR_IO_INCOMPLETE) return std::nullopt;
  }
  return moved;
}

bool Win32Port::Open(const std::string& devicePath, OsError& err) {
  Close();
  read_ = {};
  write_ = {};
  read_.hEvent = NewEvent();
  write_.hEvent = NewEvent();
  if (!read_.hEvent || !write_.hEvent) {
    const DWORD code = ::GetLastError();
    err = {static_cast<int>(code), "cannot make the port's events: " + WindowsErrorText(code)};
    Close();
    return false;
  }
  const HANDLE port = ::CreateFileW(WideFromUtf8(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    err = {static_cast<int>(code), devicePath + ": " + WindowsErrorText(code)};
    Close();
    return false;
  }
  // Other devices open by such a name too (NUL, CON); only a communications device has a DCB.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port, &dcb)) {
    ::CloseHandle(port);
    err = {0, devicePath + " is not a serial port"};
    Close();
    return false;
  }
  port_ = port;
  ::SetCommMask(port_, EV_RXCHAR);
  ::SetupComm(port_, kQueueBytes, kQueueBytes);
  // Known time-outs, whatever the last program left: none at all. A read asks only for bytes
  // that are there or waits for its one byte as long as the caller's own bound, and a write is
  // bounded by the caller; a write time-out left behind would cut packets short.
  COMMTIMEOUTS timeouts{};
  ::SetCommTimeouts(port_, &timeouts);
  return true;
}

bool Win32Port::Configure(const LineSettings* line) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!isOpen() || !::GetCommState(port_, &dcb)) return false;
  if (line) {
    dcb.BaudRate = line->baud;
    dcb.ByteSize = static_cast<BYTE>(line->dataBits);
    dcb.Parity = ParityCode(line->parity);
    dcb.fParity = line->parity == 'N' ? FALSE : TRUE;
    dcb.StopBits = line->stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  }
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  // Bytes must pass unaltered whatever the last program left: no NULs dropped, no error
  // character put in, and input taken whatever DSR says (as CLOCAL does on Linux). A line error
  // must not stop every later transfer until someone clears it.
  dcb.fBinary = TRUE;
  dcb.fNull = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fAbortOnError = FALSE;
  const bool set = ::SetCommState(port_, &dcb) != 0;
  // SetCommState may succeed with a setting the driver rounded: read back to know.
  DCB back{};
  back.DCBlength = sizeof back;
  if (!::GetCommState(port_, &back)) return false;
  return line && set && back.BaudRate == dcb.BaudRate && back.ByteSize == dcb.ByteSize &&
         back.Parity == dcb.Parity && back.StopBits == dcb.StopBits && !back.fOutX && !back.fInX;
}

void Win32Port::PurgeBoth() {
  early_.reset();
  if (isOpen()) ::PurgeComm(port_, kPurgeAll);
}

void Win32Port::PurgeInput() {
  early_.reset();
  if (isOpen()) ::PurgeComm(port_, PURGE_RXABORT | PURGE_RXCLEAR);
}

bool Win32Port::WriteAll(const std::uint8_t* data, std::size_t length,
                         std::chrono::milliseconds limit, OsError& err) {
  if (!isOpen()) {
    err = {ERROR_INVALID_HANDLE, "write: the port is not open"};
    return false;
  }
  Rearm(write_);
  DWORD code = 0;
  std::optional<DWORD> sent;
  if (::WriteFile(port_, data, static_cast<DWORD>(length), nullptr, &write_)) {
    DWORD moved = 0;
    ::GetOverlappedResult(port_, &write_, &moved, FALSE);
    sent = moved;
  } else {
    code = ::GetLastError();
    if (code == ERROR_IO_PENDING) sent = Finish(write_, static_cast<DWORD>(limit.count()), code);
  }
  if (sent && *sent == length) return true;
  const bool gone = Gone();
  ClearError();
  if (sent) {
    err = {0, "write: " + std::to_string(*sent) + " of " + std::to_string(length) + " bytes left",
           gone};
  } else if (code == ERROR_TIMEOUT) {
    err = {static_cast<int>(code), "write: the port took no data (flow control stuck?)", gone};
  } else {
    err = {static_cast<int>(code), "write: " + WindowsErrorText(code), gone};
  }
  return false;
}

std::size_t Win32Port::ReadWaiting(std::uint8_t* data, std::size_t length, bool& gone) {
  if (!isOpen() || length == 0) return 0;
  // The wait's read is first in the driver's line: nothing else can be read before it completes.
  if (!TakePendingRead()) return 0;
  std::size_t got = 0;
  if (early_) {
    data[got++] = *early_;
    early_.reset();
  }
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(port_, &errors, &stat)) {
    // No count, so no read: it must never ask for more than is waiting.
    gone = true;
    return got;
  }
  const DWORD n = static_cast<DWORD>(std::min<std::size_t>(length - got, stat.cbInQue));
  if (n == 0) return got;
  Rearm(read_);
  DWORD moved = 0;
  if (::ReadFile(port_, data + got, n, nullptr, &read_)) {
    ::GetOverlappedResult(port_, &read_, &moved, FALSE);
    return got + moved;
  }
  DWORD code = ::GetLastError();
  if (code == ERROR_IO_PENDING) {
    if (const std::optional<DWORD> read = Finish(read_, kReadGuardMs, code)) return got + *read;
    // A cancelled read may still have moved some bytes.
    ::GetOverlappedResult(port_, &read_, &moved, FALSE);
  }
  if (Gone()) gone = true;
  ClearError();
  return got + moved;
}

WaitResult Win32Port::WaitReadable(Clock::time_point deadline) {
  if (early_) return WaitResult::Readable;
  if (!isOpen()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() > 0) ::Sleep(static_cast<DWORD>(left.count()));
    return WaitResult::TimedOut;
  }
  if (!readPending_) {
    // With no read time-outs a read of one byte completes when the byte lands: the driver wakes
    // this thread then, and no sooner.
    Rearm(read_);
    DWORD moved = 0;
    if (::ReadFile(port_, &pendingByte_, 1, nullptr, &read_)) {
      if (::GetOverlappedResult(port_, &read_, &moved, FALSE) && moved == 1) {
        early_ = pendingByte_;
        return WaitResult::Readable;
      }
    } else if (::GetLastError() == ERROR_IO_PENDING) {
      readPending_ = true;
    }
    if (!readPending_) {
      if (Gone()) return WaitResult::HungUp;
      ClearError();
      // The read failed on a port that is still there: wait out the bound without spinning.
      const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (rest.count() > 0) ::Sleep(static_cast<DWORD>(std::min<long long>(rest.count(), 10)));
      return WaitResult::TimedOut;
    }
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  const DWORD waitMs = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
  // A wait that ends first leaves the read pending: the next wait goes on with it.
  if (::WaitForSingleObject(read_.hEvent, waitMs) != WAIT_OBJECT_0) return WaitResult::TimedOut;
  TakePendingRead();
  if (early_) return WaitResult::Readable;
  if (Gone()) return WaitResult::HungUp;
  ClearError();
  return WaitResult::TimedOut;
}

bool Win32Port::RequestLowLatency() {
  // Windows keeps an FTDI adapter's latency timer in the device's registry key, which only an
  // administrator may change; nothing is asked of the driver here.
  return false;
}

void Win32Port::Close() {
  early_.reset();
  if (isOpen()) {
    ::SetCommMask(port_, 0);
    if (readPending_) ::CancelIoEx(port_, &read_);
    ::CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    // Closing the handle ends its pending read; the record and its byte are ours until it has.
    if (readPending_) ::WaitForSingleObject(read_.hEvent, 1000);
    readPending_ = false;
  }
  CloseEvent(read_.hEvent);
  CloseEvent(write_.hEvent);
}

}  // namespace

std::unique_ptr<PortDevice> MakeSystemPortDevice() {
  return std::make_unique<Win32Port>();
}

void TuneSystemIoThread(bool realTime) {
  if (realTime) ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

std::string DevicePathForPortName(const std::string& name) {
  // The bare name reaches COM1 to COM9 only; the device namespace reaches every port.
  static const std::string kDevices = "\\\\.\\";
  if (name.rfind(kDevices, 0) == 0) return name;
  const std::optional<int> n = ClassicPortNumber(name);
  return n ? kDevices + "COM" + std::to_string(*n) : std::string();
}

}  // namespace irdload
