// The Win32 side of PortDevice: a COM port opened for overlapped I/O, with an OVERLAPPED record
// and an event of its own for each direction, and a never-signalled event whose 1 ms waits are
// the pauses of a read. Every transfer is complete (or cancelled and complete) before a call
// returns, so no I/O is ever left pending on the handle.
#include <windows.h>

#include <algorithm>
#include <optional>

#include "serial/PortDevice.h"
#include "serial/PortName.h"
#include "serial/Win32Error.h"

namespace irdload {
namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kQueueBytes = 4096;  // a whole 1024-byte packet fits in the output queue
// A read asks only for bytes already queued, so it ends at once; this only guards against a
// driver that lost them.
constexpr DWORD kReadGuardMs = 1000;

HANDLE NewEvent() {
  return ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void CloseEvent(HANDLE& event) {
  if (event) ::CloseHandle(event);
  event = nullptr;
}

// What an adapter that went away gives: a closed pseudo-terminal under wine (ERROR_NOT_READY),
// an unplugged USB adapter (the others, depending on its driver).
bool MeansDeviceGone(DWORD code) {
  switch (code) {
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_ACCESS_DENIED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

std::string OpenHint(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "; no such port on this PC (irdload-cli ports lists them)";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "; another program may have the port open";
    default:
      return "";
  }
}

char ParityLetter(BYTE parity) {
  switch (parity) {
    case ODDPARITY:
      return 'O';
    case EVENPARITY:
      return 'E';
    case MARKPARITY:
      return 'M';
    case SPACEPARITY:
      return 'S';
    default:
      return 'N';
  }
}

// Clears the port's error state so that later transfers can proceed; the flags are not needed.
void ClearError(HANDLE port) {
  DWORD errors = 0;
  COMSTAT stat{};
  ::ClearCommError(port, &errors, &stat);
}

}  // namespace

struct PortDevice::Os {
  HANDLE port = INVALID_HANDLE_VALUE;
  OVERLAPPED write{};
  OVERLAPPED read{};
  HANDLE pause = NewEvent();  // never signalled: a 1 ms wait on it is a 1 ms pause
  bool fineTimer = false;     // timeBeginPeriod(1) in force while the port is open

  ~Os() { CloseEvent(pause); }
  bool open() const { return port != INVALID_HANDLE_VALUE; }

  // Waits for an overlapped transfer that went pending, at most `limit`; a transfer still
  // running then is cancelled and waited out. The count it moved, or nothing with `code`.
  std::optional<DWORD> Finish(OVERLAPPED& ov, DWORD limitMs, DWORD& code) {
    if (::WaitForSingleObject(ov.hEvent, limitMs) == WAIT_TIMEOUT) {
      ::CancelIoEx(port, &ov);
      DWORD moved = 0;
      ::GetOverlappedResult(port, &ov, &moved, TRUE);
      code = ERROR_TIMEOUT;
      return std::nullopt;
    }
    DWORD moved = 0;
    while (!::GetOverlappedResult(port, &ov, &moved, TRUE)) {
      code = ::GetLastError();
      if (code != ERROR_IO_INCOMPLETE) return std::nullopt;
    }
    return moved;
  }
};

PortDevice::PortDevice() : os_(std::make_unique<Os>()) {}

PortDevice::~PortDevice() {
  Close();
}

bool PortDevice::Open(const std::string& devicePath, OsError& err) {
  Close();
  Os& os = *os_;
  os.read = {};
  os.write = {};
  os.read.hEvent = NewEvent();
  os.write.hEvent = NewEvent();
  if (!os.read.hEvent || !os.write.hEvent) {
    const DWORD code = ::GetLastError();
    err = {static_cast<int>(code), "cannot make the port's events: " + WindowsErrorText(code)};
    Close();
    return false;
  }
  const HANDLE port = ::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    err = {static_cast<int>(code), devicePath + ": " + WindowsErrorText(code) + OpenHint(code)};
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
  os.port = port;
  ::SetCommMask(port, EV_RXCHAR);
  ::SetupComm(port, kQueueBytes, kQueueBytes);
  // The pauses of a read are 1 ms each only with the finer timer; the default tick is 15.6 ms.
  os.fineTimer = ::timeBeginPeriod(1) == TIMERR_NOERROR;
  return true;
}

bool PortDevice::isOpen() const {
  return os_->open();
}

bool PortDevice::Configure(const std::string& mode, LineSettings& applied) {
  applied = {};
  Os& os = *os_;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!os.open() || !::GetCommState(os.port, &dcb)) return false;
  // A mode that does not build leaves the port's own line settings in force.
  const bool built = ::BuildCommDCBA(mode.c_str(), &dcb) != 0;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  // Bytes must pass unaltered whatever the last program left: no NULs dropped, no error
  // character put in, and input taken whatever DSR says (as CLOCAL does on Linux).
  dcb.fBinary = TRUE;
  dcb.fNull = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fDsrSensitivity = FALSE;
  const bool set = ::SetCommState(os.port, &dcb) != 0;
  if (built) {
    applied.baud = dcb.BaudRate;
    applied.parity = ParityLetter(dcb.Parity);
    applied.dataBits = dcb.ByteSize;
    applied.stopBits = dcb.StopBits == ONESTOPBIT ? 1 : 2;
  }
  // SetCommState may succeed with a setting the driver rounded: read back to know.
  DCB back{};
  back.DCBlength = sizeof back;
  if (!::GetCommState(os.port, &back)) return false;
  return built && set && back.BaudRate == dcb.BaudRate && back.ByteSize == dcb.ByteSize &&
         back.Parity == dcb.Parity && back.StopBits == dcb.StopBits && !back.fOutX && !back.fInX;
}

void PortDevice::PurgeBoth() {
  if (os_->open()) ::PurgeComm(os_->port, kPurgeAll);
}

void PortDevice::PurgeInput() {
  if (os_->open()) ::PurgeComm(os_->port, PURGE_RXABORT | PURGE_RXCLEAR);
}

bool PortDevice::WriteAll(const std::uint8_t* data, std::size_t length,
                          std::chrono::milliseconds limit, OsError& err) {
  Os& os = *os_;
  if (!os.open()) {
    err = {ERROR_INVALID_HANDLE, "write: the port is not open"};
    return false;
  }
  os.write.Offset = 0;
  os.write.OffsetHigh = 0;
  ::ResetEvent(os.write.hEvent);
  DWORD code = 0;
  std::optional<DWORD> sent;
  if (::WriteFile(os.port, data, static_cast<DWORD>(length), nullptr, &os.write)) {
    DWORD moved = 0;
    ::GetOverlappedResult(os.port, &os.write, &moved, FALSE);
    sent = moved;
  } else {
    code = ::GetLastError();
    if (code == ERROR_IO_PENDING)
      sent = os.Finish(os.write, static_cast<DWORD>(limit.count()), code);
  }
  if (sent && *sent == length) return true;
  ClearError(os.port);
  if (sent) {
    err = {0, "write: " + std::to_string(*sent) + " of " + std::to_string(length) +
                  " bytes left (the port's write time-out ran out)"};
  } else if (code == ERROR_TIMEOUT) {
    err = {static_cast<int>(code), "write: the port took no data (flow control stuck?)"};
  } else {
    err = {static_cast<int>(code), "write: " + WindowsErrorText(code), MeansDeviceGone(code)};
  }
  return false;
}

std::size_t PortDevice::ReadWaiting(std::uint8_t* data, std::size_t length, bool& gone) {
  Os& os = *os_;
  if (!os.open() || length == 0) return 0;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(os.port, &errors, &stat)) {
    // No count, so no read: it must never ask for more than is waiting.
    if (MeansDeviceGone(::GetLastError())) gone = true;
    return 0;
  }
  const DWORD n = static_cast<DWORD>(std::min<std::size_t>(length, stat.cbInQue));
  if (n == 0) return 0;
  os.read.Offset = 0;
  os.read.OffsetHigh = 0;
  ::ResetEvent(os.read.hEvent);
  DWORD got = 0;
  if (::ReadFile(os.port, data, n, nullptr, &os.read)) {
    ::GetOverlappedResult(os.port, &os.read, &got, FALSE);
    return got;
  }
  DWORD code = ::GetLastError();
  if (code == ERROR_IO_PENDING) {
    if (const std::optional<DWORD> read = os.Finish(os.read, kReadGuardMs, code)) return *read;
    // A cancelled read may still have moved some bytes.
    ::GetOverlappedResult(os.port, &os.read, &got, FALSE);
  }
  ClearError(os.port);
  if (MeansDeviceGone(code)) gone = true;
  return got;
}

WaitResult PortDevice::WaitReadable(Clock::time_point deadline) {
  Os& os = *os_;
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return WaitResult::TimedOut;
  // One pause per millisecond left at most, however short a pause the timer makes.
  auto pauses = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  for (;;) {
    if (os.open()) {
      DWORD errors = 0;
      COMSTAT stat{};
      if (!::ClearCommError(os.port, &errors, &stat)) {
        // A hung-up line fails at once, every time: waiting on would only spin.
        if (MeansDeviceGone(::GetLastError())) return WaitResult::HungUp;
      } else if (stat.cbInQue > 0) {
        return WaitResult::Readable;
      }
    }
    if (pauses-- <= 0 || Clock::now() >= deadline) return WaitResult::TimedOut;
    if (!os.pause || ::WaitForSingleObject(os.pause, 1) == WAIT_FAILED) ::Sleep(1);
  }
}

bool PortDevice::RequestLowLatency() {
  // Windows keeps an FTDI adapter's latency timer in the device's registry key, which only an
  // administrator may change; nothing is asked of the driver here.
  return false;
}

void PortDevice::Close() {
  Os& os = *os_;
  if (os.open()) {
    ::SetCommMask(os.port, 0);
    ::CloseHandle(os.port);
    os.port = INVALID_HANDLE_VALUE;
  }
  if (os.fineTimer) ::timeEndPeriod(1);
  os.fineTimer = false;
  CloseEvent(os.read.hEvent);
  CloseEvent(os.write.hEvent);
}

void PortDevice::TuneIoThread(bool realTime) {
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
